# A virtual desktop for a machine without one: Xvfb on a free display, guarded by a cookie of
# its own, with trayer (or stalonetray) as the tray host. Callers stop it with
# stop_virtual_desktop (from a trap).
# shellcheck shell=bash disable=SC2034  # STARTED_GROUP, PRIVATE_HOME_ENV: for the scripts that source this

VIRTUAL_DESKTOP_PIDS=()
DESKTOP_SCREEN=1280x800x24

# Waits up to $1 tenths of a second for the command in the other arguments to succeed.
wait_for() {
    local tenths=$1
    shift
    while ! "$@"; do
        tenths=$((tenths - 1))
        [ "$tenths" -gt 0 ] || return 1
        sleep 0.1
    done
}

random_cookie() {
    od -An -N16 -tx1 /dev/urandom | tr -d ' \n'
}

# Starts Xvfb on the first free display number and exports DISPLAY and XAUTHORITY for it.
# $1: a directory for its files.
start_virtual_display() {
    local dir=$1 cookie
    cookie=$(random_cookie)
    export XAUTHORITY="$dir/Xauthority"
    : >"$XAUTHORITY"
    # The server takes every cookie in the file, whatever display it is written for; the
    # display number is only known once the server has picked one.
    xauth -q -f "$XAUTHORITY" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
    Xvfb -displayfd 3 -auth "$XAUTHORITY" -nolisten tcp -screen 0 "$DESKTOP_SCREEN" \
        3>"$dir/display" 2>"$dir/xvfb.log" &
    VIRTUAL_DESKTOP_PIDS+=($!)
    DISPLAY_FILE="$dir/display"
    if ! wait_for 100 display_number_written; then
        echo "error: Xvfb did not start; its log:" >&2
        cat "$dir/xvfb.log" >&2
        return 1
    fi
    DISPLAY=":$(head -n1 "$dir/display")"
    export DISPLAY
    xauth -q -f "$XAUTHORITY" add "$DISPLAY" MIT-MAGIC-COOKIE-1 "$cookie"
}

# The shell that starts Xvfb in the background makes the file; until it has, nothing is written.
display_number_written() {
    [ -f "$DISPLAY_FILE" ] && [ "$(wc -l <"$DISPLAY_FILE")" -ge 1 ]
}

tray_window_viewable() {
    grep -q 'Map State: IsViewable' <<<"$(xwininfo -name "$1" 2>/dev/null)"
}

# Starts the tray host on $DISPLAY, trayer or else stalonetray, and waits until its window is up
# (it holds the tray by then). $1: a directory for its log.
start_tray_host() {
    local dir=$1 window
    if command -v trayer >/dev/null; then
        window=panel
        trayer --edge top --align right --widthtype request --height 24 \
            --SetDockType true --SetPartialStrut false >"$dir/tray.log" 2>&1 &
    else
        window=stalonetray
        stalonetray --geometry 1x1-0+0 --icon-size 24 --window-type dock >"$dir/tray.log" 2>&1 &
    fi
    VIRTUAL_DESKTOP_PIDS+=($!)
    if ! wait_for 100 tray_window_viewable "$window"; then
        echo "error: the tray host did not come up; its log:" >&2
        cat "$dir/tray.log" >&2
        return 1
    fi
}

# Ends what start_virtual_display and start_tray_host started, tray host first.
stop_virtual_desktop() {
    local i pid
    for ((i = ${#VIRTUAL_DESKTOP_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${VIRTUAL_DESKTOP_PIDS[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    VIRTUAL_DESKTOP_PIDS=()
}

# Starts "$@" in the background in a session and process group of its own, so that it and
# whatever it starts (dbus-run-session's bus, for one) can be ended together. Sets
# STARTED_GROUP to its pid (which is also the group's id).
start_group() {
    setsid "$@" &
    STARTED_GROUP=$!
}

# Ends the process group that start_group started as $1, and waits for its leader.
stop_group() {
    local leader=$1
    kill -TERM -- "-$leader" 2>/dev/null || true
    wait "$leader" 2>/dev/null || true
}

# Sets PRIVATE_HOME_ENV to assignments for `env` that give a program a home, XDG directories
# and a runtime directory under $1 instead of the user's, so nothing reads or changes the
# user's own configuration.
private_home_env() {
    local dir=$1
    mkdir -p "$dir/home" "$dir/config" "$dir/cache" "$dir/data" "$dir/state" "$dir/runtime"
    chmod 700 "$dir/runtime"
    PRIVATE_HOME_ENV=(
        HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_CACHE_HOME="$dir/cache"
        XDG_DATA_HOME="$dir/data" XDG_STATE_HOME="$dir/state" XDG_RUNTIME_DIR="$dir/runtime"
    )
}
