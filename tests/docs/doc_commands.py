#!/usr/bin/env python3
"""Every command quoted in README.md and docs/*.md works from a fresh clone:
each program it names is built (or is a benchmark target or a script of the
repository), each switch is one the program accepts, each repository path
exists, no path leads out of the repository, and each build folder is one
that a documented command makes. The runner's and the simulator's commands
are also run, against the simulator, where their files are in the repository.
The layout table of README.md names every folder that builds.
Usage: doc_commands.py SOURCE_DIR BIN_DIR; prints each fault and exits 1 on any."""
import os
import pathlib
import re
import shlex
import subprocess
import sys
import tempfile

FACES = {"tarvik2", "tarvik2-run", "tarvik-sim"}
# Words that start a command and hand the rest to another program.
WRAPPERS = {"sudo", "env", "exec", "nice", "time", "bash", "sh", "xvfb-run", "timeout"}
SEPARATORS = {"|", "||", "&&", ";", "&"}
SWITCH = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")
PTY = re.compile(r"^/dev/pts/\d+$")
SHELL_FENCES = {"", "sh", "bash", "shell", "console"}


class Docs:
    def __init__(self, root, bin_dir):
        self.root = root
        self.bin_dir = bin_dir
        self.faults = []
        self.helps = {}
        self.targets, self.cache_options = self.read_cmake()
        self.bench_targets = set(re.findall(r"add_executable\((\w+)",
                                            (root / "bench/CMakeLists.txt").read_text()))
        # tools/dev.sh builds these; a documented `cmake -B build/X` adds X.
        self.build_dirs = {"release", "asan", "fuzz", "tsan"}

    def read_cmake(self):
        targets, options = {"all"}, set()
        for path in self.root.rglob("CMakeLists.txt"):
            if path.relative_to(self.root).parts[0] == "build":
                continue
            text = path.read_text(errors="replace")
            targets |= set(re.findall(r"add_(?:executable|library|custom_target)\(([\w-]+)", text))
            targets |= set(re.findall(r"tarvik_add_(?:g|q)test\(([\w-]+)", text))
            options |= set(re.findall(r"option\((\w+)", text))
            options |= set(re.findall(r"set\((\w+)[^)]*CACHE", text))
        return targets, options

    def fault(self, where, text):
        self.faults.append(f"{where}: {text}")

    # --- Reading the documents.

    def documents(self):
        yield self.root / "README.md"
        yield from sorted((self.root / "docs").rglob("*.md"))

    def commands(self, path):
        """(line number, command text, whole line?) of every code block line
        and of every inline code span that starts with a program of ours."""
        lines = path.read_text().splitlines()
        fence = None
        pending = ""
        previous_blank = True
        in_indented = False
        for number, line in enumerate(lines, 1):
            stripped = line.strip()
            if stripped.startswith("```"):
                fence = None if fence is not None else stripped[3:].strip().lower()
                continue
            if fence is not None:
                if fence in SHELL_FENCES:
                    pending = yield from self.joined(number, pending, line)
                continue
            in_indented = line.startswith("    ") and (in_indented or previous_blank)
            previous_blank = not stripped
            if in_indented and stripped:
                pending = yield from self.joined(number, pending, line)
                continue
            for span in re.findall(r"`([^`]+)`", line):
                yield number, span, False

    @staticmethod
    def joined(number, pending, line):
        text = pending + line.strip()
        if text.endswith("\\"):
            return text[:-1] + " "
        yield number, text, True
        return ""

    # --- Checking one command.

    def check_document(self, path):
        where = path.relative_to(self.root)
        text = path.read_text()
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"^(https?:|mailto:|#)", target):
                continue
            resolved = (path.parent / target.split("#")[0]).resolve()
            if not resolved.is_relative_to(self.root.resolve()):
                self.fault(where, f"link {target} leads out of the repository")
            elif not resolved.exists():
                self.fault(where, f"link {target} names nothing")
        for number, command, whole in self.commands(path):
            self.check_command(f"{where}:{number}", command, whole)

    def check_command(self, where, command, whole):
        try:
            words = shlex.split(command, comments=True)
        except ValueError as error:
            if whole:
                self.fault(where, f"cannot read `{command}`: {error}")
            return
        words = [w.strip("()") for w in words]
        for word in words:
            self.check_path(where, word)
        simple = []
        for word in words + [";"]:
            if word in SEPARATORS:
                if simple:
                    self.check_simple(where, simple, whole)
                simple = []
            else:
                simple.append(word)

    def check_path(self, where, word):
        for path in re.findall(r"(?:^|[=\s])((?:\.\./|/work/|/path/to/)\S*)", word):
            self.fault(where, f"{path} points out of the repository")
        for folder in re.findall(r"(?:^|[=/\s$]|\bPWD/)build/([\w.-]+)", word):
            if folder not in self.build_dirs:
                self.fault(where, f"build/{folder} is made by no command of the docs or dev.sh")
        if re.search(r"[<>*\[\]${}]", word) or "/" not in word or word.startswith("/"):
            return
        word = re.sub(r"(:\d+)+$|#.*$", "", word)  # a line number, an anchor
        first = word.split("/")[0]
        if first in ("build", ".", "") or not (self.root / first).is_dir():
            return
        if not (self.root / word).exists():
            self.fault(where, f"{word} does not exist")

    def check_simple(self, where, words, whole):
        while words and (re.match(r"^[A-Z_]+=", words[0]) or words[0] in WRAPPERS
                         or words[0].startswith("-") or re.match(r"^\d+$", words[0])):
            words = words[1:]
        if not words:
            return
        program, arguments = words[0], words[1:]
        name = program.rsplit("/", 1)[-1]
        if program == "cmake":
            self.check_cmake(where, arguments)
        elif program == "man":
            for page in arguments:
                if not page.startswith("-") and "/" not in page and \
                        not (self.root / "man" / f"{page}.1").exists():
                    self.fault(where, f"man {page}: no man/{page}.1")
        elif name in FACES or re.match(r"^build/[\w.-]+/bin/", program):
            self.check_ours(where, name, arguments, whole)
        elif "/" in program and not program.startswith("/") and (self.root / program).is_file():
            self.check_switches(where, program, arguments, (self.root / program).read_text())

    def check_cmake(self, where, arguments):
        for i, word in enumerate(arguments):
            option = re.match(r"^-D(TARVIK_\w+)", word)
            if option and option.group(1) not in self.cache_options:
                self.fault(where, f"cmake -D{option.group(1)}: no such option")
            if word == "--target":
                for target in arguments[i + 1:]:
                    if target.startswith("-"):
                        break
                    if target not in self.targets:
                        self.fault(where, f"cmake --target {target}: no such target")

    def check_ours(self, where, name, arguments, whole):
        built = self.bin_dir / name
        if built.is_file():
            self.check_switches(where, name, arguments, self.help_of(built))
            if whole:
                self.run(where, name, arguments)
        elif name in self.bench_targets:
            source = self.root / "bench" / f"{name}.cpp"
            self.check_switches(where, name, arguments,
                                source.read_text() if source.exists() else "")
        else:
            self.fault(where, f"{name} is not a program of the build")

    def help_of(self, program):
        if program not in self.helps:
            done = subprocess.run([str(program), "--help"], capture_output=True, text=True,
                                  timeout=60, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            self.helps[program] = done.stdout
        return self.helps[program]

    def check_switches(self, where, name, arguments, accepted_text):
        accepted = set(SWITCH.findall(accepted_text))
        if accepted:  # it answered --help, or its source reads switches
            accepted |= {"--help", "-h"}
        for word in arguments:
            if word == "--":
                break
            if re.match(r"^-\d", word) or not word.startswith("-") or word == "-":
                continue
            switch = word.split("=", 1)[0]
            # A source names a switch with its dashes or, for Qt's parser, without.
            if switch not in accepted and f'"{switch.lstrip("-")}"' not in accepted_text:
                self.fault(where, f"{name} does not take {switch}")

    # --- Running the cheap ones against the simulator.

    def run(self, where, name, arguments):
        files = [a for a in arguments if "/" in a and not a.startswith("/")]
        if name == "tarvik-sim":
            if "--link" in arguments or any(not (self.root / f).exists() for f in files):
                return
            if any(a in ("--replay",) for a in arguments):
                return
            self.run_simulator(where, arguments)
        elif name == "tarvik2-run" and any(PTY.match(a) for a in arguments):
            if any(not (self.root / f).exists() for f in files):
                return
            self.run_runner(where, arguments)

    def start_simulator(self, arguments):
        sim = subprocess.Popen([str(self.bin_dir / "tarvik-sim"), *arguments],
                               stdout=subprocess.PIPE, text=True)
        return sim, sim.stdout.readline().strip()

    def run_simulator(self, where, arguments):
        sim, pty = self.start_simulator(arguments)
        if not pty.startswith("/dev/"):
            self.fault(where, f"tarvik-sim {' '.join(arguments)} printed no pty")
        sim.terminate()
        if sim.wait(timeout=30) != 0:
            self.fault(where, f"tarvik-sim {' '.join(arguments)} ended with {sim.returncode}")

    def run_runner(self, where, arguments):
        sim, pty = self.start_simulator(["--reply", "\\x06OK"])
        try:
            with tempfile.TemporaryDirectory() as scratch:
                given = [pty if PTY.match(a) else
                         str(self.root / a) if (self.root / a).exists() and "/" in a else a
                         for a in arguments]
                done = subprocess.run([str(self.bin_dir / "tarvik2-run"), *given], cwd=scratch,
                                      capture_output=True, text=True, timeout=120)
                if done.returncode != 0:
                    self.fault(where, f"tarvik2-run {' '.join(arguments)} ended with "
                                      f"{done.returncode}: {done.stderr.strip()}")
        finally:
            sim.terminate()
            sim.wait(timeout=30)


def check_folder_table(docs):
    """The layout table of README.md names every folder that builds
    something (itself, or a folder above it; a folder that only groups others
    is named through them)."""
    guide = docs.root / "README.md"
    listed = set(re.findall(r"^\| `([\w/.-]+?)/?` \|", guide.read_text(), re.M))
    for cmake in docs.root.rglob("CMakeLists.txt"):
        folder = cmake.parent.relative_to(docs.root)
        if not folder.parts or folder.parts[0] in ("build", "tests"):
            continue
        name = folder.as_posix()
        named = any(name == row or name.startswith(row + "/") for row in listed)
        grouping = any(row.startswith(name + "/") for row in listed)
        if not (named or grouping):
            docs.fault("README.md", f"the layout table does not name {name}/")


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    docs = Docs(root, pathlib.Path(sys.argv[2]).resolve())
    checked = 0
    for path in docs.documents():  # first the build folders the docs make
        for _, command, _ in docs.commands(path):
            docs.build_dirs |= set(re.findall(r"-B\s*build/([\w.-]+)", command))
    for path in docs.documents():
        docs.check_document(path)
        checked += 1
    check_folder_table(docs)
    for fault in docs.faults:
        print(fault)
    print(f"{checked} documents, {len(docs.faults)} faults")
    return 1 if docs.faults else 0


if __name__ == "__main__":
    sys.exit(main())
