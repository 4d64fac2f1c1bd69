#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tarvik 2, builds it, and runs it or its tests.
#   tools/dev.sh run [PORT]   install what is missing, build, start the terminal
#   tools/dev.sh test         install what is missing, build, run every test
# Both are idempotent: with everything installed and built they only check.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(
  g++ cmake make pkg-config
  qt6-base-dev libxkbcommon-dev libgl-dev
  libjpeg62-turbo-dev gettext libsqlite3-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
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

run_terminal() {
  configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DTARVIK_TESTS=OFF
  local exe="$here/build/release/bin/tarvik2"
  if [ ! -x "$exe" ]; then
    echo "Built. The terminal's window does not exist yet; nothing to start."
    return 0
  fi
  exec "$exe" "$@"
}

run_tests() {
  # The main run: every test, built with AddressSanitizer and UBSan.
  configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON
  # The codec's fuzzer: clang's libFuzzer, a bounded run.
  CC=clang CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DTARVIK_FUZZ=ON
  (cd "$here/build/fuzz" && ctest --output-on-failure --no-tests=error)
  (cd "$here/build/asan" && LSAN_OPTIONS="suppressions=$here/tools/lsan.supp" \
     ctest --output-on-failure --no-tests=error -j "$jobs")
  # The thread sanitizer over the port's open/close stress test, a shorter run.
  cmake -S "$here" -B "$here/build/tsan" -DCMAKE_BUILD_TYPE=Debug -DTARVIK_TSAN=ON >/dev/null
  cmake --build "$here/build/tsan" -j "$jobs" --target serial_events_stress
  (cd "$here/build/tsan" && TARVIK_STRESS_CYCLES=${TARVIK_STRESS_CYCLES:-300} \
     ctest -L stress --output-on-failure --no-tests=error)
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  run)  install_missing; run_terminal "$@" ;;
  test) install_missing; run_tests ;;
  *) echo "usage: $0 run [PORT] | test" >&2; exit 2 ;;
esac
