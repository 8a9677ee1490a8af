#!/usr/bin/env bash
# A user's install from the medium's tarball into a private home on a private session bus:
# ask for the usage, install unattended, check files, menu entries and the scheduler's bus
# activation, run the installed tracker, install a second copy elsewhere and remove it, install
# again over the first, decline the uninstall, then uninstall with a scheduled alert and a data
# file in place.
# Usage: setup_end_to_end_test.sh MEDIUM_FOLDER   (its tarball beside it is used when present)
set -euo pipefail
MEDIUM=$(cd "$1" && pwd)

if [ "${SETUP_E2E_INSIDE:-}" != 1 ]; then
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-setup-XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share"
  unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  # The bus daemon watches the activation folder only if it exists when it starts.
  mkdir -p "$XDG_DATA_HOME/dbus-1/services"
  SETUP_E2E_INSIDE=1 WORK="$WORK" dbus-run-session -- bash "$0" "$MEDIUM"
  exit $?
fi

fail() { echo "FAIL: $*" >&2; exit 1; }
APP="$HOME/Varnow App"
SERVICE=com.zentrel.OrvSched
ACTIVATION="$XDG_DATA_HOME/dbus-1/services/$SERVICE.service"
MENU="$XDG_CONFIG_HOME/menus/applications-merged/varnow.menu"
ENTRIES="$XDG_DATA_HOME/applications"
HIVE="$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg"

# Servers from the installed folder are ended by their process ids when the test ends.
stop_installed_servers() {
  for exe in /proc/[0-9]*/exe; do
    case "$(readlink "$exe" 2>/dev/null)" in
      "$APP/orvsched"* | "$HOME/Second/orvsched"*) pid=${exe#/proc/}; kill "${pid%/exe}" 2>/dev/null || true ;;
    esac
  done
}
trap stop_installed_servers EXIT

wait_for() {  # wait_for DESCRIPTION COMMAND...: up to 10 s
  local what=$1; shift
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  fail "$what"
}
name_owned() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
                 --method org.freedesktop.DBus.NameHasOwner "$SERVICE" | grep -q true; }
name_free() { ! name_owned; }
get_num_tasks() {
  gdbus call --session --dest "$SERVICE" --object-path /OrvTaskMgr --method com.zentrel.IOrvTaskMgr.GetNumTasks \
    | grep -q "^(0, 0)$" || fail "the scheduler did not answer GetNumTasks"
  # A call without a lock stands for a client that comes and goes: with no tasks the server ends.
  wait_for "the scheduler did not end after its client left" name_free
}
# The installed server answers: the one setup's registration started, or, when that one found
# the name still held by a server that an earlier step woke (an uninstall asks the scheduler for
# its tasks) and ended, the one the bus starts from the activation file on the first call.
installed_server_runs() {
  local pid
  pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
          --method org.freedesktop.DBus.GetConnectionUnixProcessID "$SERVICE" 2>/dev/null |
        tr -dc '0-9 ' | awk '{print $NF}') || return 1
  [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe")" = "$APP/orvsched" ]
}
lock_installed_server() {
  gdbus call --session --dest "$SERVICE" --object-path /OrvTaskMgr --method com.zentrel.IOrvTaskMgr.Lock \
    >/dev/null 2>&1 && installed_server_runs
}
check_running_server() {
  if ! installed_server_runs; then sleep 1; fi
  installed_server_runs || wait_for "the installed server did not come up" lock_installed_server
  get_num_tasks
}

# The user unpacks the tarball (or copies the folder) and runs setup from there.
if [ -f "$MEDIUM/../varnow-setup.tar.gz" ]; then
  tar -xzf "$MEDIUM/../varnow-setup.tar.gz" -C "$WORK"
else
  cp -a "$MEDIUM" "$WORK/Varnow"
