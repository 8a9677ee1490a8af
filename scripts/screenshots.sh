#!/usr/bin/env bash
# Pictures of the tracker's windows on a virtual display, for a person to look at: the main
# window after scanning a small generated tree (at its first size and at 1000 × 700, the treemap
# below the grid), the treemap at 1200 × 900, the About box, the Growth dialog, the Largest Files
# dialog, the print options dialog, the alert dialog, the preferences, and the main window again
# with a 14-point display font.
#   scripts/screenshots.sh OUTDIR
#   BUILD=/path/to/build scripts/screenshots.sh OUTDIR    (default build/release, as run.sh builds)
# Needs Xvfb, xdotool and ImageMagick's import (scripts/deps.sh installs them).
set -euo pipefail
# The alert dialog talks to the scheduler service on the session bus: a private bus keeps the
# pictures' alerts away from the user's own.
if [ -z "${VARNOW_SHOTS_BUS:-}" ]; then
  VARNOW_SHOTS_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
HERE=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
OUT=$(mkdir -p "$1" && cd "$1" && pwd)
BUILD=${BUILD:-$HERE/build/release}
# shellcheck source=xdriver.sh
. "$HERE/scripts/xdriver.sh"

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$HERE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOW_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)" --target varnow orvsched >/dev/null
VARNOW="$BUILD/bin/varnow"
export PATH="$BUILD/bin:$PATH"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-shots-XXXXXX")
VARNOW_PID=
cleanup() {
  [ -n "$VARNOW_PID" ] && kill "$VARNOW_PID" 2>/dev/null
  xd_stop_display
  rm -rf "$WORK"
}
trap cleanup EXIT

# A small tree of known sizes: four subdirectories (one with blanks, one with a UTF-8 name), one
# of them nested, and a file at the top.
TREE="$WORK/tree"
make_file() { head -c "$2" /dev/zero >"$1"; }
mkdir -p "$TREE/alpha/inner" "$TREE/beta with blanks" "$TREE/gamma" "$TREE/grüße Ωμέγα"
for i in 1 2 3; do make_file "$TREE/alpha/a$i.dat" 102400; done
make_file "$TREE/alpha/inner/deep.bin" 2097152
make_file "$TREE/beta with blanks/one file.txt" 250000
make_file "$TREE/beta with blanks/two.txt" 250000
make_file "$TREE/grüße Ωμέγα/Фото.jpg" 1048576
make_file "$TREE/top.txt" 4096

xd_private_home "$WORK" "$WORK/data"
export ORVSCHED_DATA_DIR="$WORK/scheduler"
mkdir -p "$ORVSCHED_DATA_DIR"
# The window's scan is saved with its subdirectories: the grid's trend bars, the treemap and the
# Growth dialog compare it with the one saved before, with growth, a new directory and a removed
# file in between.
printf '"AutoSave"=dword:00000001\r\n"SubDirSave"=dword:00000001\r\n' >>"$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"
make_file "$TREE/gamma/old.dat" 1048576
DISPLAY= "$VARNOW" "/DIR=$TREE/" /SCAN /SAVESUBDIRS >/dev/null
sleep 1
make_file "$TREE/alpha/inner/more.bin" 3145728
make_file "$TREE/gamma/new.dat" 524288
rm "$TREE/gamma/old.dat"
make_file "$TREE/beta with blanks/three.txt" 400000
mkdir -p "$TREE/downloads"
make_file "$TREE/downloads/image.iso" 1572864
xd_start_display
TRACE="$WORK/trace.txt"
"$VARNOW" "/DEBUG=$TRACE" >"$WORK/varnow.out" 2>&1 &
VARNOW_PID=$!

# Waits for the dialog whose title matches, takes its picture into OUT and closes it.
shoot_dialog() {
  local dialog
  dialog=$(xd_wait_window "$1")
  sleep 0.5
  import -window "$dialog" "$OUT/$2"
  xdotool windowfocus --sync "$dialog" key Escape
  xd_wait_gone "$dialog"
}

main=$(xd_wait_window '^Varnow [0-9]+\.[0-9]+')
xd_main_window "$main"
sleep 2.5  # the splash stands over the window for two seconds

# Types the tree's path into the directory field, and Enter scans it.
scan_tree() {
  xd_click "$(xd_unit_x 60)" "$(xd_unit_y 31)"
  xdotool key ctrl+a
  xdotool type --delay 15 "$TREE/"
  xdotool key Return
  xd_wait_line "$TRACE" "CVarnowDlg::OnScan End"
  sleep 0.5
}
scan_tree
import -window "$main" "$OUT/main-window.png"

# Moved to the screen's corner first, so that the whole window is on the screen.
xdotool windowmove --sync "$main" 0 0 windowsize --sync "$main" 1000 700
sleep 0.5
xd_geometry "$main"
import -window "$main" "$OUT/main-window-1000x700.png"

