#!/usr/bin/env bash
# Times the scan engine on the benchmark tree (warm cache) against du -s, ncdu -o and gdu -n,
# several runs each, and prints medians and ratios; then times one LoadData in a data file of
# 100,000 records.
#   bench/scan_bench.sh                 tree in /tmp/varnow-bench-tree (made once, then reused)
#   RUNS=7 VARNOW_BENCH_TREE=/path bench/scan_bench.sh
# The automated scan is timed through the varnow program when the tree builds it, otherwise
# through the engine's own headless runner (bench/scan).
set -euo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)
TREE=${VARNOW_BENCH_TREE:-/tmp/varnow-bench-tree}
RUNS=${RUNS:-5}
BUILD="$HERE/build/release"

cmake -S "$HERE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOW_TESTS=OFF >/dev/null
targets=(scan_bench)
if cmake --build "$BUILD" --target help | grep -q '^varnow:'; then targets+=(varnow); fi
cmake --build "$BUILD" -j2 --target "${targets[@]}"

[ -d "$TREE" ] || python3 "$HERE/bench/gen_scan_tree.py" "$TREE"
exec python3 "$HERE/bench/scan_bench.py" --tree "$TREE" --runs "$RUNS" --build "$BUILD"
