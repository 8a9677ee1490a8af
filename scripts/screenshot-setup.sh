#!/usr/bin/env bash
# Pictures of the setup screen with its directory question, and of the message that ends the
# install, at two screen sizes, taken on a private X server:
# OUTPUT_DIR/setup-1280x800.png, setup-done-1280x800.png, and the same at 800x600.
# Usage: screenshot-setup.sh OUTPUT_DIR [MEDIUM_FOLDER]   (default medium: build/dev/media/Varnow)
set -euo pipefail
OUT=$1
MEDIUM=${2:-$(cd "$(dirname "$0")/.." && pwd)/build/dev/media/Varnow}
[ -x "$MEDIUM/setup" ] || { echo "no setup in $MEDIUM; build the media target first" >&2; exit 1; }
mkdir -p "$OUT"
WORK=$(mktemp -d)
XVFB_PID= SETUP_PID=
cleanup() {
  [ -z "$SETUP_PID" ] || kill "$SETUP_PID" 2>/dev/null || true
  [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
# The install the pictures follow registers nothing, so that no scheduler is left running.
cp -a "$MEDIUM" "$WORK/medium"
sed -i 's/,REG\b/,NO/I' "$WORK/medium/SETUP.INI"

wait_windows() {  # wait_windows TITLE COUNT: until that many visible windows carry the title
  for _ in $(seq 100); do
    [ "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l)" -ge "$2" ] && return 0
    sleep 0.1
  done
  echo "no window \"$1\" came up" >&2
  return 1
}

shoot() {  # shoot WIDTHxHEIGHT
  local size=$1 number_file
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do grep -q '[0-9]' "$number_file" && break; sleep 0.1; done
  export DISPLAY=":$(tr -dc '0-9' <"$number_file")"
  rm -f "$number_file"
  local home="$WORK/home-$size"
  # A private home and bus: the install lands there and nothing else is touched.
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" QT_QPA_PLATFORM=xcb \
    dbus-run-session -- "$WORK/medium/setup" >/dev/null 2>&1 &
  SETUP_PID=$!
  wait_windows "Application Directory" 1
  sleep 0.5  # the first paint
  import -window root "$OUT/setup-$size.png"
  echo "$OUT/setup-$size.png"
  xdotool key Return
  wait_windows "Varnow Setup" 2  # the screen and the closing message
  sleep 0.5
  import -window root "$OUT/setup-done-$size.png"
  echo "$OUT/setup-done-$size.png"
  xdotool key Return
  wait "$SETUP_PID" 2>/dev/null || true; SETUP_PID=
  kill "$XVFB_PID"; wait "$XVFB_PID" 2>/dev/null || true; XVFB_PID=
}

shoot 1280x800
shoot 800x600
