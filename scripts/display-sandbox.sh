# Sourced by the test scripts: a private X server (Xvfb) on a free display number.
# start_display_sandbox exports DISPLAY; the server is stopped when the script ends
# (scripts/common.sh's at_exit), or by stop_display_sandbox.

start_display_sandbox() {
    local fifo
    fifo=$(mktemp -u /tmp/hushwell-xvfb.XXXXXX)
    mkfifo "$fifo"
    Xvfb -noreset -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    HUSHWELL_XVFB_PID=$!
    at_exit stop_display_sandbox
    local number
    read -r -t 10 number <"$fifo" || number=""
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$number"
    unset WAYLAND_DISPLAY
}

stop_display_sandbox() {
    [ -n "${HUSHWELL_XVFB_PID:-}" ] || return 0
    stop_pid "$HUSHWELL_XVFB_PID"
    HUSHWELL_XVFB_PID=""
}