fi
# The usage, and a mistyped argument: nothing is installed.
for arguments in --help -h --prefix=/opt; do
  set +e
  "$WORK/Varnow/setup" "$arguments" >"$WORK/usage" 2>&1 </dev/null
  status=$?
  set -e
  [ $status = 2 ] || fail "setup $arguments ended with status $status"
  grep -q '^Usage: setup' "$WORK/usage" || fail "setup $arguments shows no usage"
  [ ! -e "$APP" ] && [ ! -e "$HOME/Varnow" ] || fail "setup $arguments installed something"
done

"$WORK/Varnow/setup" "/DIR=$APP/" </dev/null 2>"$WORK/installed" || fail "setup ended with status $?"
grep -q "Varnow is installed in $APP\." "$WORK/installed" || fail "the install does not say where it went"
grep -qF "(Varnow > Varnow) or with" "$WORK/installed" || fail "the install does not say how to start it"

mode() { stat -c %a "$1"; }
for program in varnow orvsched setup; do
  [ "$(mode "$APP/$program")" = 755 ] || fail "$program is not installed with mode 755"
done
[ "$(mode "$APP/SETUP.INI")" = 644 ] || fail "SETUP.INI is not installed with mode 644"
[ "$(mode "$HOME/.local/bin/zizeruv")" = 755 ] || fail "zizeruv is not in ~/.local/bin"
HAS_HELP=0
grep -q '^File.*VNHELP.HTM' "$WORK/Varnow/SETUP.INI" && HAS_HELP=1
[ $HAS_HELP = 0 ] || [ "$(mode "$APP/VNHELP.HTM")" = 644 ] || fail "the help page is not installed"

[ -f "$MENU" ] || fail "no menu file"
written=("$XDG_DATA_HOME/desktop-directories/varnow.directory" "$ENTRIES/varnow-varnow.desktop"
         "$ENTRIES/varnow-uninstall-varnow.desktop")
[ $HAS_HELP = 0 ] || written+=("$ENTRIES/varnow-varnow-help.desktop")
for file in "${written[@]}"; do
  [ -f "$file" ] || fail "$file was not written"
  desktop-file-validate --no-hints "$file" || fail "$file does not validate"
done
grep -q "^Exec=\"$APP/setup\" UNINSTALL$" "$ENTRIES/varnow-uninstall-varnow.desktop" ||
  fail "the uninstall item does not start the installed setup with UNINSTALL"
grep -qxF "Icon=$APP/varnow.svg" "$ENTRIES/varnow-varnow.desktop" || fail "the item does not show the installed icon"
grep -q '^Categories=System;Filesystem;Utility;' "$ENTRIES/varnow-varnow.desktop" ||
  fail "the item lacks the desktop entry's categories"

# Registration wrote the activation file; the server it started and a bus-activated one answer.
wait_for "no activation file" test -f "$ACTIVATION"
grep -qF "Exec='$APP/orvsched'" "$ACTIVATION" || fail "the activation file does not start the installed server"
check_running_server
get_num_tasks  # nothing runs now: the bus starts the installed server from the activation file

"$APP/varnow" --version | grep -q '^Varnow Version 2.0 (Build 74)$' || fail "varnow --version"
mkdir -p "$WORK/tree/sub"
head -c 100000 /dev/zero >"$WORK/tree/sub/file"
"$APP/varnow" "/DIR=$WORK/tree" /SCAN /PRINT=FILE=- >"$WORK/report" || fail "the automated scan failed"
grep -q sub "$WORK/report" || fail "the scan's report lacks the subdirectory"
grep -qi 'Software\\Zentrel\\VARNOW' "$HIVE" || fail "the tracker wrote no settings"

