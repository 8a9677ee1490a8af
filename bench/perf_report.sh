#!/usr/bin/env bash
# Times the built tracker against du -s, ncdu -0 -o FILE and gdu -n on generated trees and
# prints one table: median wall time, CPU time and peak memory of each, and the ratios.
# Builds nothing.
#   bench/perf_report.sh [--quick] [--runs N] [--timeout S] [--trees LIST] [--big FOLDER]
#                        [--big-runs N] [--records N] [--varnow PATH] WORKDIR
# WORKDIR holds the generated trees (made once, then reused) and the runs' private home and
# data folders. --quick: 3 runs, no 100,000-directory tree (a few minutes once the trees exist).
# Trees: "20k/200k", "100k/1M", "wide 5k", "wide 20k", "wide 80k" (one directory with that
# many subdirectories); with --big FOLDER also "500k/5M", generated once into FOLDER (it needs
# about 5.5 million free inodes there, see df -i) and kept. The data-file cases time the report,
# /GROWTH and the window showing the top record of a data file of --records records (default
# 500,000; 0 leaves them out) without a scan; they need the targets growth_bench_data and
# window_record_bench built beside the tracker.
set -euo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)
VARNOW="$HERE/build/release/bin/varnow"
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --varnow) VARNOW=$2; shift 2 ;;
    --varnow=*) VARNOW=${1#--varnow=}; shift ;;
    *) args+=("$1"); shift ;;
  esac
done
if [ ! -x "$VARNOW" ]; then
  echo "No built tracker at $VARNOW (give --varnow PATH)" >&2
  exit 1
fi
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (scripts/deps.sh installs it)" >&2; exit 1; }
for tool in du ncdu gdu; do
  command -v "$tool" >/dev/null || echo "$tool is missing: its rows are left out (scripts/deps.sh installs it)" >&2
done
exec python3 "$HERE/bench/perf_report.py" --varnow "$VARNOW" "${args[@]}"
