#!/bin/bash
# Compares the save speed of two builds of cf_bench on one disk: runs them in turn (so load
# and disk state reach both alike) and prints, for each, the median time the build of the file
# took (its batches, each opened, written, committed and closed) and the median user+sys CPU
# time of the whole run.
#   compare_save.sh OLD_CF_BENCH NEW_CF_BENCH [RUNS] [STORAGES] [FOLDER]
set -euo pipefail
old=$1 new=$2 runs=${3:-7} storages=${4:-20000} folder=${5:-${TMPDIR:-/tmp}}
file="$folder/cf_compare_$$.cfb"
times="$folder/cf_compare_$$.times"
trap 'rm -f "$file" "$file-journal" "$times"' EXIT
declare -A wall cpu
for ((r = 0; r < runs; r++)); do
  for which in old new; do
    bin=${!which}
    rm -f "$file" "$file-journal"
    out=$(/usr/bin/time -o "$times" -f "%U %S" "$bin" --storages "$storages" --reads 1 --file "$file")
    wall[$which]+="$(sed -n 's/^created .*: \([0-9]*\) ms total$/\1/p' <<<"$out") "
    cpu[$which]+="$(awk '{printf "%d", ($1 + $2) * 1000}' "$times") "
  done
done
median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
for which in old new; do
  echo "$which: build median $(median <<<"${wall[$which]}") ms (${wall[$which]% }), cpu median $(median <<<"${cpu[$which]}") ms"
done
echo "ratio new/old (build medians): $(awk -v a="$(median <<<"${wall[old]}")" -v b="$(median <<<"${wall[new]}")" 'BEGIN {printf "%.3f", b / a}')"
