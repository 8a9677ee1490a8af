#!/usr/bin/env bash
# Installs what is missing, builds with sanitizers, and runs every test through CTest
# on a private session bus with an offscreen display. Exit status: CTest's.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh

BUILD=build/test
# A compiler cache, where the machine has one, makes a rebuild after a small change quick.
LAUNCHER=()
command -v ccache >/dev/null 2>&1 && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# The test build runs the fuzz targets of build/fuzz (below) for a bounded number of inputs, and
# builds the Debian package in build/release, where the README builds it too.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNOW_SANITIZE=ON \
      -DVARNOW_FUZZ_BUILD_DIR="$PWD/build/fuzz" -DVARNOW_PACKAGE_BUILD_DIR="$PWD/build/release" "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

# Fuzz targets need clang's libFuzzer; they get a build of their own, which the tests run.
if command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNOW_FUZZ=ON \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${LAUNCHER[@]}" >/dev/null
  cmake --build build/fuzz -j"$(nproc)"
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Nothing a test does may touch the real home folder.
TEST_HOME=$(mktemp -d)
trap 'rm -rf "$TEST_HOME"' EXIT
export HOME="$TEST_HOME" XDG_CONFIG_HOME="$TEST_HOME/config" XDG_DATA_HOME="$TEST_HOME/data"
exec dbus-run-session -- ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" "$@"
