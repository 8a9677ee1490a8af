#!/usr/bin/env bash
# How long setup takes to read a long setup script: a medium whose SETUP.INI lists COUNT files
# (default 16000) that the medium does not hold, so the unattended install reads the whole list,
# checks it, and stops at the first copy (which fails) without writing anything but folders.
# Usage: read_script.sh SETUP_PROGRAM [COUNT]
set -euo pipefail
SETUP=$1
COUNT=${2:-16000}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/setup-read-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/medium" "$WORK/home"
cp "$SETUP" "$WORK/medium/setup"
{
  printf '[Settings]\nTitle=Bench\nGroup=Bench\n[FileList]\n'
  for ((i = 1; i <= COUNT; i++)); do printf 'File%d=file%d,APP/sub/file%d\n' "$i" "$i" "$i"; done
} >"$WORK/medium/SETUP.INI"
echo "load: $(uptime)"
start=$(date +%s.%N)
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share" \
  ASAN_OPTIONS=detect_leaks=0 "$WORK/medium/setup" "/DIR=$WORK/app" </dev/null >/dev/null 2>&1 || true
end=$(date +%s.%N)
printf 'setup read a script of %d entries in %.2f s\n' "$COUNT" "$(echo "$end - $start" | bc)"
