#!/usr/bin/env bash
# Start-up benchmark of the real program on a real X server (Xvfb):
#   - time from launch to the window shown (exposed and painted), over RUNS starts
#   - memory of the idle window: resident, and the program's own (private,
#     without the shared libraries' files)
#   - wake-ups per second of the idle window (context switches of all threads)
#
#   bench/startup.sh [RUNS]        (default 10)
# The program is $TARVIK2, else build/release/bin/tarvik2 (tools/dev.sh run
# builds it). Needs Xvfb. Targets: under 0.21 s to the window, under 14 MB of
# its own, 0 wake-ups per second when idle.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-10}
exe=${TARVIK2:-$here/build/release/bin/tarvik2}
idle_seconds=5
[ -x "$exe" ] || { echo "startup: $exe not built" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 500); do
  [ -S "/tmp/.X11-unix/X$display" ] && break
  sleep 0.01
done
[ -S "/tmp/.X11-unix/X$display" ] || { echo "startup: Xvfb did not start" >&2; exit 1; }

export DISPLAY=":$display" QT_QPA_PLATFORM=xcb TARVIK_SHOWN_STAMP=1
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# wait_shown <stderr file>: waits (up to 20 s) for the program's stamp and prints it.
wait_shown() {
  for _ in $(seq 2000); do
    if grep -q "window shown at" "$1" 2>/dev/null; then
      sed -n 's/.*window shown at \([0-9.]*\).*/\1/p' "$1"
      return 0
    fi
    sleep 0.01
  done
  echo "startup: the window was not shown" >&2
  return 1
}

# The program's own memory: every private page except the clean pages of
# shared-library files (which any other process using them would share).
own_kib() {
  awk '
    /^[0-9a-f]+-[0-9a-f]+ / { lib = ($6 ~ /\.so/) ; next }
    /^Private_Dirty:/ { own += $2 }
    /^Private_Clean:/ { if (!lib) own += $2 }
    END { print own }' "/proc/$1/smaps"
}

switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 } END { print n }'
}

times=()
for run in $(seq "$runs"); do
  : >"$work/err"
  start=$EPOCHREALTIME
  "$exe" 2>"$work/err" &
  app_pid=$!
  shown=$(wait_shown "$work/err")
  times+=("$(awk -v a="$start" -v b="$shown" 'BEGIN { printf "%.3f", b - a }')")
  if [ "$run" -lt "$runs" ]; then
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=
  fi
done

# The last start stays up: let it settle, then measure the idle window.
sleep 1
rss=$(awk '/^Rss:/ { print $2 }' "/proc/$app_pid/smaps_rollup")
private=$(awk '/^Private_(Clean|Dirty):/ { n += $2 } END { print n }' "/proc/$app_pid/smaps_rollup")
own=$(own_kib "$app_pid")
threads=$(ls "/proc/$app_pid/task" | wc -l)
before=$(switches "$app_pid")
sleep "$idle_seconds"
after=$(switches "$app_pid")

sorted=$(printf '%s\n' "${times[@]}" | sort -n)
median=$(printf '%s\n' "$sorted" | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }')
printf 'launch to window shown: median %s s, min %s s, max %s s (%d runs: %s)\n' \
  "$median" "$(printf '%s\n' "$sorted" | head -1)" "$(printf '%s\n' "$sorted" | tail -1)" \
  "$runs" "${times[*]}"
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
printf 'resident memory:        %s MB\n' "$(mb "$rss")"
printf 'private memory:         %s MB (smaps_rollup Private_Clean + Private_Dirty)\n' "$(mb "$private")"
printf "own memory:             %s MB (private, without shared-library files' clean pages)\n" \
  "$(mb "$own")"
printf 'idle wake-ups:          %s per second (%d threads, %d switches in %d s)\n' \
  "$(awk -v n=$((after - before)) -v s="$idle_seconds" 'BEGIN { printf "%.1f", n / s }')" \
  "$threads" "$((after - before))" "$idle_seconds"
