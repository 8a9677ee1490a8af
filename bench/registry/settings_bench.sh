#!/usr/bin/env bash
# The settings layer in whole runs, with a settings file of KEYS keys (default 100,000) besides
# the tracker's own: an unattended scan of a small folder, and the window's start under Xvfb
# (from the start of the program until its main window is shown). Medians of RUNS runs.
#   bench/registry/settings_bench.sh BUILD_DIR        e.g. build/release
#   KEYS=100000 RUNS=5 bench/registry/settings_bench.sh build/release
set -euo pipefail
HERE=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?build folder}" && pwd)
KEYS=${KEYS:-100000}
RUNS=${RUNS:-3}
# shellcheck source=../../scripts/xdriver.sh
. "$HERE/scripts/xdriver.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-settings-bench-XXXXXX")
VARNOW_PID=
cleanup() {
  if [ -n "$VARNOW_PID" ]; then kill "$VARNOW_PID" 2>/dev/null || true; fi
  xd_stop_display
  rm -rf "$WORK"
}
trap cleanup EXIT
xd_private_home "$WORK" "$WORK/data"
HIVE="$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"
python3 - "$HIVE" "$KEYS" <<'PY'
import sys
with open(sys.argv[1], "a", newline="") as hive:
    for i in range(int(sys.argv[2])):
        hive.write(f'\r\n[HKEY_CURRENT_USER\\Software\\Other\\Key{i}]\r\n"v"=dword:{i:08x}\r\n')
PY
mkdir -p "$WORK/scanned/a/b"
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
now() { date +%s.%N; }

VARNOW="$BUILD/bin/varnow"
[ -x "$VARNOW" ] || VARNOW="$BUILD/varnow/varnow"
# Once to write the tracker's defaults back, so that every timed run finds the same file.
env -u DISPLAY "$VARNOW" "/DIR=$WORK/scanned" /SCAN >/dev/null 2>&1 || true
echo "settings file: $(wc -c <"$HIVE") bytes, $KEYS keys besides the tracker's; load: $(uptime | sed 's/.*load average: //')"

for _ in $(seq "$RUNS"); do
  start=$(now)
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$VARNOW" "/DIR=$WORK/scanned" /SCAN >/dev/null 2>&1 || true
  echo "$(now) - $start" | bc
done | median | sed 's/^/unattended scan: s /'

xd_start_display
for _ in $(seq "$RUNS"); do
  start=$(now)
  "$VARNOW" "/DIR=$WORK/scanned" >/dev/null 2>&1 &
  VARNOW_PID=$!
  xd_wait_window '^Varnow' "${WINDOW_WAIT:-300}" >/dev/null
  echo "$(now) - $start" | bc
  kill "$VARNOW_PID" 2>/dev/null || true
  wait "$VARNOW_PID" 2>/dev/null || true
  VARNOW_PID=
done | median | sed 's/^/window start: s /'
echo "load: $(uptime | sed 's/.*load average: //')"
