#!/bin/bash
# Process CPU of the real program while its connections page lists 10,000 connections held by
# 200 processes (25 loopback pairs each, "Local connections" switched on), sampling every
# second, on a private X server. Prints the share of one core over SECONDS (default 30).
#
#   bench/tables_cpu.sh [path/to/velmora]
# Needs Xvfb, xdotool and python3; run it on an otherwise idle machine.
set -euo pipefail
BIN=${1:-build/bin/velmora}
SECONDS_MEASURED=${SECONDS_MEASURED:-30}
DISPLAY_NUM=:${DISPLAY_NUM:-87}
WORK=$(mktemp -d)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill -- "-$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT
ulimit -n 4096

# 200 holders of 25 connected loopback pairs each; they block until killed.
setsid python3 - <<'EOF' &
import os, socket, signal, time
lst = socket.socket(); lst.bind(("127.0.0.1", 0)); lst.listen(4096)
port = lst.getsockname()[1]
for _ in range(200):
    if os.fork() == 0:
        held = []
        for _ in range(25):
            c = socket.create_connection(("127.0.0.1", port)); a, _ = lst.accept()
            held += [c, a]
        signal.pause()
signal.pause()
EOF
PIDS+=($!)
for _ in $(seq 120); do
    [ "$(ss -tanH state established 2>/dev/null | wc -l)" -ge 10000 ] && break
    sleep 0.5
done

Xvfb "$DISPLAY_NUM" -screen 0 1600x1000x24 -fbdir "$WORK" -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
sleep 2
export DISPLAY=$DISPLAY_NUM HOME=$WORK XDG_CONFIG_HOME=$WORK/cfg LANG=C.UTF-8
"$BIN" >/dev/null 2>&1 &
APP=$!
PIDS+=($APP)
for _ in $(seq 50); do xdotool search --name '^Velmora$' >/dev/null 2>&1 && break; sleep 0.2; done
sleep 2
xdotool mousemove 800 500 key ctrl+2
sleep 1
xdotool mousemove $((200 + 420)) $((120 + 88 + 27)) click 1 mousemove 800 600
# PAGE=1 measures the same with the overview shown instead, for comparison.
[ "${PAGE:-2}" = 2 ] || xdotool key "ctrl+${PAGE}"
sleep 5

ticks() { awk '{print $14 + $15}' "/proc/$APP/stat"; }
t0=$(ticks)
sleep "$SECONDS_MEASURED"
t1=$(ticks)
hz=$(getconf CLK_TCK)
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$SECONDS_MEASURED" \
    -v page="${PAGE:-2}" \
    'BEGIN { printf "page %d shown, 10000 connections: %.1f %% of one core over %d s\n", page, 100 * d / hz / s, s }'
# SHOT=file.png keeps a picture of the window as measured (from Xvfb's frame buffer file).
if [ -n "${SHOT:-}" ]; then
    python3 - "$WORK/Xvfb_screen0" "$SHOT" <<'PY'
import struct, sys, zlib
d = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", d[:100])
off, bpl = h[0] + h[19] * 12, h[12]
x0, y0, w, hgt = 200, 120, 1200, 760
rows = b"".join(b"\0" + b"".join(d[off + y * bpl + x * 4: off + y * bpl + x * 4 + 3][::-1]
                                 for x in range(x0, x0 + w)) for y in range(y0, y0 + hgt))
chunk = lambda t, b: struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b))
open(sys.argv[2], "wb").write(b"\x89PNG\r\n\x1a\n" +
                              chunk(b"IHDR", struct.pack(">2I5B", w, hgt, 8, 2, 0, 0, 0)) +
                              chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
PY
fi
conns=$(ss -tanH state established '( sport >= 0 )' 2>/dev/null | wc -l)
echo "established TCP sockets on this machine: $conns"
