# Sourced by ./test and ./run: starts an X server, a window manager and a throwaway Wine prefix,
# and stops them all when the calling script exits. A service that does not start is named, with
# the end of its log, and the calling script ends.

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

# Says which service did not start and shows the end of its log, then fails.
session_failed() {
    local what=$1 log=$2
    echo "The test session could not start $what. The end of its log:" >&2
    tail -n 20 "$log" >&2 || true
    exit 1
}

# An X server of its own on a free display, and openbox so that new windows take the focus as on a desktop.
session_start_display() {
    local log=$session_dir/xvfb.log
    exec 3>"$session_dir/display"
    Xvfb -displayfd 3 -screen 0 1600x1200x24 -noreset -nolisten tcp >"$log" 2>&1 &
    local xvfb=$!
    session_pids+=($xvfb)
    exec 3>&-
    local deadline=$((SECONDS + 20))
    until [ -s "$session_dir/display" ] && DISPLAY=":$(cat "$session_dir/display")" xprop -root >/dev/null 2>&1; do
        kill -0 $xvfb 2>/dev/null || session_failed "the X server (Xvfb): it ended" "$log"
        [ $SECONDS -lt $deadline ] || session_failed "the X server (Xvfb) within 20 s" "$log"
        sleep 0.1
    done
    export DISPLAY=":$(cat "$session_dir/display")"
    openbox >"$session_dir/openbox.log" 2>&1 &
    session_pids+=($!)
}

# A session bus of its own: the GTK tests see the program's widgets through the accessibility bus
# that it starts on demand.
session_start_bus() {
    local log=$session_dir/dbus.log started
    started=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>"$log") ||
        session_failed "a session bus (dbus-daemon)" "$log"
    session_pids+=("$(sed -n 2p <<<"$started")")
    export DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$started")
}

# A Wine prefix, a fresh throwaway one unless one is named, for the Windows build that runs here
# (scripts/windows-arch), whose server runs for the whole session with its output detached: a Wine
# process that inherited ctest's output pipe would keep ctest waiting for ever. WINELOADER is the
# loader of that build: Debian's `wine` picks the 32-bit one whenever it is installed.
session_start_wine() {
    # Wine names Unix files in the locale's character set; without a UTF-8 one (no locale at all, as
    # on a fresh minimal Debian) a folder such as "Игры" cannot even be made.
    [ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
    export WINEPREFIX="${1:-$session_dir/wine}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ "${BEAM_WINDOWS_ARCH:-$(scripts/windows-arch)}" = x86_64 ]; then
        export WINELOADER=/usr/lib/wine/wine64
    else
        export WINELOADER=/usr/lib/wine/wine
    fi
    local log=$session_dir/wine.log
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >"$log" 2>&1 || session_failed "the Wine server" "$log"
    "$WINELOADER" wineboot -i </dev/null >>"$log" 2>&1 ||
        session_failed "a Wine prefix ($WINELOADER wineboot -i ended with status $?)" "$log"
    # Debian's Wine does not find the Marlett font of fonts-wine by itself; without it the caption
    # buttons show letters instead of their symbols.
    cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # No crash dialogs.
    "$WINELOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >>"$log" 2>&1 ||
        session_failed "Wine's registry editor" "$log"
    # Wine's windows are left to the session's window manager, as on a desktop: unmanaged, Wine
    # at times gave the desktop the activation back after a message box had returned it.
}
