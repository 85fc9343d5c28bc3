#!/usr/bin/env bash
# The installed desktop entry starts the installed program when a desktop runs it (gio launch,
# as GLib-based desktops do), from a prefix whose characters the entry has to quote and escape.
# Uses the display and session bus of the test run, with a home and XDG directories of its own,
# and ends the program before it returns.
#
#   desktop-launch-test.sh BUILD_DIR LIBDIR DATADIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/lib.sh"
build=$1 LIBDIR=$2 DATADIR=$3
need gio libglib2.0-bin
if [ -z "${DISPLAY:-}" ] || [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "skipped: needs DISPLAY and DBUS_SESSION_BUS_ADDRESS (scripts/test provides both)"
    exit 77
fi
make_work_dir
# As special_prefix, less the %: GLib looks an entry's program up before it turns %% back into %,
# so no GLib-based desktop can start a program whose path holds one. The entry written for such
# a path is checked by desktop-file-validate in install-tree-test.sh.
prefix="$WORK/pre fix 'q' \$HOME \"d\" \`b\` ;s"
program="$(installed_dir "$LIBDIR" "$prefix")/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2"
entry="$(installed_dir "$DATADIR" "$prefix")/applications/com.pellvane.Brimlow2.desktop"

# Prints the ids of the processes running the installed program. A zombie has no exe to read,
# so one that has ended is not listed even before it is reaped.
program_processes() {
    local exe
    for exe in /proc/[0-9]*/exe; do
        if [ "$(readlink "$exe" 2>/dev/null)" = "$program" ]; then
            exe=${exe#/proc/}
            echo "${exe%/exe}"
        fi
    done
}

# Ends every copy of the installed program; one still up after 5 seconds is killed, and that fails
# the test.
stop_program() {
    local pids tenths=50
    pids=$(program_processes)
    [ -z "$pids" ] && return 0
    # shellcheck disable=SC2086  # one id a word
    kill -TERM $pids 2>/dev/null || true
    while [ -n "$(program_processes)" ]; do
        tenths=$((tenths - 1))
        if [ "$tenths" -le 0 ]; then
            # shellcheck disable=SC2046  # one id a word
            kill -KILL $(program_processes) 2>/dev/null || true
            fail "the program ignored SIGTERM for 5 seconds"
            return 0
        fi
        sleep 0.1
    done
}
trap 'stop_program; rm -rf "$WORK"' EXIT

install_tree "$build" "$prefix"
[ -z "$(program_processes)" ] || fail "the installed program runs before it was launched"

home="$WORK/home"
mkdir -p "$home" "$WORK/config" "$WORK/data" "$WORK/cache" "$WORK/state"
# An unreachable server on this machine, so start-up sends nothing anywhere.
env HOME="$home" XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" \
    XDG_CACHE_HOME="$WORK/cache" XDG_STATE_HOME="$WORK/state" BRIMLOW_SERVER_HOST=127.0.0.1:1 \
    gio launch "$entry" || fail "gio launch $entry failed"

pid=""
for _ in $(seq 100); do
    pid=$(program_processes | head -n1)
    [ -n "$pid" ] && break
    sleep 0.1
done
if [ -z "$pid" ]; then
    fail "launching the desktop entry did not start $program"
else
    # Up for real: it stores its first launch in the configuration it was given.
    settings="$WORK/config/pellvane/Brimlow2.conf"
    for _ in $(seq 100); do
        [ -f "$settings" ] && break
        sleep 0.1
    done
    [ -f "$settings" ] || fail "the launched program wrote no settings to $settings"
    if [ -z "$(program_processes)" ]; then
        fail "the launched program did not stay up"
    fi
    stop_program
fi

finish
