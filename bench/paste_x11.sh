#!/bin/bash
# The release program on Xvfb, driven as a user would with X key events from
# xdotool: `xclip` holds a long command line (default 2 MiB) as the clipboard,
# a click into the command line, Ctrl+V, then Ctrl+A and Ctrl+C, and the text
# read back from the program's clipboard with xclip. Printed: the time from
# Ctrl+V until the text came back (whole or not), and the program's CPU time
# for it and for the 2 s of idling that follow (its cursor blinks).
# Needs xvfb, xauth, xclip and xdotool, and a release build:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTARVIK_BENCH=ON -DTARVIK_TESTS=OFF
#   cmake --build build/bench -j2 --target tarvik2
# Usage: bench/paste_x11.sh [BYTES] [PROGRAM]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
bytes=${1:-2097152}
program=${2:-$here/build/bench/bin/tarvik2}

if [ -z "${PASTE_X11_INNER:-}" ]; then
  PASTE_X11_INNER=1 exec xvfb-run -a "$0" "$bytes" "$program"
fi

work=$(mktemp -d)
trap 'kill "$app" 2>/dev/null; rm -rf "$work"' EXIT
# Tokens of the notation, "0x00 0x01 ... ", cut to the size.
awk -v n="$bytes" 'BEGIN { while (length(s) < n) { s = s sprintf("0x%02X ", i % 256); i++ }
                          printf "%s", substr(s, 1, n) }' >"$work/text"

QT_QPA_PLATFORM=xcb "$program" /dev/null 2>"$work/stderr" &
app=$!
wid=
for _ in $(seq 100); do
  wid=$(xdotool search --onlyvisible --name "Tarvik 2" 2>/dev/null | head -1) && [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 0.5
xdotool windowfocus --sync "$wid"
xdotool mousemove --window "$wid" 300 85 click 1  # into the command line
xclip -selection clipboard -i "$work/text"
# xclip's claim on the clipboard may reach the server after it returned.
for _ in $(seq 50); do
  xclip -selection clipboard -o 2>/dev/null | cmp -s - "$work/text" && break
  sleep 0.1
done

ticks() { awk '{ print $14 + $15 }' "/proc/$app/stat"; }
hz=$(getconf CLK_TCK)
start_ticks=$(ticks)
start=$(date +%s%N)
xdotool key --window "$wid" ctrl+v ctrl+a ctrl+c
# xclip ends when the program takes the clipboard over with its Ctrl+C.
server="xclip -selection clipboard -i $work/text"
got=0
for _ in $(seq 1200); do
  pgrep -f "$server" >/dev/null || { got=1; break; }
  sleep 0.05
done
end=$(date +%s%N)
paste_ticks=$(( $(ticks) - start_ticks ))
sleep 2
idle_ticks=$(( $(ticks) - start_ticks - paste_ticks ))
whole=no
xclip -selection clipboard -o >"$work/back" 2>/dev/null && cmp -s "$work/back" "$work/text" && whole=yes
printf 'text of %d bytes from xclip, pasted with X key events\n' "$bytes"
printf 'Ctrl+V until the text came back: %d ms (whole: %s%s)\n' \
  $(( (end - start) / 1000000 )) "$whole" "$([ $got = 1 ] || echo ', timed out')"
printf 'program CPU: %d ms for it, %d ms in the 2 s after\n' \
  $(( paste_ticks * 1000 / hz )) $(( idle_ticks * 1000 / hz ))
