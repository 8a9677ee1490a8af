#!/bin/sh
# Runs a fuzz target over a copy of its seed corpus for a bounded number of inputs.
# usage: run_fuzz.sh BINARY CORPUS_DIR RUNS [extra libFuzzer options]
# Exit status 77 (skipped) when the binary has not been built.
set -eu
bin=$1 corpus=$2 runs=$3
shift 3
if [ ! -x "$bin" ]; then
  echo "fuzz target $bin not built: skipped"
  exit 77
fi
# The target writes and syncs a file per input: on a memory file system that costs nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work=$(mktemp -d -p /dev/shm)
else
  work=$(mktemp -d)
fi
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/tmp"
cp "$corpus"/* "$work/corpus/"
# New inputs go to the copy, never into the source tree.
TMPDIR="$work/tmp" "$bin" -runs="$runs" -max_total_time=100 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 "$@" "$work/corpus"
