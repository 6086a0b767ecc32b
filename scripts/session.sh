# Sourced by ./test and ./run: starts an X server, a window manager and a throwaway Wine prefix,
# and stops them all when the calling script exits.

session_dir=$(mktemp -d /tmp/beam-tailor-session.XXXXXX)
session_pids=()

session_stop() {
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    for pid in "${session_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$session_dir"
}
trap session_stop EXIT

# An X server of its own on a free display, and openbox so that new windows take the focus as on a desktop.
session_start_display() {
    exec 3>"$session_dir/display"
    Xvfb -displayfd 3 -screen 0 1600x1200x24 -noreset -nolisten tcp >"$session_dir/xvfb.log" 2>&1 &
    session_pids+=($!)
    exec 3>&-
    local deadline=$((SECONDS + 20))
    until [ -s "$session_dir/display" ] && DISPLAY=":$(cat "$session_dir/display")" xprop -root >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || { echo "Xvfb did not start:" >&2; cat "$session_dir/xvfb.log" >&2; return 1; }
        sleep 0.1
    done
    export DISPLAY=":$(cat "$session_dir/display")"
    openbox >"$session_dir/openbox.log" 2>&1 &
    session_pids+=($!)
}

# A session bus of its own: the GTK tests see the program's widgets through the accessibility bus
# that it starts on demand.
session_start_bus() {
    local started
    started=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
    session_pids+=("$(sed -n 2p <<<"$started")")
    export DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$started")
}

# A Wine prefix, a fresh throwaway one unless one is named, whose server runs for the whole
# session with its output detached: a Wine process that inherited ctest's output pipe would keep
# ctest waiting for ever.
session_start_wine() {
    export WINEPREFIX="${1:-$session_dir/wine}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >/dev/null 2>&1
    # Debian's Wine does not find the Marlett font of fonts-wine by itself; without it the caption
    # buttons show letters instead of their symbols.
    cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # No crash dialogs.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    # Wine's windows are left to the session's window manager, as on a desktop: unmanaged, Wine
    # at times gave the desktop the activation back after a message box had returned it.
}