# Larger, the treemap takes more room: its labels, the nesting and the legend.
xdotool windowsize --sync "$main" 1200 900
sleep 0.5
xd_geometry "$main"
import -window "$main" "$OUT/main-window-treemap.png"
# The Largest Files button at the right of the treemap's heading, below the splitter's middle.
split_top=$(xd_unit_y 81)
pane_top=$((split_top + (XD_H - 10 - split_top) / 2))
xd_click $((XD_W - 60)) $((pane_top + 16))
shoot_dialog '^Largest Files$' largest-files.png
xdotool windowsize --sync "$main" 1000 700
sleep 0.5
xd_geometry "$main"

# The About box from the context menu (a right click beside the status fields); the menu's
# first entry lies just below and right of the pointer.
xd_click "$(xd_unit_x 20)" "$(xd_unit_y 44)" 3
sleep 0.5
xdotool mousemove_relative --sync 25 12
xdotool click 1
shoot_dialog '^About Varnow$' about-box.png

# The Growth dialog from its button: the tree was saved twice with growth in between.
xd_click "$(xd_button_x 3)" "$(xd_button_y)"
shoot_dialog '^Growth of ' growth-dialog.png

# The print options dialog from the Print button.
xd_click "$(xd_button_x 2)" "$(xd_button_y)"
shoot_dialog '^Print Options$' print-options.png

# The preferences from their button: the data folder field shows the default folder greyed.
xd_click "$(xd_button_x 4)" "$(xd_button_y)"
shoot_dialog '^Varnow Preferences$' preferences.png

# The alert dialog from the Alerts button, with one alert: a task of the tracker's own keeps the
# scheduler running (this bus knows no activation file, so the server is started here).
"$BUILD/bin/orvsched" -regserver -regsvr >/dev/null 2>&1 &
for _ in $(seq 100); do
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner com.zentrel.OrvSched | grep -q true && break
  sleep 0.1
done
trigger="48,0, 0,0, 234,7, 1,0, 1,0, 0,0, 0,0, 0,0, 3,0, 0,0, $(printf '0,%.0s' $(seq 12))1,0,0,0, 1,0$(printf ',0%.0s' $(seq 10))"
gdbus call --session --dest com.zentrel.OrvSched --object-path /OrvTaskMgr \
  --method com.zentrel.IOrvTaskMgr.CreateNewTask \
  "(uint32 2, '$TREE/ space usage change > 10%, check every 1 day', '/bin/true', @ay [$trigger], byte 0, uint32 0, uint32 2)" >/dev/null
xd_click "$(xd_button_x 5)" "$(xd_button_y)"
sleep 1  # Escape does nothing while the dialog's calls are out
shoot_dialog '^Varnow Alert Management$' alert-management.png

# Again while the scheduler is slow to answer: it is stopped while the dialog opens, so the
# list's calls are out and the buttons disabled; once it goes on, the list and the buttons
# come back.
server=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetConnectionUnixProcessID com.zentrel.OrvSched | sed 's/.*uint32 \([0-9]*\).*/\1/')
kill -STOP "$server"
xd_click "$(xd_button_x 5)" "$(xd_button_y)"
dialog=$(xd_wait_window '^Varnow Alert Management$')
sleep 1
import -window "$dialog" "$OUT/alert-management-waiting.png"
kill -CONT "$server"
sleep 1
shoot_dialog '^Varnow Alert Management$' alert-management-answered.png

# The preferences from their button.
xd_click "$(xd_button_x 4)" "$(xd_button_y)"
shoot_dialog '^Varnow Preferences$' preferences.png

# Exit.
exit_varnow() {
  xd_click "$(xd_button_x "$XD_EXIT_BUTTON")" "$(xd_button_y)"
  for _ in $(seq 100); do kill -0 "$VARNOW_PID" 2>/dev/null || break; sleep 0.1; done
  wait "$VARNOW_PID" 2>/dev/null || true
  VARNOW_PID=
}
exit_varnow

# Again with a 14-point font (19 pixels at 96 dots per inch) stored as the display font: the
# 60-byte record, height -19, weight 400, face "DejaVu Sans".
/usr/bin/python3 - "$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg" <<'PY'
import struct
import sys
path = sys.argv[1]
record = struct.pack("<5i8B", -19, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0) + b"DejaVu Sans".ljust(32, b"\0")
line = '"Font"=hex:' + ",".join("%02x" % b for b in record)
lines, skipping = [], False
for l in open(path, encoding="utf-8").read().replace("\r\n", "\n").split("\n"):
    if l.startswith('"Font"=') or skipping:  # the old value, with its continued lines
        skipping = l.endswith("\\")
        continue
    lines.append(l)
at = lines.index("[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]") + 1
lines.insert(at, line)
open(path, "w", encoding="utf-8", newline="").write("\r\n".join(lines))
PY
"$VARNOW" "/DEBUG=$TRACE.2" >>"$WORK/varnow.out" 2>&1 &
VARNOW_PID=$!
TRACE="$TRACE.2"
main=$(xd_wait_window '^Varnow [0-9]+\.[0-9]+')
xd_main_window "$main"
sleep 2.5
scan_tree
import -window "$main" "$OUT/main-window-14pt.png"
xdotool windowmove --sync "$main" 0 0 windowsize --sync "$main" 1200 800
sleep 0.5
xd_geometry "$main"
import -window "$main" "$OUT/main-window-14pt-1200x800.png"
exit_varnow
ls -1 "$OUT"/*.png
