#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tarvik 2, builds it, and runs it or its tests.
#   tools/dev.sh run [PORT]   install what is missing, build, start the terminal
#   tools/dev.sh test         install what is missing, build, run every test
# Both are idempotent: with everything installed and built they only check.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# What building and running the program need: `run` installs these.
run_packages=(
  g++ cmake make pkg-config
  qt6-base-dev libxkbcommon-dev libgl-dev
  libjpeg62-turbo-dev gettext libsqlite3-dev libudev-dev
  liblua5.4-dev libpcre2-dev
  fonts-dejavu-core
)

# What the tests, sanitizers, fuzzers, peers and the package check add: `test`
# installs these as well.
test_packages=(
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  python3
  xvfb xauth
  lrzsz ser2net socat
  qt6-serialport-dev
  dpkg-dev file lintian
  locales
)

# install_missing <package...>
install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build <dir> <cmake options...>
configure_and_build() {
  local dir=$1; shift
  cmake -S "$here" -B "$here/$dir" "$@" >/dev/null
  cmake --build "$here/$dir" -j "$jobs"
}

# The ports the kernel writes its console to: console= on the kernel command
# line, the console's active ttys, and /proc/consoles. Overridable for tests.
console_ports() {
  local word
  for word in $(cat "${TARVIK_CMDLINE:-/proc/cmdline}" 2>/dev/null); do
    case "$word" in
      --) break ;;
      console=*) word=${word#console=}; echo "${word%%,*}" ;;
    esac
  done
  cat "${TARVIK_CONSOLE_ACTIVE:-/sys/class/tty/console/active}" 2>/dev/null | tr ' ' '\n'
  awk '{print $1}' "${TARVIK_PROC_CONSOLES:-/proc/consoles}" 2>/dev/null
}

# The first serial port of the system's own that the terminal may open by
# default: a tty backed by a device, not one of the placeholder UARTs whose
# type is unknown (0), not the kernel's console, and one that opens (stty
# opens without waiting for carrier). The terminal's port list reads the same
# directory (TARVIK_TTY_CLASS_DIR overrides both).
first_serial_port() {
  local entry name type consoles
  consoles=" $(console_ports | tr '\n' ' ') "
  for entry in "${TARVIK_TTY_CLASS_DIR:-/sys/class/tty}"/*; do
    [ -e "$entry/device" ] || continue
    type=$(cat "$entry/type" 2>/dev/null || echo 1)
    [ "${type// /}" = "0" ] && continue
    name=$(basename "$entry")
    name=${name//!//}
    case "$consoles" in *" $name "*) continue ;; esac
    stty -F "${TARVIK_DEV_DIR:-/dev}/$name" >/dev/null 2>&1 || continue
    echo "$name"
    return 0
  done
  return 1
}

run_terminal() {
  configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DTARVIK_TESTS=OFF
  local bin="$here/build/release/bin"
  if [ $# -gt 0 ]; then
    exec "$bin/tarvik2" "$@"
  fi
  local hardware
  if hardware=$(first_serial_port); then
    exec "$bin/tarvik2" "$hardware"
  fi
  # No serial hardware we may use: a simulated device that echoes, so Start
  # and Send work at once. It goes away with the terminal.
  local fifo sim port
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$bin/tarvik-sim" --echo >"$fifo" &
  sim=$!
  # Expanded now: the function's locals are gone when the trap runs.
  trap "kill $sim 2>/dev/null; rm -f '$fifo'" EXIT
  # Held open for the simulator's life, so its later output cannot break a pipe.
  exec 3<"$fifo"
  if ! read -r port <&3 || [ -z "$port" ]; then
    echo "The device simulator did not start." >&2
    return 1
  fi
  echo "No serial port found; using the simulator's echo device at $port"
  "$bin/tarvik2" "$port"
}

# The Debian package of a Release build (the one `run` uses): made, unpacked
# into a scratch root, its programs started from there, and lintian's verdict
# (errors fail; warnings are printed).
check_package() {
  configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DTARVIK_TESTS=OFF
  local dir="$here/build/release" root deb
  rm -f "$dir"/tarvik2_*.deb
  (cd "$dir" && cpack -G DEB >/dev/null)
  deb=$(ls "$dir"/tarvik2_*_amd64.deb)
  root=$(mktemp -d)
  dpkg -x "$deb" "$root"
  "$root/usr/bin/tarvik2" --version
  "$root/usr/bin/tarvik2-run" --version
  "$root/usr/bin/tarvik2-run" --help >/dev/null
  "$root/usr/bin/tarvik-sim" --help >/dev/null
  # The catalogs came along: Qt's own texts in German.
  local help
  help=$(LANG=de_DE.UTF-8 "$root/usr/bin/tarvik2" --help)
  [[ $help == *"Optionen:"* ]] || { echo "The package's catalogs are not found." >&2; return 1; }
  rm -rf "$root"
  lintian --fail-on error "$deb"
  echo "Package: $deb"
}

run_tests() {
  # The main run: every test, built with AddressSanitizer and UBSan.
  configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON
  # The fuzzers (codec, ini file, list files, capture reader, history, patterns, Telnet, sequence sets, samples): clang's libFuzzer, a bounded run each, side by side.
  CC=clang CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DTARVIK_FUZZ=ON
  (cd "$here/build/fuzz" && ctest --output-on-failure --no-tests=error -j "$jobs")
  # The thread sanitizer over the port's open/close stress test, a shorter run.
  cmake -S "$here" -B "$here/build/tsan" -DCMAKE_BUILD_TYPE=Debug -DTARVIK_TSAN=ON >/dev/null
  cmake --build "$here/build/tsan" -j "$jobs" --target serial_events_stress
  (cd "$here/build/tsan" && TARVIK_STRESS_CYCLES=${TARVIK_STRESS_CYCLES:-300} \
     ctest -L stress --output-on-failure --no-tests=error)
  check_package
  # Last, so its summary closes the output.
  (cd "$here/build/asan" && LSAN_OPTIONS="suppressions=$here/tools/lsan.supp" \
     ctest --output-on-failure --no-tests=error -j "$jobs")
}

# Sourced (by its test): the functions only.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  run)  install_missing "${run_packages[@]}"; run_terminal "$@" ;;
  test) install_missing "${run_packages[@]}" "${test_packages[@]}"; run_tests ;;
  *) echo "usage: $0 run [PORT] | test" >&2; exit 2 ;;
esac
