#!/usr/bin/env bash
# Starts or stops a private X11 desktop with its own accessibility bus, for tests, the demo and
# the benchmark. Nothing it starts can see the caller's display, session bus or accessibility bus.
#
#   scripts/desktop.sh start STATE_DIR   start Xvfb (a free display), a session bus, the
#                                        accessibility bus (with accessibility switched on) and
#                                        openbox; write STATE_DIR/env (NAME=value lines)
#   scripts/desktop.sh stop STATE_DIR    end what start started and remove what it created
#   scripts/desktop.sh run -- CMD ARGS   start a desktop in a temporary folder, run CMD with its
#                                        environment, stop the desktop, exit with CMD's status
#   scripts/desktop.sh wayland-start STATE_DIR
#                                        on a started desktop, start a Wayland compositor (weston,
#                                        drawing into the desktop's X server, which gives it a seat:
#                                        its newest window is the active one) and write
#                                        STATE_DIR/wayland-env, the variables that put a program
#                                        on it; a program on it must also go without DISPLAY
#   scripts/desktop.sh wayland-stop STATE_DIR
#                                        end the compositor (stop ends it too)
#
# Each process is started with setsid, so it leads a process group of its own; its pid (which is
# also the group id) goes to STATE_DIR/pids/NAME. stop ends each group with kill -- -PGID, which
# also ends the children the group's leader started (the accessibility bus's dbus-daemon and the
# registry daemon it activates).
#
# STATE_DIR/env works both for `set -a; . STATE_DIR/env; set +a` and for programs that read
# NAME=value lines: values are never quoted, so STATE_DIR may only hold the characters
# [A-Za-z0-9._+/-].
#
# DESKTOP_TIMEOUT (seconds, default 20) bounds the wait for each piece.
set -euo pipefail
set +m # background jobs must stay in our group, so that setsid does not fork (see spawn)

TIMEOUT=${DESKTOP_TIMEOUT:-20}
GEOMETRY=${DESKTOP_GEOMETRY:-1280x1024x24}
BUS_LAUNCHER=${AT_SPI_BUS_LAUNCHER:-/usr/libexec/at-spi-bus-launcher}
SELF=$(readlink -f "$0")

usage() {
    echo "usage: $0 start STATE_DIR | stop STATE_DIR | wayland-start STATE_DIR | wayland-stop STATE_DIR | run -- CMD [ARGS...]" >&2
    exit 2
}

die() {
    echo "desktop: $*" >&2
    exit 1
}

# The variables everything on the desktop gets; written to STATE_DIR/env. Filled in by start.
declare -a ENV_LINES=()

# Runs a command with exactly the desktop's environment (nothing inherited but PATH and locale).
desk_env() {
    local -a vars=("PATH=$PATH" "LANG=${LANG:-C.UTF-8}")
    if [[ -n "${LC_ALL:-}" ]]; then vars+=("LC_ALL=$LC_ALL"); fi
    env -i "${vars[@]}" "${ENV_LINES[@]}" "$@"
}

# Same, as a command line for setsid (which cannot run a shell function).
desk_env_argv() {
    DESK_ENV_ARGV=(env -i "PATH=$PATH" "LANG=${LANG:-C.UTF-8}")
    if [[ -n "${LC_ALL:-}" ]]; then DESK_ENV_ARGV+=("LC_ALL=$LC_ALL"); fi
    DESK_ENV_ARGV+=("${ENV_LINES[@]}")
}

# Starts NAME (with the desktop's environment) in a process group of its own, logging to
# STATE_DIR/logs/NAME.log. When FD3_FILE is set, descriptor 3 is opened on it (for Xvfb's
# -displayfd and dbus-daemon's --print-address).
spawn() {
    local name=$1
    shift
    local log="$state/logs/$name.log"
    local -a DESK_ENV_ARGV
    desk_env_argv
    if [[ -n "${FD3_FILE:-}" ]]; then
        setsid "${DESK_ENV_ARGV[@]}" "$@" </dev/null >"$log" 2>&1 3>"$FD3_FILE" &
    else
        setsid "${DESK_ENV_ARGV[@]}" "$@" </dev/null >"$log" 2>&1 &
    fi
    local pid=$!
    echo "$pid" >"$state/pids/$name"
    # setsid only forks when its caller already leads a group, which a background job of a
    # non-interactive shell never does; check anyway, so stop never signals a wrong group.
    local pgid=""
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        pgid=$(ps -o pgid= -p "$pid" 2>/dev/null | tr -d ' ') || true
        if [[ "$pgid" == "$pid" ]]; then return 0; fi
        if ! kill -0 "$pid" 2>/dev/null; then break; fi
        sleep 0.05
    done
    if ! kill -0 "$pid" 2>/dev/null; then
        fail_start "$name exited at once: $(tail -5 "$log" 2>/dev/null)"
    fi
    fail_start "$name (pid $pid) does not lead its own process group (pgid ${pgid:-?})"
}

