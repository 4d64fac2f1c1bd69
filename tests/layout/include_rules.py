#!/usr/bin/env python3
"""The layering of the folders, checked on every include: a folder may include
only the folders its row names (its own always), the Qt-free ones include no
Qt header, and only the two faces that draw include a widget header.
Usage: include_rules.py SOURCE_DIR; prints each breach and exits 1 on any."""
import pathlib
import re
import sys

# Rows in the order of docs/architecture.md: each may use only rows above it.
MAY_USE = {
    "base": [],
    "codec": ["base"],
    "timeline": ["base", "codec"],
    "sequences": ["base", "codec"],
    "serial/device": ["base"],
    "capture": ["base", "serial/device"],
    "samples": ["base", "serial/device"],
    "serial/store": ["base"],
    "serial/error": ["base"],
    "serial/ports": ["base", "serial/error", "serial/device"],
    "serial/port": ["base", "serial/error", "serial/device", "serial/ports", "serial/store"],
    "transfer": ["base", "codec"],
    "serial_controls": ["base", "serial/port", "serial/ports", "serial/error", "serial/device"],
    "runner": ["base", "codec", "timeline", "sequences", "capture", "samples", "serial/device", "serial/store",
               "serial/error", "serial/ports", "serial/port", "transfer"],
    "app": ["base", "codec", "timeline", "sequences", "capture", "samples", "serial/device", "serial/store",
            "serial/error", "serial/ports", "serial/port", "serial_controls"],
}
QT_FREE = {"codec", "timeline", "sequences", "serial/device", "capture", "samples", "serial/store", "serial/error",
           "transfer"}
MAY_DRAW = {"serial_controls", "app"}
WIDGET_HEADERS = re.compile(r"#include <(QtWidgets/|Q(Widget|Dialog|Abstract(Button|ItemView|ScrollArea)|"
                            r"Push|Label|Combo|MainWindow|Application|MessageBox|List(View|Widget)|"
                            r"CheckBox|LineEdit|Layout|HBox|VBox|Grid|Menu|Action|Style|Tab))")
PROJECT_INCLUDE = re.compile(r'#include "([a-z_]+(?:/[a-z_]+)?)/')


def room_of(relative):
    text = relative.as_posix()
    for room in sorted(MAY_USE, key=len, reverse=True):
        if text.startswith(room + "/"):
            return room
    return None


def folder_of_include(target):
    for room in sorted(MAY_USE, key=len, reverse=True):
        if target == room or target.startswith(room + "/"):
            return room
    return target


def breaches(root):
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or "build" in path.relative_to(root).parts[:1]:
            continue
        relative = path.relative_to(root)
        room = room_of(relative)
        if room is None:
            continue
        allowed = set(MAY_USE[room]) | {room}
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            where = f"{relative}:{number}"
            match = PROJECT_INCLUDE.match(line)
            if match and folder_of_include(match.group(1)) not in allowed:
                yield f"{where}: {room}/ may not include {match.group(1)}/"
            if room in QT_FREE and line.startswith("#include <Q"):
                yield f"{where}: {room}/ is Qt-free"
            if room not in MAY_DRAW and WIDGET_HEADERS.match(line):
                yield f"{where}: only {', '.join(sorted(MAY_DRAW))} may include widget headers"


def main():
    found = list(breaches(pathlib.Path(sys.argv[1])))
    for line in found:
        print(line)
    print(f"include rules: {len(found)} breach(es)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
