# Sourced by the test scripts: a private sound server with one null sink named "speakers" on a
# socket in a temporary folder, so that no test ever reaches the machine's own audio, and an ALSA
# configuration whose default device is that server. HUSHWELL_AUDIO_SERVER chooses the server:
# pulseaudio (the default; scripts/pulse-server.sh) or pipewire (PipeWire with WirePlumber and
# pipewire-pulse; scripts/pipewire-server.sh).
#
# start_audio_sandbox: starts it and exports PULSE_SERVER, ALSA_CONFIG_PATH and HUSHWELL_PULSE_DIR;
#                      it is stopped when the script ends (scripts/common.sh's at_exit).
# stop_audio_sandbox: stops it and removes the folder.

start_audio_sandbox() {
    local socket
    case "${HUSHWELL_AUDIO_SERVER:-pulseaudio}" in
        pulseaudio) HUSHWELL_AUDIO_SCRIPT=pulse-server.sh socket=native ;;
        # pipewire-pulse puts its socket in "pulse" under its XDG_RUNTIME_DIR.
        pipewire) HUSHWELL_AUDIO_SCRIPT=pipewire-server.sh socket=pulse/native ;;
        *)
            echo "HUSHWELL_AUDIO_SERVER=$HUSHWELL_AUDIO_SERVER: expected pulseaudio or pipewire" >&2
            return 1
            ;;
    esac
    HUSHWELL_PULSE_DIR=$(mktemp -d /tmp/hushwell-pulse.XXXXXX)
    export HUSHWELL_PULSE_DIR
    at_exit stop_audio_sandbox
    export PULSE_SERVER="unix:$HUSHWELL_PULSE_DIR/$socket"
    # The server and its clients look for a cookie and a runtime folder under these.
    export XDG_RUNTIME_DIR="$HUSHWELL_PULSE_DIR" PULSE_RUNTIME_PATH="$HUSHWELL_PULSE_DIR"
    export PULSE_COOKIE="$HUSHWELL_PULSE_DIR/cookie"
    "$(dirname "${BASH_SOURCE[0]}")/$HUSHWELL_AUDIO_SCRIPT" start "$HUSHWELL_PULSE_DIR" || return 1
    cat > "$HUSHWELL_PULSE_DIR/asound.conf" <<CONF
pcm.!default { type pulse }
ctl.!default { type pulse }
CONF
    # Debian's alsa-lib reads this file first; it pulls in the plugin definitions.
    export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$HUSHWELL_PULSE_DIR/asound.conf"
}

stop_audio_sandbox() {
    [ -n "${HUSHWELL_PULSE_DIR:-}" ] || return 0
    "$(dirname "${BASH_SOURCE[0]}")/$HUSHWELL_AUDIO_SCRIPT" stop "$HUSHWELL_PULSE_DIR" || true
    rm -rf "$HUSHWELL_PULSE_DIR"
    HUSHWELL_PULSE_DIR=""
}
