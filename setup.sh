#!/usr/bin/env bash
# Velmora's one set-up script. As root on Debian 12:
#   ./setup.sh run [velmora options]   install what is missing, build, start Velmora
#   ./setup.sh test                    install what is missing, build, run the whole test suite
#   ./setup.sh coverage                build with gcov in build-cov/, run the tests, print the
#                                      line coverage of src/ (without the generated src/data/)
# Build trees: build/ (the program, tests, benchmarks), build-asan/ (clang with
# AddressSanitizer + UndefinedBehaviorSanitizer, and the fuzz targets), build-tsan/
# (ThreadSanitizer, the threaded tests only).
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"
ROOT=$PWD
JOBS=$(nproc)

usage() { echo "usage: $0 run [velmora options] | $0 test | $0 coverage" >&2; exit 2; }
[ $# -ge 1 ] || usage
mode=$1; shift

# Debian packages the build, the tests and the program need.
PACKAGES=(
  build-essential cmake ninja-build pkg-config git python3
  libsdl2-dev libcairo2-dev libpango1.0-dev libglib2.0-dev libsodium-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-utils xdotool dbus-daemon openbox gcovr
  pci.ids usb.ids iproute2 procps util-linux
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk
  # the install and package tests: CPack's dependency scan, the validators, lintian
  dpkg-dev file desktop-file-utils appstream man-db bsdextrautils lintian
)

log() { printf '\n==> %s\n' "$*"; }

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  # Node.js and npm fetch the pinned data packages; any installation of them will do.
  command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
      echo "missing Debian packages (${missing[*]}); run this script as root" >&2
      exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# Build-time data fetched from npm at pinned versions (see tools/package.json).
fetch_data() {
  for hook in tools/setup.d/*.sh; do
    [ -e "$hook" ] || continue
    log "data: $hook"
    ROOT=$ROOT bash "$hook" "$@"
  done
}

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

build_main() {
  log "building build/"
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build build -j "$JOBS"
  fetch_data build
}

case "$mode" in
  run)
    install_packages
    build_main
    exec "$ROOT/build/bin/velmora" "$@"
    ;;
  test)
    install_packages
    build_main -DVELMORA_WERROR=ON
    log "tests (gcc, build/)"
    (cd build && ctest -j "$JOBS" --output-on-failure --timeout 300)

    log "tests under AddressSanitizer + UndefinedBehaviorSanitizer, with fuzz targets (clang, build-asan/)"
    CC=clang CXX=clang++ configure build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_WERROR=ON \
      -DVELMORA_SANITIZE=address,undefined -DVELMORA_FUZZ=ON -DVELMORA_BENCH=OFF
    cmake --build build-asan -j "$JOBS"
    fetch_data build-asan
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest -j "$JOBS" --output-on-failure --timeout 300)

    log "threaded tests under ThreadSanitizer (build-tsan/)"
    configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON \
      -DVELMORA_SANITIZE=thread -DVELMORA_BENCH=OFF
    cmake --build build-tsan -j "$JOBS" --target velmora_tests velmora
    fetch_data build-tsan
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
      ctest -j "$JOBS" --output-on-failure --timeout 300 -R 'Threads\.')
    log "all tests passed"
    ;;
  coverage)
    install_packages
    log "coverage build (gcc --coverage, build-cov/)"
    configure build-cov -DCMAKE_BUILD_TYPE=Debug -DVELMORA_COVERAGE=ON -DVELMORA_BENCH=OFF
    cmake --build build-cov -j "$JOBS"
    fetch_data build-cov
    find build-cov -name '*.gcda' -delete
    # A failing test still leaves its counts; the figure is printed either way.
    (cd build-cov && ctest -j "$JOBS" --timeout 300 >ctest.log 2>&1) || echo "some tests failed: build-cov/ctest.log" >&2
    gcovr --root "$ROOT" --filter "$ROOT/src/" --exclude "$ROOT/src/data/" \
      --exclude-unreachable-branches --print-summary --txt build-cov/coverage.txt build-cov
    echo "per-file figures: build-cov/coverage.txt"
    ;;
  *) usage ;;
esac