# wait_until WHAT CMD...: runs CMD every 0.1 s until it succeeds, for at most TIMEOUT seconds.
wait_until() {
    local what=$1
    shift
    local deadline=$((SECONDS + TIMEOUT))
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then
            fail_start "timed out after ${TIMEOUT}s waiting for $what"
        fi
        sleep 0.1
    done
}

# A piece exited or did not come up: say which, show its log, undo everything, fail.
fail_start() {
    echo "desktop: start failed: $*" >&2
    local log
    for log in "$state"/logs/*.log; do
        if [[ -s "$log" ]]; then
            echo "--- $(basename "$log")" >&2
            tail -n 15 "$log" >&2
        fi
    done
    "$FAIL_UNDO"
    exit 1
}

# What a failed start undoes: the whole desktop, or only the compositor.
FAIL_UNDO=stop_desktop

alive() {
    kill -0 "$(cat "$state/pids/$1")" 2>/dev/null
}

require_alive() {
    alive "$1" || fail_start "$1 exited: $(tail -5 "$state/logs/$1.log" 2>/dev/null)"
}

# True while the group has a process that is not a zombie. (Zombies count for kill -0, and an
# init that reaps slowly can leave them around for seconds.)
group_alive() {
    ps -e -o pgid=,stat= | awk -v g="$1" '$1 == g && $2 !~ /^Z/ { found = 1 } END { exit !found }'
}

# True if a live process of the group carries this desktop's XAUTHORITY in its environment, as
# everything start runs does: a stale pid file whose number has since been reused by some other
# process group is left alone.
group_is_ours() {
    local pid
    for pid in $(ps -e -o pid=,pgid=,stat= | awk -v g="$1" '$2 == g && $3 !~ /^Z/ { print $1 }'); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XAUTHORITY=$state/Xauthority"; then
            return 0
        fi
    done
    return 1
}

# Ends the process group recorded in STATE_DIR/pids/NAME: SIGTERM, then SIGKILL after 5 s.
end_group() {
    local file="$state/pids/$1"
    [[ -f "$file" ]] || return 0
    local pgid
    pgid=$(cat "$file")
    if [[ "$pgid" =~ ^[0-9]+$ ]] && ((pgid > 1)) && group_is_ours "$pgid"; then
        kill -TERM -- "-$pgid" 2>/dev/null || true
        local i
        for ((i = 0; i < 50; i++)); do
            group_alive "$pgid" || break
            sleep 0.1
        done
        if group_alive "$pgid"; then
            echo "desktop: $1 (group $pgid) ignored SIGTERM; killing it" >&2
            kill -KILL -- "-$pgid" 2>/dev/null || true
            for ((i = 0; i < 20; i++)); do
                group_alive "$pgid" || break
                sleep 0.1
            done
        fi
    fi
    rm -f "$file"
}

stop_desktop() {
    [[ -d "$state" ]] || return 0
    local name
    for name in weston openbox a11y session-bus xvfb; do
        end_group "$name"
    done
    if [[ -f "$state/display" ]]; then
        # A killed Xvfb leaves its lock and socket behind; remove them only if they are ours.
        local d
        d=$(tr -dc '0-9' <"$state/display")
        if [[ -n "$d" && -f "/tmp/.X$d-lock" ]]; then
            local owner
            owner=$(tr -dc '0-9' <"/tmp/.X$d-lock" 2>/dev/null || true)
            if [[ -n "$owner" ]] && ! kill -0 "$owner" 2>/dev/null; then
                rm -f "/tmp/.X$d-lock" "/tmp/.X11-unix/X$d"
            fi
        fi
    fi
    if [[ -f "$state/runtime-link" ]]; then
        local rt
        rt=$(cat "$state/runtime-link")
        if [[ "$rt" == /tmp/uiglean-rt-* ]]; then rm -rf "$rt"; fi
    fi
    local name
    for name in pids logs home run tmp openbox env env.new display Xauthority session-bus.address \
        runtime-link wayland-env; do
        rm -rf "${state:?}/$name"
    done
}

# True once org.a11y.Bus has an owner on the session bus and that owner is the launcher we started.
a11y_bus_is_ours() {
    local owner_pid
    owner_pid=$(desk_env dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID string:org.a11y.Bus \
        2>/dev/null | awk '{print $NF}') || return 1
    [[ -n "$owner_pid" && "$owner_pid" == "$(cat "$state/pids/a11y")" ]]
}

# Reads a property of org.a11y.Bus over the private session bus.
a11y_status() {
    desk_env dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
        org.freedesktop.DBus.Properties.Get string:org.a11y.Status "string:$1"
}

start_desktop() {
    [[ "$state" =~ ^[A-Za-z0-9._+/-]+$ ]] || die "STATE_DIR may hold only [A-Za-z0-9._+/-]: $state"
    local tool
    for tool in Xvfb xdpyinfo xauth xprop dbus-daemon dbus-send openbox setsid "$BUS_LAUNCHER"; do
        command -v "$tool" >/dev/null ||
            die "$tool is missing; install the Debian packages xvfb xauth x11-utils dbus openbox at-spi2-core"
    done
    mkdir -p "$state"
    state=$(cd "$state" && pwd)
    stop_desktop # whatever an interrupted run left behind
    mkdir -p "$state"/{pids,logs,tmp,openbox} "$state"/home/{.config,.local/share,.local/state,.cache}

    # Unix socket paths are limited to 107 bytes; the accessibility bus's socket lives in
    # XDG_RUNTIME_DIR/at-spi/, so a deep STATE_DIR gets its runtime folder under /tmp.
    local runtime="$state/run"
    if ((${#runtime} > 60)); then
        runtime=$(mktemp -d /tmp/uiglean-rt-XXXXXX)
        echo "$runtime" >"$state/runtime-link"
    else
        mkdir -p "$runtime"
    fi
    chmod 700 "$runtime"

    # Xvfb: picks a free display itself and writes its number once it accepts connections. The
    # server loads every cookie from the -auth file whatever display it is filed under; clients
    # need an entry for the real display, added once the number is known.
    local cookie
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    xauth -q -f "$state/Xauthority" add :0 MIT-MAGIC-COOKIE-1 "$cookie" 2>/dev/null
    : >"$state/display"
    ENV_LINES=("HOME=$state/home" "XAUTHORITY=$state/Xauthority")
    FD3_FILE="$state/display" spawn xvfb Xvfb -displayfd 3 -auth "$state/Xauthority" \
        -nolisten tcp -noreset -screen 0 "$GEOMETRY"
    local deadline=$((SECONDS + TIMEOUT))
    until grep -q '^[0-9][0-9]*$' "$state/display" 2>/dev/null; do
        require_alive xvfb
        ((SECONDS < deadline)) || fail_start "timed out after ${TIMEOUT}s waiting for Xvfb's display number"
        sleep 0.1
    done
    local display
    display=":$(cat "$state/display")"
    xauth -q -f "$state/Xauthority" add "$display" MIT-MAGIC-COOKIE-1 "$cookie" 2>/dev/null
    ENV_LINES=(
        "DISPLAY=$display"
        "XAUTHORITY=$state/Xauthority"
        "HOME=$state/home"
        "XDG_CONFIG_HOME=$state/home/.config"
        "XDG_DATA_HOME=$state/home/.local/share"
        "XDG_STATE_HOME=$state/home/.local/state"
        "XDG_CACHE_HOME=$state/home/.cache"
        "XDG_RUNTIME_DIR=$runtime"
        "XDG_CONFIG_DIRS=/etc/xdg"
        "XDG_DATA_DIRS=/usr/local/share:/usr/share"
        "XDG_SESSION_TYPE=x11"
        "TMPDIR=$state/tmp"
        "GDK_BACKEND=x11"
        "QT_QPA_PLATFORM=xcb"
        "GSETTINGS_BACKEND=memory"
        "NO_AT_BRIDGE=0"
        "GTK_A11Y=atspi"
        "QT_ACCESSIBILITY=1"
        "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"
    )
    wait_until "the X server on $display" desk_env xdpyinfo
    require_alive xvfb

    # The session bus, on a socket in the private runtime folder (never an abstract socket: a
    # program in a network namespace of its own, such as the test browser, could not reach it).
    : >"$state/session-bus.address"
    FD3_FILE="$state/session-bus.address" spawn session-bus dbus-daemon --session --nofork \
        --nopidfile --address="unix:path=$runtime/bus" --print-address=3
    deadline=$((SECONDS + TIMEOUT))
    until grep -q '^unix:' "$state/session-bus.address" 2>/dev/null; do
        require_alive session-bus
        ((SECONDS < deadline)) || fail_start "timed out after ${TIMEOUT}s waiting for the session bus address"
        sleep 0.1
    done
    ENV_LINES+=("DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$state/session-bus.address")")
    wait_until "the session bus" desk_env dbus-send --session --print-reply --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetId

    # The accessibility bus: the launcher owns org.a11y.Bus on the session bus, runs the bus's
    # dbus-daemon as its child and stores the address on the root window (AT_SPI_BUS) too.
    # Wait for the name without calling it: a call would make the session bus start a launcher
    # of its own from /usr/share/dbus-1/services if ours has not taken the name yet.
    spawn a11y "$BUS_LAUNCHER" --launch-immediately --a11y=1
    wait_until "org.a11y.Bus on the session bus (owned by the launcher)" a11y_bus_is_ours
    require_alive a11y
    desk_env dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
        org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true \
        >/dev/null || fail_start "could not set org.a11y.Status IsEnabled"
    a11y_status IsEnabled | grep -q true || fail_start "org.a11y.Status IsEnabled did not stay true"
    local a11y_address
    a11y_address=$(desk_env dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
        org.a11y.Bus.GetAddress | tr -d ' \n')
    [[ "$a11y_address" == unix:* ]] || fail_start "unexpected accessibility bus address '$a11y_address'"
    ENV_LINES+=("AT_SPI_BUS_ADDRESS=$a11y_address")
    # The registry is activated on the accessibility bus by the first call to it.
    wait_until "the registry on the accessibility bus" desk_env dbus-send --bus="$a11y_address" \
        --print-reply --dest=org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
        org.freedesktop.DBus.Properties.Get string:org.a11y.atspi.Accessible string:ChildCount

    # openbox with a configuration of our own: no key bindings (so keys a test sends reach the
    # application), click-to-focus on the title bar only, a flat root menu; the private
    # XDG_CONFIG_HOME keeps the user's files out. No button is bound in a window's client area:
    # openbox holds such a click in a synchronous grab and lets it through to the application
    # afterwards, and a click that came through the X test extension (uiglean click, xdotool)
    # never arrives then.
    cat >"$state/openbox/rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <resistance><strength>0</strength><screen_edge_strength>0</screen_edge_strength></resistance>
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse><focusLast>yes</focusLast></focus>
  <placement><policy>Smart</policy><center>yes</center></placement>
  <theme><name>Clearlooks</name><titleLayout>LIMC</titleLayout><keepBorder>yes</keepBorder><animateIconify>no</animateIconify></theme>
  <desktops><number>1</number><firstdesk>1</firstdesk><popupTime>0</popupTime></desktops>
  <resize><drawContents>yes</drawContents></resize>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <keyboard><chainQuitKey>C-g</chainQuitKey></keyboard>
  <mouse>
    <dragThreshold>1</dragThreshold><doubleClickTime>500</doubleClickTime><screenEdgeWarpTime>0</screenEdgeWarpTime>
    <context name="Titlebar">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
      <mousebind button="Left" action="Drag"><action name="Move"/></mousebind>
    </context>
    <context name="Close">
      <mousebind button="Left" action="Click"><action name="Close"/></mousebind>
    </context>
  </mouse>
  <menu><file>STATE/openbox/menu.xml</file><hideDelay>0</hideDelay></menu>
</openbox_config>
EOF
    sed -i "s|STATE/|$state/|" "$state/openbox/rc.xml"
    cat >"$state/openbox/menu.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_menu xmlns="http://openbox.org/3.4/menu">
  <menu id="root-menu" label="Desktop"></menu>
</openbox_menu>
EOF
    spawn openbox openbox --config-file "$state/openbox/rc.xml"
    wait_until "openbox to manage the screen" openbox_ready
    require_alive openbox

    printf "%s\n" "${ENV_LINES[@]}" >"$state/env.new"
    mv "$state/env.new" "$state/env"
}

# The window manager is up once the root's _NET_SUPPORTING_WM_CHECK names a window that names
# itself back (the EWMH handshake) and that window carries openbox's _NET_WM_NAME.
openbox_ready() {
    local root win
    root=$(desk_env xprop -root -notype _NET_SUPPORTING_WM_CHECK) || return 1
    win=$(grep -o '0x[0-9a-f]*' <<<"$root") || return 1
    desk_env xprop -id "$win" -notype _NET_SUPPORTING_WM_CHECK | grep -q "$win" || return 1
    desk_env xprop -id "$win" -notype _NET_WM_NAME | grep -qi openbox
}

WAYLAND_SOCKET_NAME=wayland-uiglean

start_wayland() {
    [[ -f "$state/env" ]] || die "no desktop runs in $state"
    command -v weston >/dev/null || die "weston is missing; install the Debian package weston"
    mapfile -t ENV_LINES <"$state/env"
    FAIL_UNDO=stop_wayland
    stop_wayland
    local runtime
    runtime=$(grep '^XDG_RUNTIME_DIR=' "$state/env" | cut -d= -f2-)
    # The X11 backend rather than the headless one: only it gives the compositor a seat, and
    # without a seat no window is ever activated.
    spawn weston weston --backend=x11-backend.so --use-pixman --no-config --idle-time=0 \
        --socket="$WAYLAND_SOCKET_NAME" --width=1280 --height=1024
    wait_until "weston's socket" test -S "$runtime/$WAYLAND_SOCKET_NAME"
    wait_until "weston's shell" grep -q "launching '.*weston-desktop-shell'" "$state/logs/weston.log"
    require_alive weston
    printf "%s\n" "WAYLAND_DISPLAY=$WAYLAND_SOCKET_NAME" "XDG_SESSION_TYPE=wayland" \
        "GDK_BACKEND=wayland" "QT_QPA_PLATFORM=wayland" >"$state/wayland-env.new"
    mv "$state/wayland-env.new" "$state/wayland-env"
}

stop_wayland() {
    end_group weston
    rm -f "$state/wayland-env"
}

action=${1:-}
case "$action" in
start)
    [[ $# -eq 2 && -n "$2" ]] || usage
    state=$2
    start_desktop
    grep '^DISPLAY=' "$state/env" | cut -d= -f2
    ;;
stop)
    [[ $# -eq 2 && -n "$2" ]] || usage
    state=$2
    if [[ -d "$state" ]]; then state=$(cd "$state" && pwd); fi
    stop_desktop
    ;;
wayland-start)
    [[ $# -eq 2 && -n "$2" ]] || usage
    state=$(cd "$2" && pwd)
    start_wayland
    ;;
wayland-stop)
    [[ $# -eq 2 && -n "$2" ]] || usage
    [[ -d "$2" ]] || exit 0
    state=$(cd "$2" && pwd)
    stop_wayland
    ;;
run)
    shift
    [[ "${1:-}" == "--" ]] && shift
    [[ $# -ge 1 ]] || usage
    run_state=$(mktemp -d /tmp/uiglean-desktop-XXXXXX)
    child=""
    # shellcheck disable=SC2317 # runs from the EXIT trap
    cleanup() {
        if [[ -n "$child" ]] && kill -0 "$child" 2>/dev/null; then
            kill -TERM "$child" 2>/dev/null || true
            wait "$child" 2>/dev/null || true
        fi
        "$SELF" stop "$run_state" || true
        rmdir "$run_state" 2>/dev/null || true
    }
    trap cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    "$SELF" start "$run_state" >/dev/null
    # CMD runs as a background job so that a signal to this script is handled at once (bash runs
    # traps only between commands); it keeps this script's standard input.
    exec 3<&0
    (
        unset AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY WAYLAND_SOCKET SESSION_MANAGER DBUS_SESSION_BUS_PID \
            DBUS_SESSION_BUS_WINDOWID DESKTOP_STARTUP_ID XDG_ACTIVATION_TOKEN XDG_SESSION_ID \
            XDG_SEAT XDG_VTNR XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP
        set -a
        # shellcheck source=/dev/null
        . "$run_state/env"
        set +a
        exec "$@" <&3 3<&-
    ) &
    child=$!
    exec 3<&-
    status=0
    wait "$child" || status=$?
    child=""
    exit "$status"
    ;;
*)
    usage
    ;;
esac
