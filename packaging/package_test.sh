#!/usr/bin/env bash
# Builds the Debian package in a Release build folder (kept between runs, so a rerun only
# rebuilds what changed; one configured already is built as it is), checks its contents and lintian's verdict, unpacks it into a
# temporary root and runs the unpacked tracker unattended on a generated tree.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
SOURCE=$1
BUILD=$2
for tool in dpkg-deb lintian; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/deps.sh installs it); the package is not checked"
    exit 77
  fi
done
fail() { echo "FAIL: $*" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S "$SOURCE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOW_TESTS=OFF "${launcher[@]}" >/dev/null
fi
rm -f "$BUILD"/varnow_*.deb
cmake --build "$BUILD" -j2 --target package >"$WORK/build.log" 2>&1 || { tail -40 "$WORK/build.log"; fail "the package did not build"; }
debs=("$BUILD"/varnow_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package, found: ${debs[*]}"
DEB=${debs[0]}
echo "package: $(basename "$DEB"), $(stat -c %s "$DEB") bytes"

# The control fields: the version of the programs' record, the build's architecture, and
# dependencies found by dpkg-shlibdeps.
version=$(dpkg-deb -f "$DEB" Version)
[[ "$version" == "$(sed -n 's/^project(Varnow VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")-"* ]] ||
  fail "version $version is not the programs' version"
[ "$(dpkg-deb -f "$DEB" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
dpkg-deb -f "$DEB" Depends | grep -q 'libqt6core6' || fail "no library dependencies: $(dpkg-deb -f "$DEB" Depends)"
dpkg-deb -f "$DEB" Maintainer | grep -q '@' || fail "no maintainer"

# The contents: every file where Debian and the desktop look for it, owned by root.
dpkg-deb -c "$DEB" >"$WORK/contents"
expected=(
  ./usr/bin/varnow ./usr/bin/orvsched ./usr/bin/zizeruv ./usr/bin/cfb
  ./usr/share/applications/varnow.desktop
  ./usr/share/icons/hicolor/scalable/apps/varnow.svg
  ./usr/share/metainfo/com.zentrel.Varnow.metainfo.xml
  ./usr/share/dbus-1/services/com.zentrel.OrvSched.service
  ./usr/share/dbus-1/interfaces/com.zentrel.IOrvTaskMgr.xml
  ./usr/share/man/man1/varnow.1.gz ./usr/share/man/man1/orvsched.1.gz ./usr/share/man/man1/cfb.1.gz
  ./usr/share/doc/varnow/VNHELP.HTM ./usr/share/doc/varnow/copyright ./usr/share/doc/varnow/changelog.Debian.gz
)
for size in 16 32 48 64 128 256; do expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/varnow.png"); done
for path in "${expected[@]}"; do
  grep -q " $path\$" "$WORK/contents" || fail "$path is not in the package"
done
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$WORK/contents" || fail "files not owned by root"

# lintian: no errors; its warnings are listed in the README with the reason each is kept.
lintian --fail-on error "$DEB" >"$WORK/lintian" 2>&1 || { cat "$WORK/lintian"; fail "lintian reports errors"; }
cat "$WORK/lintian"
if grep -q '^W: ' "$WORK/lintian"; then
  while read -r tag; do
    grep -qF "\`$tag\`" "$SOURCE/README.md" || fail "lintian warning $tag is not explained in the README"
  done < <(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$WORK/lintian" | tr -d ':' | sort -u)
fi

# Unpacked, the files are what the desktop's own checkers accept.
ROOT="$WORK/root"
dpkg -x "$DEB" "$ROOT"
desktop-file-validate "$ROOT/usr/share/applications/varnow.desktop" || fail "desktop entry"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$ROOT/usr/share/metainfo/com.zentrel.Varnow.metainfo.xml" >"$WORK/appstream" 2>&1 ||
    { cat "$WORK/appstream"; fail "AppStream metadata"; }
fi
grep -qx 'Exec=/usr/bin/orvsched' "$ROOT/usr/share/dbus-1/services/com.zentrel.OrvSched.service" ||
  fail "the activation file does not start the packaged scheduler"
for size in 16 32 48 64 128 256; do
  identify -format '%wx%h' "$ROOT/usr/share/icons/hicolor/${size}x${size}/apps/varnow.png" | grep -qx "${size}x${size}" ||
    fail "the ${size} pixel icon has another size"
done
# Each manual page renders without a warning and tells what --help tells.
for program in varnow orvsched cfb zizeruv; do
  page="$ROOT/usr/share/man/man1/$program.1.gz"
  [ -f "$page" ] || continue
  # col -b takes out the overstriking that marks bold and underlined words.
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$page" 2>"$WORK/warnings" | col -b >"$WORK/page" ||
    fail "$program.1 does not render"
  [ ! -s "$WORK/warnings" ] || { cat "$WORK/warnings"; fail "$program.1 renders with warnings"; }
  "$ROOT/usr/bin/$program" --help >"$WORK/help" || fail "$program --help ended with status $?"
  grep -q "^Usage: $program " "$WORK/help" || fail "$program --help: $(head -3 "$WORK/help")"
  while read -r switch; do
    grep -qF -- "$switch" "$WORK/page" || fail "$program.1 lacks $switch, which --help names"
  done < <(sed -n '/^Switches:/,/^$/s/^  \([^ ]\+\).*/\1/p' "$WORK/help")
done

# The unpacked tracker, unattended, on a generated tree: it scans, saves and reports.
# shellcheck source=../scripts/xdriver.sh
. "$SOURCE/scripts/xdriver.sh"
xd_private_home "$WORK" "$WORK/data"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
TREE="$WORK/tree"
for dir in alpha "beta gamma" delta/deep; do
  mkdir -p "$TREE/$dir"
  for i in 1 2 3; do head -c $((i * 20480)) /dev/zero >"$TREE/$dir/file$i"; done
done
VARNOW="$ROOT/usr/bin/varnow"
"$VARNOW" --version | grep -q "^Varnow Version 2\." || fail "--version: $("$VARNOW" --version)"
"$VARNOW" "/DIR=$TREE" /SCAN /SAVE || fail "the unattended scan ended with status $?"
[ -s "$WORK/data/VNDATA.DB" ] || fail "the scan saved no data file"
"$VARNOW" "/DIR=$TREE" /PRINT=FILE=- >"$WORK/report" || fail "the report ended with status $?"
for dir in alpha "beta gamma" delta; do
  grep -q "$dir" "$WORK/report" || fail "the report lacks $dir: $(cat "$WORK/report")"
done
"$ROOT/usr/bin/cfb" list "$WORK/data/VNDATA.DB" | grep -q 'KOB\[VNData\]' || fail "cfb cannot read the data file"
status=0
"$VARNOW" "/DIR=$TREE" /FREEALERT=9000000000000000 2>"$WORK/stderr" || status=$?
[ "$status" -eq 3 ] || fail "the free-space alert ended with status $status, not 3"
echo "package: ok"
