#!/usr/bin/env bash
# Times one socket-tracker sample against `ss -tuni` and `ss -tunapi` on the same sockets
# (1,000 and 10,000 loopback connections held by 1 and by 200 processes) and measures the
# tracker's peak memory growth, then prints the figures against the targets:
#   sample without descriptor scan <= 1.0 x ss -tuni
#   sample with descriptor scan    <= 1.0 x ss -tunapi
#   peak RSS growth at 10,000 connections <= 16 MB
#   longest snapshot() during a descriptor walk of 2,000 processes <= 2 ms
# As root the benchmark runs in a private network namespace, so both sides see exactly
# the benchmark's sockets. Extra arguments go to the benchmark program.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
BUILD=${BUILD:-build}
command -v ss >/dev/null || { echo "ss (iproute2) is missing" >&2; exit 1; }
if [ ! -x "$BUILD/bin/net_procs_bench" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" --target net_procs_bench
fi
# 10,000 connections in one process need 20,000 descriptors and more.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
[ "$(id -u)" -eq 0 ] || echo "not root: the machine's other sockets are listed too" >&2
exec "$BUILD/bin/net_procs_bench" --benchmark_counters_tabular=true "$@"
