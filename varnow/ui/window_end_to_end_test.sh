#!/usr/bin/env bash
# The real program's window on a private virtual display, used as a person would, with real
# pointer and key events: type a directory and press Enter (a scan), double-click a
# subdirectory, "Back ...", Return and Backspace in the grid, Escape (which leaves the window
# open), a click on a scan's heading (sorts by size), column drags, Save Data, Exit. Then the
# data file, the trace log and the settings are read back.
# Usage: window_end_to_end_test.sh /path/to/varnow /path/to/cfb
set -euo pipefail
VARNOW=$1
CFB=$2
HERE=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/xdriver.sh
. "$HERE/scripts/xdriver.sh"
for tool in Xvfb xdotool /usr/bin/python3; do
  command -v "$tool" >/dev/null || xd_fail "$tool is missing (scripts/deps.sh installs it)"
done

WORK=$(cd "$(mktemp -d "${TMPDIR:-/tmp}/varnow-window-XXXXXX")" && pwd -P)  # as the program names it
VARNOW_PID=
cleanup() {
  if [ -n "$VARNOW_PID" ]; then kill "$VARNOW_PID" 2>/dev/null || true; fi
  xd_stop_display
  rm -rf "$WORK"
}
trap cleanup EXIT

TREE="$WORK/tree"
mkdir -p "$TREE/alpha/inner" "$TREE/beta with blanks" "$TREE/grüße"
head -c 40960 /dev/zero >"$TREE/alpha/inner/a.bin"
head -c 8192 /dev/zero >"$TREE/beta with blanks/b.txt"
head -c 4096 /dev/zero >"$TREE/grüße/c.txt"

DATA="$WORK/data"
xd_private_home "$WORK" "$DATA"
xd_start_display
TRACE="$WORK/trace.txt"
"$VARNOW" "/DEBUG=$TRACE" >"$WORK/varnow.out" 2>&1 &
VARNOW_PID=$!

main=$(xd_wait_window '^Varnow [0-9]+\.[0-9]+')
xd_main_window "$main"
xd_wait_line "$TRACE" "CVarnowDlg::OnInitDialog"
sleep 2.5  # the splash stands over the window for two seconds

xd_click "$(xd_unit_x 60)" "$(xd_unit_y 31)"
xdotool key ctrl+a
xdotool type --delay 15 "$TREE/"
xdotool key Return  # Enter in the directory field scans
xd_wait_line "$TRACE" "CVarnowDlg::OnScan End"
sleep 0.3

# The grid starts 81 units down; below its heading row (bold line height + 10) come the rows, each
# a line height + 6 high. Sorted by name, "alpha" is the first.
grid_top=$(xd_unit_y 81)
heading=$((XD_BASE_Y + 10))
first_row=$((grid_top + 1 + heading + (XD_BASE_Y + 6) / 2))
xd_double_click 95 "$first_row"
xd_wait_line "$TRACE" "OnDlgClickGrid scandir=$TREE/ gridDir=alpha"
sleep 0.3
xd_click 40 $((grid_top + 1 + heading / 2))  # "Back ..." at the left of the corner cell
xd_wait_line "$TRACE" "OnBack"
sleep 0.3
# The keyboard in the grid: a click selects "alpha", Return opens it, Backspace goes back up.
xd_click 95 "$first_row"
sleep 0.2
xdotool key Return
for _ in $(seq 50); do [ "$(grep -c "gridDir=alpha" "$TRACE")" -ge 2 ] && break; sleep 0.1; done
[ "$(grep -c "gridDir=alpha" "$TRACE")" -ge 2 ] || xd_fail "Return in the grid opened nothing"
sleep 0.3
xdotool key BackSpace
for _ in $(seq 50); do [ "$(grep -c "OnBack" "$TRACE")" -ge 2 ] && break; sleep 0.1; done
[ "$(grep -c "OnBack" "$TRACE")" -ge 2 ] || xd_fail "Backspace in the grid did not go up"
# Escape leaves the main window open.
xdotool key Escape
sleep 0.5
kill -0 "$VARNOW_PID" 2>/dev/null || xd_fail "Escape ended the program"
xdotool search --onlyvisible --name '^Varnow [0-9]+\.[0-9]+' >/dev/null || xd_fail "Escape closed the window"
# A click on the newest scan's heading (after the Trend column) sorts by size: sort method 1.
trend=65
xd_click $((11 + 170 + trend + 50)) $((grid_top + 1 + heading / 2))
sleep 0.3
# Widen the name column by 30 pixels at its right edge, and the first scan column (after the
# Trend column, as wide as its bars in this font) by 40 at the line after it in the heading row;
# the window keeps the widths when it closes.
xd_drag 179 "$first_row" 30
sleep 0.3
xd_drag $((11 + 200 + trend + 130)) $((grid_top + 1 + heading / 2)) 40
sleep 0.3
xd_click "$(xd_button_x 1)" "$(xd_button_y)"  # Save Data
sleep 0.3
xd_click "$(xd_button_x "$XD_EXIT_BUTTON")" "$(xd_button_y)"  # Exit

