#!/usr/bin/env bash
# Installs what is missing, builds the release, and runs the tracker: its window when a
# display is available, otherwise an automated scan of the current directory whose text report
# is printed on the terminal.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
"$HERE/scripts/deps.sh"
BUILD="$HERE/build/release"
cmake -S "$HERE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOW_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

VARNOW="$BUILD/bin/varnow"
if [ ! -x "$VARNOW" ]; then
  echo "Built: $(find "$BUILD" -maxdepth 2 -type f -executable -printf '%f ' 2>/dev/null)"
  echo "The tracker itself is not built yet."
  exit 0
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$VARNOW" "$@"
fi
exec "$VARNOW" "/DIR=$PWD" /SCAN /SAVE /PRINT=FILE=- "$@"
