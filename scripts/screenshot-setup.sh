#!/usr/bin/env bash
# Pictures of the setup screen with its directory question, at two screen sizes, taken on a
# private X server: OUTPUT_DIR/setup-1280x800.png and OUTPUT_DIR/setup-800x600.png.
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

shoot() {  # shoot WIDTHxHEIGHT
  local size=$1 display=:$((90 + RANDOM % 9))
  Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do DISPLAY=$display xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
  # A private home: the picture is taken before anything could be installed.
  HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share" \
    DISPLAY=$display QT_QPA_PLATFORM=xcb "$MEDIUM/setup" >/dev/null 2>&1 &
  SETUP_PID=$!
  for _ in $(seq 100); do
    DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"Application Directory"' && break
    sleep 0.1
  done
  sleep 0.5  # the first paint
  DISPLAY=$display import -window root "$OUT/setup-$size.png"
  kill "$SETUP_PID"; wait "$SETUP_PID" 2>/dev/null || true; SETUP_PID=
  kill "$XVFB_PID"; wait "$XVFB_PID" 2>/dev/null || true; XVFB_PID=
  echo "$OUT/setup-$size.png"
}

shoot 1280x800
shoot 800x600
