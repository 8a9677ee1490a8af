#!/usr/bin/env bash
# The window's benchmarks on the scan benchmark tree (warm cache), release build:
#  1. the grid fill for 100,000 subdirectories, each sort method (offscreen);
#  2. in one process under Xvfb: a scan from the window (progress display, status fields, grid)
#     against the same scan unattended;
#  3. whole programs: "varnow /DIR=TREE /SCAN" without a display against the same scan started
#     with a click on Scan in the window under Xvfb, timed until the trace log's end-of-scan line
#     (both runs keep a trace log, so both pay for it; the unattended figure includes the
#     program's start and end).
#   bench/window/window_scan_bench.sh             tree in /tmp/varnow-bench-tree (made once, then reused)
#   RUNS=7 VARNOW_BENCH_TREE=/path bench/window/window_scan_bench.sh
set -euo pipefail
HERE=$(cd "$(dirname "$0")/../.." && pwd)
TREE=${VARNOW_BENCH_TREE:-/tmp/varnow-bench-tree}
RUNS=${RUNS:-5}
BUILD="$HERE/build/release"
# shellcheck source=../../scripts/xdriver.sh
. "$HERE/scripts/xdriver.sh"

cmake -S "$HERE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOW_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target varnow grid_fill_bench window_scan_bench >/dev/null
[ -d "$TREE" ] || /usr/bin/python3 "$HERE/bench/gen_scan_tree.py" "$TREE"
TREE=$(cd "$TREE" && pwd -P)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-window-bench-XXXXXX")
VARNOW_PID=
cleanup() {
  if [ -n "$VARNOW_PID" ]; then kill "$VARNOW_PID" 2>/dev/null || true; fi
  xd_stop_display
  rm -rf "$WORK"
}
trap cleanup EXIT
xd_private_home "$WORK" "$WORK/data"
# Nothing is saved: the scans alone are compared.
printf '"AutoSave"=dword:00000000\r\n"SubDirSave"=dword:00000000\r\n' >>"$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"

echo "== grid fill"
QT_QPA_PLATFORM=offscreen "$BUILD/bin/grid_fill_bench" 100000 "$RUNS"

xd_start_display
echo "== scan in one process ($DISPLAY)"
"$BUILD/bin/window_scan_bench" "$TREE" "$RUNS"

echo "== whole programs"
unattended=()
for _ in $(seq "$RUNS"); do
  start=$(date +%s.%N)
  env -u DISPLAY "$BUILD/bin/varnow" "/DEBUG=$WORK/unattended.txt" "/DIR=$TREE" /SCAN
  unattended+=("$(awk "BEGIN { print $(date +%s.%N) - $start }")")
  grep -q "CVarnowDlg::OnScan End" "$WORK/unattended.txt" || xd_fail "the unattended run did not scan"
  rm -f "$WORK/unattended.txt"
done

window=()
for _ in $(seq "$RUNS"); do
  TRACE="$WORK/window.txt"
  rm -f "$TRACE"
  "$BUILD/bin/varnow" "/DEBUG=$TRACE" >/dev/null 2>&1 &
  VARNOW_PID=$!
  main=$(xd_wait_window '^Varnow [0-9]+\.[0-9]+')
  xd_main_window "$main"
  sleep 2.5
  xd_click "$(xd_unit_x 60)" "$(xd_unit_y 31)"
  xdotool key ctrl+a
  xdotool type --delay 5 "$TREE/"
  sleep 0.5
  xdotool mousemove --sync $((XD_X + $(xd_button_x 0))) $((XD_Y + $(xd_button_y)))
  # One light process clicks and then reads what the trace log gains every 5 ms.
  window+=("$(/usr/bin/python3 - "$TRACE" <<'PY'
import subprocess, sys, time
trace = open(sys.argv[1], "rb")
trace.seek(0, 2)
start = time.monotonic()
subprocess.run(["xdotool", "click", "1"], check=True)
seen = b""
while b"CVarnowDlg::OnScan End" not in seen:
    time.sleep(0.005)
    seen = seen[-64:] + trace.read()
print("%.3f" % (time.monotonic() - start))
PY
)")
  xd_click "$(xd_button_x "$XD_EXIT_BUTTON")" "$(xd_button_y)"
  wait "$VARNOW_PID" 2>/dev/null || true
  VARNOW_PID=
done

median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
u=$(median "${unattended[@]}")
w=$(median "${window[@]}")
printf 'varnow /DIR= /SCAN (whole process) %.3f s, window from the click on Scan %.3f s, ratio %.2f (median of %d)\n' \
  "$u" "$w" "$(awk "BEGIN { print $w / $u }")" "$RUNS"