for _ in $(seq 300); do kill -0 "$VARNOW_PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$VARNOW_PID" 2>/dev/null && xd_fail "the program is still running after Exit"
status=0
wait "$VARNOW_PID" || status=$?
VARNOW_PID=
[ "$status" -eq 0 ] || xd_fail "the program ended with status $status: $(cat "$WORK/varnow.out")"

# The handlers ran in the order of the user's actions.
/usr/bin/python3 - "$TRACE" "$TREE" <<'PY' || xd_fail "trace log: see above"
import sys
trace, tree = open(sys.argv[1], encoding="utf-8", errors="replace").read(), sys.argv[2]
expected = ["CVarnowDlg::OnInitDialog", "CVarnowDlg::OnScan Begin", "CVarnowDlg::OnScan End",
            "OnDlgClickGrid scandir=%s/ gridDir=alpha" % tree, "OnBack",
            "OnDlgClickGrid scandir=%s/ gridDir=alpha" % tree, "OnBack", "CVarnowDlg::OnDestroy"]
at = 0
for line in expected:
    found = trace.find(line, at)
    if found < 0:
        sys.exit("missing or out of order: %r\n%s" % (line, trace))
    at = found + len(line)
PY

# The data file holds the tree's record with its three subdirectories, and the record of alpha.
DB="$DATA/VNDATA.DB"
[ -s "$DB" ] || xd_fail "no data file $DB"
STORAGE="${TREE#/}"
listing=$("$CFB" list "$DB") || xd_fail "cfb cannot read $DB"
grep -qxF "storage 0 $STORAGE" <<<"$listing" || xd_fail "no storage $STORAGE in: $listing"
grep -q "^stream [1-9][0-9]* $STORAGE/KOB\[VNData\]\$" <<<"$listing" || xd_fail "no record of the tree in: $listing"
"$CFB" cat "$DB" "$STORAGE/KOB[VNData]" >"$WORK/tree.rec" || xd_fail "cfb cannot read the tree's record"
"$CFB" cat "$DB" "$STORAGE/alpha/KOB[VNData]" >"$WORK/alpha.rec" || xd_fail "cfb cannot read alpha's record"
/usr/bin/python3 - "$DB" "$STORAGE" "$WORK" <<'PY' || xd_fail "records: see above"
import struct
import sys
import olefile
db, storage, work = sys.argv[1:]
if not olefile.isOleFile(db):
    sys.exit("not a compound file: " + db)
with olefile.OleFileIO(db) as ole:
    tree = ole.openstream(storage + "/KOB[VNData]").read()
    alpha = ole.openstream(storage + "/alpha/KOB[VNData]").read()
# Both readers see the same bytes.
if tree != open(work + "/tree.rec", "rb").read() or alpha != open(work + "/alpha.rec", "rb").read():
    sys.exit("cfb and olefile read different records")
def holds(record, name):
    name = name.encode()
    return struct.pack("<I", len(name)) + name in record  # entries: name length, name, sizes
for name in ("alpha", "beta with blanks", "grüße"):
    if not holds(tree, name):
        sys.exit("the tree's record lacks %r" % name)
if not holds(alpha, "inner"):
    sys.exit("alpha's record lacks inner")
PY

# The window wrote its column widths and ended the first run.
REG="$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"
settings=$(tr -d '\r' <"$REG")
for value in DirNameWidth Col1Width Col2Width Col3Width Col4Width Col5Width Col6Width; do
  grep -qx "\"$value\"=dword:[0-9a-f]\{8\}" <<<"$settings" || xd_fail "$value missing from $REG: $settings"
done
grep -qxF '"FirstRun"=dword:00000000' <<<"$settings" || xd_fail "FirstRun is not 0 in $REG: $settings"
grep -qxF '"PreferredSortMethod"=dword:00000001' <<<"$settings" ||
  xd_fail "the heading click did not choose sort method 1: $settings"
stored() { sed -n "s/^\"$1\"=dword:\([0-9a-f]\{8\}\)\$/\1/p" <<<"$settings"; }
near() { [ $((16#$(stored "$1"))) -ge $(($2 - 3)) ] && [ $((16#$(stored "$1"))) -le $(($2 + 3)) ]; }
near DirNameWidth 200 || xd_fail "DirNameWidth is not about 200 after the drag: $(stored DirNameWidth)"
near Col1Width 170 || xd_fail "Col1Width is not about 170 after the drag: $(stored Col1Width)"
[ "$(stored Col2Width)" = 00000082 ] || xd_fail "Col2Width changed: $(stored Col2Width)"
echo "window end to end: ok"
