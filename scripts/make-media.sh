#!/usr/bin/env bash
# Stages the install medium: a folder Varnow/ with setup, its SETUP.INI and every file the script
# lists, and varnow-setup.tar.gz of that folder.
# Usage: make-media.sh OUTPUT_DIR SETUP VARNOW ORVSCHED ZIZERUV
# A listed file that the tree does not have (the help page, while it is being written) is left
# out of the staged SETUP.INI with a warning, and the later entries are renumbered.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 OUTPUT_DIR SETUP VARNOW ORVSCHED ZIZERUV" >&2; exit 2; }
OUT=$1
SOURCE_DIR=$(cd "$(dirname "$0")/.." && pwd)
STAGE="$OUT/Varnow"

rm -rf "$STAGE"
mkdir -p "$STAGE"
for program in "${@:2}"; do
  install -m 0755 "$program" "$STAGE/"
done
for resource in VNHELP.HTM varnow.svg; do
  if [ -f "$SOURCE_DIR/resources/$resource" ]; then
    install -m 0644 "$SOURCE_DIR/resources/$resource" "$STAGE/"
  fi
done

# The script, with entries whose source is missing left out and the rest numbered 1, 2, ...
awk -v stage="$STAGE" '
  /^[ \t]*\[/ { section = tolower($0) }
  section ~ /^[ \t]*\[filelist\]/ && tolower($0) ~ /^[ \t]*file[0-9]+[ \t]*=/ {
    value = $0; sub(/^[^=]*=[ \t]*/, "", value)
    source = value; sub(/[ \t]*,.*/, "", source)
    if (system("test -f \"" stage "/" source "\"") != 0) {
      print "make-media.sh: " source " is missing; left out of SETUP.INI" > "/dev/stderr"
      next
    }
    print "File" (++n) "=" value
    next
  }
  { print }
' "$SOURCE_DIR/setup/SETUP.INI" >"$STAGE/SETUP.INI"
chmod 0644 "$STAGE/SETUP.INI"

cat >"$STAGE/README" <<'TEXT'
Varnow for Linux desktops

Install for your user: run ./setup from this folder and answer where Varnow should go
(proposed: ~/Varnow). For a scripted install without questions: ./setup /DIR=$HOME/Varnow
Remove it again: ~/Varnow/setup UNINSTALL, or "Uninstall Varnow" in the Varnow menu.
TEXT
chmod 0644 "$STAGE/README"

tar -C "$OUT" -czf "$OUT/varnow-setup.tar.gz" Varnow
