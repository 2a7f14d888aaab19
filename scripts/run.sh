#!/usr/bin/env bash
# Installs what is missing, builds Hushwell and starts it.
# run.sh --sandbox [ARGS]: starts it against a private PulseAudio server with one null sink instead
# of the computer's own sound server, to try it where there is none (a fresh virtual machine) or
# without touching the speakers; it prints the command that shows the sink's volume moving.
cd "$(dirname "$0")/.."
source scripts/common.sh
sandbox=false
if [ "${1:-}" = --sandbox ]; then
    sandbox=true
    shift
fi
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUSHWELL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target hushwell
"$sandbox" || exec build/src/app/hushwell "$@"

ensure_packages pulseaudio pulseaudio-utils
source scripts/audio-sandbox.sh
start_audio_sandbox
# What the run holds down is put back on the private server only: its record stays in its folder.
XDG_STATE_HOME="$HUSHWELL_PULSE_DIR/state"
export XDG_STATE_HOME
cat <<TEXT
Hushwell now plays against a private PulseAudio server with a null sink named "speakers"; your
own sound is not touched. To watch the volume it sets, run in another terminal:

    watch -n 1 pactl --server $PULSE_SERVER get-sink-volume speakers

The server stops when Hushwell ends.
TEXT
build/src/app/hushwell "$@"
