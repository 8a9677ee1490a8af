#!/usr/bin/env bash
# Times the growth report (/GROWTH) over a data file of 100,000 saved records and reports its
# wall time and peak memory. Target: at most 1 s and 100 MB.
#   bench/growth/growth_bench.sh [BUILD]    (default build/release)
set -euo pipefail
HERE=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$HERE/build/release}
RECORDS=${RECORDS:-100000}
cmake --build "$BUILD" --target varnow growth_bench_data >/dev/null
WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-growth-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# shellcheck source=../../scripts/xdriver.sh
. "$HERE/scripts/xdriver.sh"
xd_private_home "$WORK" "$WORK/data"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
TOP=/growth-bench/top/  # not scanned: the report reads saved records only
"$BUILD/bin/growth_bench_data" "$WORK/data/" "$TOP" "$RECORDS"
ls -l "$WORK/data/VNDATA.DB"
"$BUILD/bin/varnow" "/DIR=$TOP" /GROWTH=1 >/dev/null  # warm the cache
for run in 1 2 3; do
  /usr/bin/time -f "run $run: %e s wall (%U user + %S sys), %M KB peak" "$BUILD/bin/varnow" "/DIR=$TOP" /GROWTH >"$WORK/out.txt"
done
head -8 "$WORK/out.txt"
# One directory with 20,000 subdirectories: finding each one's storage must not compare it with
# all of its siblings.
rm -f "$WORK/data/VNDATA.DB"
"$BUILD/bin/growth_bench_data" "$WORK/data/" /growth-bench/wide/ 20001 20000
/usr/bin/time -f "wide: %e s wall, %M KB peak" "$BUILD/bin/varnow" /DIR=/growth-bench/wide/ /GROWTH >/dev/null
