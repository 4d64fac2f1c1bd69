#!/usr/bin/env bash
# The run command's choice of a default port: never the kernel's console,
# never one that does not open; none such means the simulator.
#   dev_sh_test.sh DEV_SH TARVIK_SIM
set -euo pipefail
source "$1"
work=$(mktemp -d)
exec 3< <("$2" --echo)
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
read -r pty <&3

# check NAME  CLASS-ENTRIES  CMDLINE  ACTIVE  CONSOLES  EXPECTED
failures=0
check() {
  local name=$1 entries=$2 expected=$6 got entry
  rm -rf "$work/class" "$work/dev"; mkdir -p "$work/class" "$work/dev"
  for entry in $entries; do           # NAME:open or NAME:closed
    mkdir -p "$work/class/${entry%%:*}/device"
    echo 4 >"$work/class/${entry%%:*}/type"
    [ "${entry#*:}" = open ] && ln -s "$pty" "$work/dev/${entry%%:*}"
  done
  echo "$3" >"$work/cmdline"; echo "$4" >"$work/active"; echo "$5" >"$work/consoles"
  got=$(TARVIK_TTY_CLASS_DIR="$work/class" TARVIK_DEV_DIR="$work/dev" \
        TARVIK_CMDLINE="$work/cmdline" TARVIK_CONSOLE_ACTIVE="$work/active" \
        TARVIK_PROC_CONSOLES="$work/consoles" first_serial_port || echo none)
  if [ "$got" != "$expected" ]; then
    echo "FAIL $name: got $got, expected $expected"; failures=$((failures + 1))
  fi
}
check "console on the command line" "ttyS0:open ttyUSB0:open" "quiet console=ttyS0,115200n8" "" "" ttyUSB0
check "active console"              "ttyS0:open ttyUSB0:open" "" "tty0 ttyS0" "" ttyUSB0
check "listed in /proc/consoles"    "ttyS0:open" "" "" "ttyS0                -W- (EC  p a)    4:64" none
check "only the console and a port that does not open" "ttyS0:open ttyS1:closed" "console=ttyS0" "" "" none
check "arguments after -- are not the kernel's" "ttyS0:open" "quiet -- console=ttyS0" "" "" ttyS0
check "a port of its own"           "ttyS0:open" "console=tty0" "tty0" "tty0 -WU (EC p  ) 4:1" ttyS0
echo "$((6 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
