#!/usr/bin/env bash
# pulse-server.sh start|stop|restart DIR: a private PulseAudio server on DIR/native with a null
# sink "speakers". Used by the test scripts, and by tests that kill and restart the server. As a
# desktop's server does, it brings a sink back at the volume it had when the server stopped.
# HUSHWELL_PULSE_SHM=yes hands audio over in shared memory, as a desktop's server does (the cost
# benches); the tests copy it through the socket.
source "$(dirname "$0")/common.sh"
cmd=$1
dir=$2

start() {
    local no_shm=yes
    [ "${HUSHWELL_PULSE_SHM:-}" = yes ] && no_shm=no
    XDG_RUNTIME_DIR="$dir" HOME="$dir" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --disable-shm="$no_shm" \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        -L module-device-restore \
        -L "module-null-sink sink_name=speakers sink_properties=device.description=Speakers" \
        --log-target=file:"$dir/server.log" >/dev/null 2>&1 &
    echo $! > "$dir/server.pid"
    wait_until 5 env PULSE_SERVER="unix:$dir/native" pactl info ||
        fail "the private PulseAudio server did not start; see $dir/server.log"
}

stop() {
    [ -f "$dir/server.pid" ] || return 0
    local pid
    stop_pid "$(cat "$dir/server.pid")"
    rm -f "$dir/server.pid" "$dir/native"
}

case "$cmd" in
    start) start ;;
    stop) stop ;;
    restart) stop && start ;;
    *) fail "usage: $0 start|stop|restart DIR" ;;
esac
