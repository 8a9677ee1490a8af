# Shell helpers that drive the tracker's window on a virtual X display with real input events:
# a private Xvfb, a private home, windows found by their titles, and pointer positions worked out
# from the main window's dialog units. Source this file; it needs Xvfb and xdotool.
#
#   xd_start_display              starts Xvfb on a free display number; exports DISPLAY
#   xd_stop_display               ends it (call from an EXIT trap)
#   xd_private_home DIR DATA      HOME and XDG folders under DIR; the data file goes into DATA
#   xd_wait_window REGEX [SECS]   prints the id of the visible window whose title matches
#   xd_wait_gone ID [SECS]        waits until the window is no longer visible
#   xd_wait_line FILE TEXT [SECS] waits until FILE holds a line containing TEXT
#   xd_main_window ID             the main window at its first size: geometry and dialog-unit bases
#   xd_geometry ID                reads a window's position and size again (bases unchanged)
#   xd_unit_x N / xd_unit_y N     a position in dialog units, in pixels from the window's corner
#   xd_click X Y [BUTTON]         moves the pointer to the window position and clicks
#   xd_double_click X Y           the same with two quick clicks
#   xd_drag X Y DX                presses the left button at X Y and lets go DX further right

XD_XVFB_PID=
XD_WAIT=${XD_WAIT:-20}

xd_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

xd_start_display() {
  local number_file
  number_file=$(mktemp)
  # -displayfd: the server picks a free display itself and names it once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset 3>"$number_file" 2>/dev/null &
  XD_XVFB_PID=$!
  local i
  for i in $(seq 100); do
    if grep -q '[0-9]' "$number_file" 2>/dev/null; then break; fi
    kill -0 "$XD_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  local number
  number=$(tr -dc '0-9' <"$number_file")
  rm -f "$number_file"
  [ -n "$number" ] || xd_fail "Xvfb did not start"
  export DISPLAY=":$number"
  # Input goes to whatever is under the pointer until a window takes the focus.
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

xd_stop_display() {
  if [ -n "$XD_XVFB_PID" ]; then
    kill "$XD_XVFB_PID" 2>/dev/null || true
    wait "$XD_XVFB_PID" 2>/dev/null || true
    XD_XVFB_PID=
  fi
}

xd_private_home() {
  local dir=$1 data=$2
  export HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/config" XDG_DATA_HOME="$dir/home/data"
  export XDG_CACHE_HOME="$dir/home/cache" XDG_RUNTIME_DIR="$dir/home/runtime"
  mkdir -p "$XDG_CONFIG_HOME/zentrel/registry" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$data"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\r\n"DataDirectory"="%s"\r\n' \
    "$data/" >"$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"
}

xd_wait_window() {
  local regex=$1 seconds=${2:-$XD_WAIT} i id
  for i in $(seq $((seconds * 10))); do
    id=$(xdotool search --onlyvisible --name "$regex" 2>/dev/null | head -n 1) || true
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  xd_fail "no window titled '$regex' within $seconds s"
}

xd_wait_gone() {
  local id=$1 seconds=${2:-$XD_WAIT} i
  for i in $(seq $((seconds * 10))); do
    xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$id" || return 0
    sleep 0.1
  done
  xd_fail "window $id still open after $seconds s"
}

xd_wait_line() {
  local file=$1 text=$2 seconds=${3:-$XD_WAIT} i
  for i in $(seq $((seconds * 10))); do
    grep -qF -- "$text" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  xd_fail "'$text' did not appear in $file within $seconds s"
}

# The main window is laid out in dialog units: x × average character width / 4 and
# y × line height / 8 of its font. Its first size is 315 × 300 units (the grid and the treemap
# below it), which gives both bases back.
xd_main_window() {
  xd_geometry "$1"
  XD_BASE_X=$(((XD_W * 4 + 157) / 315))
  XD_BASE_Y=$(((XD_H * 8 + 299) / 300))
}

xd_geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  XD_X=$X XD_Y=$Y XD_W=$WIDTH XD_H=$HEIGHT
}

xd_unit_x() { echo $(($1 * XD_BASE_X / 4)); }
xd_unit_y() { echo $(($1 * XD_BASE_Y / 8)); }

xd_click() {
  xdotool mousemove --sync $((XD_X + $1)) $((XD_Y + $2))
  sleep 0.1
  xdotool click "${3:-1}"
}

xd_double_click() {
  xdotool mousemove --sync $((XD_X + $1)) $((XD_Y + $2))
  sleep 0.1
  xdotool click --repeat 2 --delay 60 1
}

xd_drag() {
  xdotool mousemove --sync $((XD_X + $1)) $((XD_Y + $2))
  sleep 0.1
  xdotool mousedown 1
  local step
  for step in 1 2 3 4; do
    xdotool mousemove --sync $((XD_X + $1 + $3 * step / 4)) $((XD_Y + $2))
    sleep 0.05
  done
  xdotool mouseup 1
}

# Where the resize handler puts the command buttons: the width right of the Scan button's first
# left edge, shared among them, but at most 20 units each; then they end 10 pixels before the
# window's right edge. Their numbers: 0 Scan, 1 Save Data, 2 Print, 3 Growth, 4 Preferences,
# 5 Alerts, 6 Help, 7 Exit.
XD_BUTTONS=8
XD_EXIT_BUTTON=7
xd_button_x() {
  local left w start
  left=$(xd_unit_x 156)
  w=$(((XD_W - left) / XD_BUTTONS))
  [ "$w" -le "$(xd_unit_x 20)" ] || w=$(xd_unit_x 20)
  start=$((XD_W - 10 - XD_BUTTONS * w))
  [ "$start" -ge "$left" ] || start=$left
  echo $((start + $1 * w + w / 2))
}
xd_button_y() { echo $(($(xd_unit_y 21) / 2)); }
