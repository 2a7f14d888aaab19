# Sourced by the Windows test scripts: a private Wine prefix in a temporary folder, whose audio
# goes to the private PulseAudio server of audio-sandbox.sh and whose windows go to the private X
# server of display-sandbox.sh (start both first). HOME and the XDG folders point into the same
# temporary folder and Wine's menu builder is off, so nothing is written into the user's own home
# (Wine otherwise links the prefix's Documents to ~/Documents and adds Start-menu entries to
# ~/.local/share/applications).
#
# start_wine_sandbox: creates the prefix and exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES; it
#                     is removed when the script ends (scripts/common.sh's at_exit).
# stop_wine_sandbox: stops the prefix's Wine server and removes the folder.
# wine_path VARIABLE: the Unix path of a Windows folder of the prefix, e.g. wine_path LOCALAPPDATA.

start_wine_sandbox() {
    HUSHWELL_WINE_DIR=$(mktemp -d /tmp/hushwell-wine.XXXXXX)
    export HUSHWELL_WINE_DIR
    at_exit stop_wine_sandbox
    export WINEPREFIX="$HUSHWELL_WINE_DIR/prefix"
    # Without Wine's debugger a program that crashes ends with a failing status; the debugger
    # prints its backtrace and lets it end with 0, as if its tests had passed.
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
    export HOME="$HUSHWELL_WINE_DIR/home"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
    export XDG_CACHE_HOME="$HOME/.cache"
    mkdir -p "$HOME"
    wineboot --init >/dev/null 2>&1 || { echo "wineboot --init failed" >&2; return 1; }
    wineserver --wait || true
}

stop_wine_sandbox() {
    [ -n "${HUSHWELL_WINE_DIR:-}" ] || return 0
    WINEPREFIX="$HUSHWELL_WINE_DIR/prefix" wineserver --kill 2>/dev/null || true
    rm -rf "$HUSHWELL_WINE_DIR"
    HUSHWELL_WINE_DIR=""
}

wine_path() {
    local windows
    windows=$(wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')
    winepath --unix "$windows" 2>/dev/null
}
