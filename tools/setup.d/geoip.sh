#!/usr/bin/env bash
# Builds <build dir>/share/velmora/geoip.bin, the country range table, from the pinned
# DB-IP Lite data in tools/node_modules. Called by setup.sh after each build with the
# build directory as first argument. Does nothing when the table is newer than both the
# data and the converter, so repeated test runs stay fast.
set -euo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
[ $# -ge 1 ] || { echo "usage: $0 <build dir>" >&2; exit 2; }
case $1 in
  /*) build=$1 ;;
  *) build=$ROOT/$1 ;;
esac
tools=$ROOT/tools

for cmd in node npm; do
  if ! command -v "$cmd" >/dev/null; then
    echo "geoip: '$cmd' is missing; install Node.js 18 or later to build the country table" >&2
    exit 1
  fi
done

# npm ci records what it installed in node_modules/.package-lock.json; a lock file newer
# than that means the pins changed since.
if [ ! -e "$tools/node_modules/.package-lock.json" ] ||
   [ "$tools/package-lock.json" -nt "$tools/node_modules/.package-lock.json" ]; then
  (cd "$tools" && npm ci --no-audit --no-fund --loglevel=error)
fi

data=$tools/node_modules/@ip-location-db/dbip-country
out=$build/share/velmora/geoip.bin
stale=0
[ -e "$out" ] || stale=1
for src in "$data/dbip-country-ipv4-num.csv" "$data/dbip-country-ipv6-num.csv" \
           "$tools/make_geoip.js"; do
  [ "$out" -nt "$src" ] || stale=1
done
if [ $stale -eq 1 ]; then
  node "$tools/make_geoip.js" --out "$out"
else
  echo "geoip: $out is up to date"
fi
