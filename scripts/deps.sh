#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need.
# Installs only what is missing; on a complete machine it does nothing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev libqt6dbus6 libgl-dev fonts-dejavu-core qt6-svg-dev desktop-file-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-olefile libgsf-bin libspreadsheet-parseexcel-perl
  dbus-daemon dbus-bin libglib2.0-bin
  poppler-utils
  desktop-file-utils xvfb xdotool imagemagick x11-utils
)
PACKAGES+=(ncdu gdu time)
# The Debian package: its dependencies, icon pictures, manual pages and checkers; notifications.
PACKAGES+=(dpkg-dev lintian appstream librsvg2-bin man-db python3-dbusmock)
# The streaming JSON reader of /IMPORT=; promtool and node_exporter for the metrics tests.
PACKAGES+=(rapidjson-dev prometheus prometheus-node-exporter)

missing=()
for p in "${PACKAGES[@]}"; do
  [ -n "$p" ] || continue
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
