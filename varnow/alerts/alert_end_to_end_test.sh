#!/usr/bin/env bash
# A percent alert as a user sets it up: scan and save a tree, let it grow by a fifth, and run
# the percent check with a notification script that records what it receives.
# Usage: alert_end_to_end_test.sh /path/to/varnow
set -euo pipefail
VARNOW=$1
WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-alert-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# A private home whose settings put the data file into the work folder; no display.
# shellcheck source=../../scripts/xdriver.sh
. "$(dirname "$0")/../../scripts/xdriver.sh"
xd_private_home "$WORK" "$WORK/data"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
printf '"PreferredUnits"=dword:00000001\r\n' >>"$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Ten files of 40 K in two subdirectories (a blank in one name).
TREE="$WORK/my tree"
mkdir -p "$TREE/docs" "$TREE/old files"
for i in 1 2 3 4 5; do
  head -c 40960 /dev/zero >"$TREE/docs/f$i"
  head -c 40960 /dev/zero >"$TREE/old files/g$i"
done

"$VARNOW" "/DIR=$TREE" /SCAN /SAVE || fail "the saving scan ended with status $?"
[ -s "$WORK/data/VNDATA.DB" ] || fail "no data file after /SAVE"

# Two more files of 40 K: 20 % more.
head -c 40960 /dev/zero >"$TREE/docs/h1"
head -c 40960 /dev/zero >"$TREE/old files/h2"

NOTIFY="$WORK/notify"
cat >"$NOTIFY" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" >"$WORK/received.tmp"
mv "$WORK/received.tmp" "$WORK/received"
SCRIPT
chmod +x "$NOTIFY"

status=0
"$VARNOW" "/DIR=$TREE" /ALERTPERCENT=10 "/NOTIFY=$NOTIFY" '$DIR$' '$SIZE$' '$MSG$' || status=$?
[ "$status" -eq 3 ] || fail "the alert run ended with status $status, not 3"

for _ in $(seq 300); do [ -e "$WORK/received" ] && break; sleep 0.1; done
[ -e "$WORK/received" ] || fail "the notification script did not run"

mapfile -t got <"$WORK/received"
[ "${#got[@]}" -eq 3 ] || fail "expected 3 arguments, got ${#got[@]}: ${got[*]}"
[ "${got[0]}" = "$TREE/" ] || fail "directory argument: '${got[0]}'"
# The size text of the grown total, in bytes with separators.
[[ "${got[1]}" =~ ^[0-9]{1,3}(,[0-9]{3})*\ bytes$ ]] || fail "size argument: '${got[1]}'"
expected="The disk space taken up by $TREE/ increased by more than 10% since the last saved scan.  (Current size: ${got[1]})"
[ "${got[2]}" = "$expected" ] || fail "message argument: '${got[2]}'"

# Once the grown tree is saved, the same check finds no growth and the run ends with 0.
"$VARNOW" "/DIR=$TREE" /SCAN /SAVE || fail "second save ended with status $?"
status=0
"$VARNOW" "/DIR=$TREE" /ALERTPERCENT=10 "/NOTIFY=$NOTIFY" '$DIR$' || status=$?
[ "$status" -eq 0 ] || fail "a run without growth ended with status $status"

# Without a display the alert box goes to standard error. A free-space minimum no disk can meet
# always fires; without /DIR= the current directory is checked. A notification program that does
# not exist falls back to the box, which names the command as substituted.
status=0
(cd "$TREE" && "$VARNOW" /FREEALERT=9000000000000000 2>"$WORK/stderr") || status=$?
[ "$status" -eq 3 ] || fail "the free-space alert ended with status $status, not 3"
grep -q "Varnow Alert: Free disk space on $TREE/ has dropped below " "$WORK/stderr" ||
  fail "no free-space alert on standard error: $(cat "$WORK/stderr")"

status=0
"$VARNOW" "/DIR=$TREE" /FREEALERT=9000000000000000 "/NOTIFY=$WORK/missing" '$DIR$' 2>"$WORK/stderr" || status=$?
[ "$status" -eq 3 ] || fail "the fallback run ended with status $status, not 3"
grep -qF "[This message is shown because $WORK/missing \"$TREE/\" could not be started]" "$WORK/stderr" ||
  fail "fallback text: $(cat "$WORK/stderr")"
echo "alert end to end: ok"
