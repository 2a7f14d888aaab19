#!/usr/bin/env bash
# pipewire-server.sh start|stop|restart DIR: a private PipeWire server, the counterpart of
# pulse-server.sh (chosen with HUSHWELL_AUDIO_SERVER=pipewire). pipewire, wireplumber and
# pipewire-pulse run with DIR as their XDG_RUNTIME_DIR and their own D-Bus session bus; PulseAudio
# clients reach it on DIR/pulse/native, where it has a null sink "speakers" as the default sink.
#
# No device of the machine is used: the servers run with an empty environment but for what is
# set here, the configuration files below load no device plugin (ALSA, Bluetooth, V4L2,
# libcamera), WirePlumber's device monitors are switched off, and the system bus is out of reach.
source "$(dirname "$0")/common.sh"
cmd=$1
dir=$2
config="$dir/config"

# Each server process sees only this environment: nothing of the caller's (DISPLAY, PULSE_*,
# PIPEWIRE_*, ALSA_CONFIG_PATH, a real session bus) reaches it, and everything it writes (state,
# sockets, logs) stays in DIR.
server_env=(env -i PATH="$PATH" LANG=C.UTF-8 HOME="$dir" XDG_RUNTIME_DIR="$dir"
            XDG_CONFIG_HOME="$config" XDG_STATE_HOME="$dir/state" XDG_DATA_HOME="$dir/data"
            XDG_CACHE_HOME="$dir/cache" PIPEWIRE_CONFIG_DIR="$config/pipewire"
            DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
            DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/no-system-bus")
# pactl as a client of the private server, with its cookie in DIR rather than in ~/.config.
pactl_env=(env HOME="$dir" PULSE_SERVER="unix:$dir/pulse/native" PULSE_COOKIE="$dir/cookie")

# The configurations: Debian's, less the device plugins, real-time scheduling, the portal and
# the X11 bell. PIPEWIRE_CONFIG_DIR makes pipewire and pipewire-pulse read only these files (no
# fragments from /etc/pipewire). WirePlumber reads its wireplumber.conf from XDG_CONFIG_HOME
# first, and its Lua fragments from there, /etc/wireplumber and /usr/share/wireplumber.
write_config() {
    mkdir -p "$config/pipewire" "$config/wireplumber/main.lua.d"
    cat > "$config/pipewire/pipewire.conf" <<'CONF'
context.properties = {
    link.max-buffers = 16
    core.daemon      = true
    core.name        = pipewire-0
}
# No api.alsa/api.bluez5/api.v4l2/api.libcamera: no device node can be made here.
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Dummy-Driver
                 node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Freewheel-Driver
                 priority.driver = 19000 node.group = pipewire.freewheel node.freewheel = true } }
]
CONF
    # The PulseAudio socket is "native" under XDG_RUNTIME_DIR/pulse; no module-always-sink, so
    # that "speakers" is the only sink, as on the private PulseAudio server.
    cat > "$config/pipewire/pipewire-pulse.conf" <<'CONF'
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse args = { server.address = [ "unix:native" ] } }
]
CONF
    cat > "$config/wireplumber/wireplumber.conf" <<'CONF'
context.properties = {
    log.level = 2
    wireplumber.script-engine = lua-scripting
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-session-manager }
]
# main.lua and policy.lua as Debian has them; not bluetooth.lua.
wireplumber.components = [
    { name = libwireplumber-module-lua-scripting, type = module }
    { name = main.lua, type = config/lua }
    { name = policy.lua, type = config/lua }
]
CONF
    # After Debian's 50-*-config.lua, before its 90-enable-all.lua switches the monitors on.
    cat > "$config/wireplumber/main.lua.d/60-hushwell-no-devices.lua" <<'CONF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
CONF
}

# launch NAME COMMAND...: starts a server process in the background, its output in DIR/NAME.log.
launch() {
    local name=$1
    shift
    "${server_env[@]}" "$@" </dev/null >>"$dir/$name.log" 2>&1 &
    echo $! > "$dir/$name.pid"
}

default_sink_is_speakers() {
    [ "$("${pactl_env[@]}" pactl get-default-sink 2>/dev/null)" = speakers ]
}

start() {
    # Each start is a fresh server, as with pulse-server.sh: WirePlumber would otherwise restore
    # the sink's last volume and default from its state files.
    rm -rf "$dir/state"
    write_config
    local bus
    bus=$("${server_env[@]}" dbus-daemon --session --fork --address="unix:path=$dir/bus" \
        --print-address=1 --print-pid=1) || {
        echo "The private D-Bus session bus did not start" >&2
        return 1
    }
    sed -n 2p <<<"$bus" > "$dir/dbus-daemon.pid"
    launch pipewire pipewire
    if ! wait_until 5 test -S "$dir/pipewire-0"; then
        echo "The private PipeWire server did not start; see $dir/pipewire.log" >&2
        return 1
    fi
    launch wireplumber wireplumber
    launch pipewire-pulse pipewire-pulse
    if ! wait_until 5 "${pactl_env[@]}" pactl info; then
        echo "pipewire-pulse did not start; see $dir/pipewire-pulse.log" >&2
        return 1
    fi
    # pipewire-pulse makes its folder for the owner only; who may connect is decided by DIR's
    # own mode, as with pulse-server.sh (scripts/test-package.sh opens it to another user).
    chmod 755 "$dir/pulse"
    "${pactl_env[@]}" pactl load-module module-null-sink sink_name=speakers \
        sink_properties=device.description=Speakers >/dev/null
    # WirePlumber turns the configured default into the default once it has seen the sink: ask
    # until the server reports it.
    for _ in $(seq 100); do
        "${pactl_env[@]}" pactl set-default-sink speakers 2>/dev/null || true
        default_sink_is_speakers && return 0
        sleep 0.05
    done
    echo "The null sink did not become the default; see $dir/wireplumber.log" >&2
    return 1
}

# stop_process NAME: ends the process of DIR/NAME.pid (TERM, then KILL after 5 s), if it is
# still that program.
stop_process() {
    local name=$1 pid
    [ -f "$dir/$name.pid" ] || return 0
    pid=$(cat "$dir/$name.pid")
    rm -f "$dir/$name.pid"
    [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "${name:0:15}" ] || return 0
    stop_pid "$pid"
}

stop() {
    # The clients first, so that none of them reports the daemon going away.
    stop_process wireplumber
    stop_process pipewire-pulse
    stop_process pipewire
    stop_process dbus-daemon
    rm -rf "$dir/pulse" "$dir/pipewire-0" "$dir/pipewire-0.lock" "$dir/bus"
}

case "$cmd" in
    start) start ;;
    stop) stop ;;
    restart) stop && start ;;
    *) fail "usage: $0 start|stop|restart DIR" ;;
esac
