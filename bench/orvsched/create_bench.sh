#!/bin/sh
# Creates N tasks (default 10000) through a registered orvsched on a private session bus, with a
# private home, and prints the time of each thousand.
#   bench/orvsched/create_bench.sh BUILD_DIR [N]
set -eu
build=$(cd "${1:?build folder}" && pwd)
count=${2:-10000}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" ORVSCHED_DATA_DIR="$home/store"
mkdir -p "$ORVSCHED_DATA_DIR"
uptime
dbus-run-session -- sh -c '"$1/orvsched/orvsched" -RegServer >/dev/null && "$1/bench/orvsched/task_create_bench" "$2"' sh "$build" "$count"
