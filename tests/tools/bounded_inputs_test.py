"""Every program's file readers against inputs that have no end or no size a
reader may trust: /dev/zero, a FIFO without a writer, a FIFO whose writer
never writes (refused 0.8 s after it was opened), a 1 GB sparse file and a
folder. Each is refused (exit 2) with a
message naming the file, in bounded time and memory. The times and peak
memory are printed; the memory is asserted (it does not depend on the load
of the machine), the time only against a hang."""

import os
import resource
import subprocess
import sys
import tempfile
import time
import unittest

RUN, SIM, WINDOW = sys.argv[1], sys.argv[2], sys.argv[3]
del sys.argv[1:4]

PEAK_LIMIT_KB = 200 * 1024
HANG_S = 20  # only a reader that waits without end comes near this


def measure(command):
    """(exit status, stderr, seconds, peak resident KiB) of the command."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ASAN_OPTIONS="detect_leaks=0")
    start = time.monotonic()
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, env=env)
    deadline = start + HANG_S
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            child.kill()
            pid, status, usage = os.wait4(child.pid, 0)
            break
        time.sleep(0.01)
    seconds = time.monotonic() - start
    stderr = child.stderr.read().decode("utf-8", "replace")
    child.stderr.close()
    child.returncode = os.waitstatus_to_exitcode(status)
    return child.returncode, stderr, seconds, usage.ru_maxrss


class BoundedInputsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def inputs(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        held = self.path("held.fifo")
        os.mkfifo(held)
        # A writer that holds the FIFO open and never writes.
        reader_end = os.open(held, os.O_RDONLY | os.O_NONBLOCK)
        writer_end = os.open(held, os.O_WRONLY)
        self.addCleanup(os.close, reader_end)
        self.addCleanup(os.close, writer_end)
        sparse = self.path("sparse")
        with open(sparse, "wb") as f:
            f.truncate(10 ** 9)
        folder = self.path("folder")
        os.mkdir(folder)
        return {"/dev/zero": "/dev/zero", "FIFO": fifo, "held FIFO": held,
                "1 GB sparse": sparse, "folder": folder}

    def test_every_reader_refuses_in_bounded_time_and_memory(self):
        readers = {
            "tarvik2-run --script": lambda f: [RUN, "--script", f, "/dev/null"],
            "tarvik2-run --history": lambda f: [RUN, "--history", f, "/dev/null"],
            "tarvik-sim --replay": lambda f: [SIM, "--replay", f],
            "tarvik2 --open-capture": lambda f: [WINDOW, "--open-capture", f],
        }
        rows = []
        for input_name, file in self.inputs().items():
            for reader, command in readers.items():
                with self.subTest(reader=reader, input=input_name):
                    status, stderr, seconds, peak_kb = measure(command(file))
                    rows.append(f"{reader:24} {input_name:12} exit {status:3} "
                                f"{seconds * 1000:7.0f} ms {peak_kb / 1024:6.1f} MiB")
                    self.assertEqual(status, 2, stderr)
                    self.assertIn(file, stderr)
                    self.assertLess(seconds, HANG_S, stderr)
                    self.assertLess(peak_kb, PEAK_LIMIT_KB, stderr)
                    if input_name == "held FIFO":
                        # Refused within a second of opening it, the start included
                        # where the machine is not loaded (the times printed).
                        self.assertIn("Nothing came from it for 800 ms", stderr)
                    if input_name == "folder":
                        self.assertIn("It is a folder, not a file.", stderr)
                        self.assertNotIn("basic_filebuf", stderr)
        print("\n".join(["", "reader                   input        status    time     peak"]
                        + rows))


if __name__ == "__main__":
    unittest.main()
