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
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config" XDG_DATA_HOME="$WORK/home/data"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$XDG_CONFIG_HOME/zentrel/registry" "$WORK/data"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\r\n"DataDirectory"="%s"\r\n' \
  "$WORK/data/" >"$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"
TOP=/growth-bench/top/  # not scanned: the report reads saved records only
"$BUILD/bench/growth/growth_bench_data" "$WORK/data/" "$TOP" "$RECORDS"
ls -l "$WORK/data/VNDATA.DB"
"$BUILD/varnow/varnow" "/DIR=$TOP" /GROWTH=1 >/dev/null  # warm the cache
for run in 1 2 3; do
  /usr/bin/time -f "run $run: %e s wall (%U user + %S sys), %M KB peak" "$BUILD/varnow/varnow" "/DIR=$TOP" /GROWTH >"$WORK/out.txt"
done
head -8 "$WORK/out.txt"
# One directory with 20,000 subdirectories: finding each one's storage must not compare it with
# all of its siblings.
rm -f "$WORK/data/VNDATA.DB"
"$BUILD/bench/growth/growth_bench_data" "$WORK/data/" /growth-bench/wide/ 20001 20000
/usr/bin/time -f "wide: %e s wall, %M KB peak" "$BUILD/varnow/varnow" /DIR=/growth-bench/wide/ /GROWTH >/dev/null
