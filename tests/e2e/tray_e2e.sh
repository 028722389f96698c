#!/usr/bin/env bash
# The program on a real X server with a real tray host: its icon must be embedded in the tray and its
# hint must name the next alarm. Usage: tray_e2e.sh PATH_TO_LARKBELL
set -euo pipefail
exe=$1
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses, chosen by the server itself so that tests running side by side never collide.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
display=":$(head -n 1 "$work/display")"
export DISPLAY=$display

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 600); do xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break; sleep 0.05; done

mkdir -p "$work/data"
LARKBELL_DATA_DIR="$work/data" "$exe" -debug -autorun >"$work/out.txt" 2>&1 &
pids+=($!)
log="$work/data/Log.txt"
for _ in $(seq 200); do grep -q "Tray icon shown" "$log" 2>/dev/null && break; sleep 0.05; done

fail() { echo "FAIL: $*"; echo "--- log"; cat "$log" 2>/dev/null; echo "--- windows"; xwininfo -root -tree; exit 1; }
grep -q "Tray icon shown (in the tray)" "$log" || fail "the program did not find the tray"
grep -q "Tray hint: .* - Good morning!" "$log" || fail "the tray hint does not name the first alarm"
# The icon is a child of the tray host's panel window.
xwininfo -root -tree | awk '/"panel"/ {p=1; next} p && /"Larkbell"/ {found=1} END {exit !found}' \
    || fail "no Larkbell icon inside the tray panel"
echo "1 passed, 0 failed"
