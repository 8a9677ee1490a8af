#!/usr/bin/env bash
# The treemap over a data file of 100,000 saved records (two scans a week apart, every tenth
# directory grown): layout and paint at 1600x1000 (target 150 ms), and /TREEMAP as a whole
# program (target 1.5 s). With SCAN_TREE=DIR it also times the scan of that tree with and without
# keeping the largest files (target: at most 2 % more; on a shared machine compare the CPU times).
#   bench/treemap/treemap_bench.sh [BUILD]    (default build/release)
set -euo pipefail
HERE=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$HERE/build/release}
RECORDS=${RECORDS:-100000}
RUNS=${RUNS:-5}
cmake --build "$BUILD" --target varnow growth_bench_data treemap_bench scan_bench >/dev/null
WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-treemap-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# shellcheck source=../../scripts/xdriver.sh
. "$HERE/scripts/xdriver.sh"
xd_private_home "$WORK" "$WORK/data"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
TOP=/treemap-bench/top/  # not scanned: the picture reads saved records only
"$BUILD/bench/growth/growth_bench_data" "$WORK/data/" "$TOP" "$RECORDS"
echo "load: $(uptime)"
"$BUILD/bench/treemap/treemap_bench" "$WORK/data/" "$TOP" 1600x1000 9
"$BUILD/varnow/varnow" "/DIR=$TOP" "/TREEMAP=$WORK/warm.png" >/dev/null  # warm the cache
for run in $(seq "$RUNS"); do
  /usr/bin/time -f "/TREEMAP run $run: %e s wall (%U user + %S sys), %M KB peak" \
    "$BUILD/varnow/varnow" "/DIR=$TOP" "/TREEMAP=$WORK/map.png" /TREEMAPSIZE=1600x1000
done
ls -l "$WORK/map.png"
echo "load: $(uptime)"
if [ -n "${SCAN_TREE:-}" ]; then
  "$BUILD/bench/scan/scan_bench" scan "$SCAN_TREE" "$WORK/data" >/dev/null  # warm the cache
  for run in $(seq "$RUNS"); do
    for mode in --no-largest ""; do
      /usr/bin/time -f "scan ${mode:-with largest files}: %e s wall, %U user + %S sys" \
        "$BUILD/bench/scan/scan_bench" scan "$SCAN_TREE" "$WORK/data" $mode >/dev/null
    done
  done
  echo "load: $(uptime)"
fi
