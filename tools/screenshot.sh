#!/usr/bin/env bash
# Starts the real program on a virtual X display (Xvfb) and saves a picture
# of its window as PNG.
#   tools/screenshot.sh [OUTPUT.png [PAGE [ARGUMENT...]]]
# PAGE is the page of the page control to show, 0 ("Rx 1", the default) to 8
# ("Line"); the ARGUMENTs go to the program (e.g. --open-capture FILE). The
# program is $TARVIK2, else build/release/bin/tarvik2 (what tools/dev.sh run
# builds). TARVIK_SCREENSHOT_WINDOW=PlotWindow takes the plot window instead
# (with --plot). Needs xvfb-run (package xvfb) and xauth.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:-tarvik2.png}")
page=${2:-0}

exe=${TARVIK2:-}
for candidate in "$here/build/release/bin/tarvik2"; do
  [ -n "$exe" ] && break
  [ -x "$candidate" ] && exe=$candidate
done
if [ -z "$exe" ] || [ ! -x "$exe" ]; then
  echo "screenshot: no tarvik2 built; run bash tools/dev.sh run first" >&2
  exit 1
fi

rm -f "$out"
# The program saves its window once it has been exposed and painted, then quits.
TARVIK_SCREENSHOT="$out" TARVIK_SCREENSHOT_PAGE="$page" QT_QPA_PLATFORM=xcb \
  timeout 60 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$exe" "${@:3}"
if [ ! -s "$out" ]; then
  echo "screenshot: no picture was written" >&2
  exit 1
fi
echo "$out"
