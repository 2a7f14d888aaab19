#!/usr/bin/env bash
# pulse-server.sh start|stop|restart DIR: a private PulseAudio server on DIR/native with a null
# sink "speakers". Used by the test scripts, and by tests that kill and restart the server. As a
# desktop's server does, it brings a sink back at the volume it had when the server stopped.
set -u
cmd=$1
dir=$2

start() {
    XDG_RUNTIME_DIR="$dir" HOME="$dir" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --disable-shm=yes \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        -L module-device-restore \
        -L "module-null-sink sink_name=speakers sink_properties=device.description=Speakers" \
        --log-target=file:"$dir/server.log" >/dev/null 2>&1 &
    echo $! > "$dir/server.pid"
    for _ in $(seq 100); do
        PULSE_SERVER="unix:$dir/native" pactl info >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "The private PulseAudio server did not start; see $dir/server.log" >&2
    return 1
}

# alive PID: whether the process runs; one that has ended but is not yet reaped by its new parent
# (this script has exited) counts as ended.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) && [[ ${stat##*) } != Z* ]]
}

stop() {
    [ -f "$dir/server.pid" ] || return 0
    local pid
    pid=$(cat "$dir/server.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 100); do
        alive "$pid" || break
        sleep 0.05
    done
    alive "$pid" && kill -9 "$pid" 2>/dev/null
    rm -f "$dir/server.pid" "$dir/native"
    return 0
}

case "$cmd" in
    start) start ;;
    stop) stop ;;
    restart) stop && start ;;
    *) echo "usage: $0 start|stop|restart DIR" >&2; exit 2 ;;
esac