# A second copy elsewhere gets entries of its own; removing it leaves the first copy's.
SECOND="$HOME/Second"
"$WORK/Varnow/setup" "/DIR=$SECOND" </dev/null 2>"$WORK/second" || fail "the second install ended with status $?"
grep -qF 'this copy'"'"'s are in "Varnow (~/Second)"' "$WORK/second" || fail "the second install does not say so"
grep -qF "Exec=$SECOND/varnow" "$ENTRIES/varnow-second-varnow-second.desktop" || fail "the second copy has no entry"
grep -qF "Exec=\"$APP/varnow\"" "$ENTRIES/varnow-varnow.desktop" || fail "the second install took the first's entry"
"$SECOND/setup" UNINSTALL </dev/null 2>/dev/null || fail "the second copy's uninstall ended with status $?"
[ ! -e "$ENTRIES/varnow-second-varnow-second.desktop" ] || fail "the second copy's entry stays"
for file in "${written[@]}" "$MENU"; do
  [ -f "$file" ] || fail "removing the second copy removed $file"
done
[ -f "$APP/varnow" ] || fail "removing the second copy removed the first"

# Again over the installed copy: equal versions are simply replaced.
"$WORK/Varnow/setup" "/DIR=$APP" </dev/null || fail "setup over the install ended with status $?"
check_running_server

# No to the confirmation: nothing goes.
set +e
echo n | "$APP/setup" UNINSTALL 2>"$WORK/declined"
status=$?
set -e
[ $status = 1 ] || fail "a declined uninstall ended with status $status"
grep -q "Uninstall Confirmation" "$WORK/declined" || fail "no confirmation was asked"
[ -f "$APP/varnow" ] && [ -f "$ENTRIES/varnow-varnow.desktop" ] && [ -f "$ACTIVATION" ] ||
  fail "a declined uninstall removed something"

# A scheduled alert of the installed tracker (at log-on, so it never runs here) and one of
# another program; the user's data file.
trigger="byte 48$(printf ', byte 0%.0s' $(seq 31)), byte 7$(printf ', byte 0%.0s' $(seq 15))"
create_task() {  # create_task COMMAND_LINE OWNER
  gdbus call --session --dest "$SERVICE" --object-path /OrvTaskMgr --method com.zentrel.IOrvTaskMgr.CreateNewTask \
    "(uint32 2, 'alert', '$1', [$trigger], byte 0, uint32 0, uint32 $2)" | grep -q '^(0, ' ||
    fail "the scheduler did not take the task $1"
}
create_task "\"$APP/varnow\" /DIR=/tmp /ALERTPERCENT=10" 2
create_task "/bin/true" 1
mkdir -p "$XDG_DATA_HOME/varnow"
echo scans >"$XDG_DATA_HOME/varnow/VNDATA.DB"

"$APP/setup" UNINSTALL </dev/null 2>"$WORK/uninstalled" || fail "the uninstall ended with status $?"
grep -qF "1 scheduled alert was removed." "$WORK/uninstalled" || fail "the alert was not removed"
grep -qF "Kept: your data file ~/.local/share/varnow/VNDATA.DB" "$WORK/uninstalled" ||
  fail "the uninstall does not say it kept the data file"
[ "$(cat "$XDG_DATA_HOME/varnow/VNDATA.DB")" = scans ] || fail "the data file was touched"
count=$(gdbus call --session --dest "$SERVICE" --object-path /OrvTaskMgr --method com.zentrel.IOrvTaskMgr.GetNumTasks)
[ "$count" = "(0, 1)" ] || fail "the scheduler holds $count tasks, not the other program's one"
[ ! -e "$XDG_DATA_HOME/dbus-1/interfaces/com.zentrel.IOrvTaskMgr.xml" ] || fail "the interface description stays"
for file in varnow orvsched setup SETUP.INI VNHELP.HTM; do
  [ ! -e "$APP/$file" ] || fail "$file was not removed"
done
for file in "${written[@]}" "$MENU"; do
  [ ! -e "$file" ] || fail "$file was not removed"
done
wait_for "the activation file was not removed" test ! -e "$ACTIVATION"
! grep -qi 'Software\\Zentrel\\VARNOW' "$HIVE" || fail "the tracker's settings key was not removed"
[ -f "$HOME/.local/bin/zizeruv" ] || fail "a file in ~/.local/bin was removed"
echo "PASS"
