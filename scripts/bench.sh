#!/usr/bin/env bash
# bench.sh timing|footprint|tick|listen|mixer|guard|follow [ARGS]: builds and runs one benchmark against a private
# PulseAudio server (and, for footprint, a private X server).
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/audio-sandbox.sh
source scripts/display-sandbox.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
cmake --preset default >/dev/null
# The program's record of a held volume goes to a folder of the run's, not the user's home.
XDG_STATE_HOME=$(mktemp -d /tmp/hushwell-bench-state.XXXXXX)
export XDG_STATE_HOME
at_exit rm -rf "$XDG_STATE_HOME"
which=${1:-timing}
shift || true
case "$which" in
    tick)
        cmake --build build -j"$(nproc)" --target tick_bench >/dev/null
        build/bench/tick_bench "$@" ;;
    listen)
        # Real recordings for the table of stations: freely licensed music, desktop sounds for
        # jingles, speech from espeak-ng; lossy codecs through ffmpeg. Benches only, never tests.
        ensure_packages ffmpeg espeak-ng hyperrogue-music sound-theme-freedesktop
        cmake --build build -j"$(nproc)" --target listen_bench station_bench >/dev/null
        sounds=/usr/share/sounds/freedesktop/stereo
        build/bench/station_bench /usr/share/hyperrogue/music "$sounds/service-login.oga" \
            "$sounds/phone-outgoing-busy.oga" "$sounds/alarm-clock-elapsed.oga"
        # What following costs, with the server handing audio over in shared memory as a
        # desktop's does (the tests' servers copy it through the socket).
        export HUSHWELL_PULSE_SHM="${HUSHWELL_PULSE_SHM:-yes}"
        start_audio_sandbox
        build/bench/listen_bench "${1:-600}" "${2:-60}" "${@:3}" ;;
    mixer)
        cmake --build build -j"$(nproc)" --target mixer_bench >/dev/null
        start_audio_sandbox
        build/bench/mixer_bench "$@" ;;
    timing)
        cmake --build build -j"$(nproc)" --target timing_bench >/dev/null
        start_audio_sandbox
        build/bench/timing_bench "$@" ;;
    footprint)
        cmake --build build -j"$(nproc)" --target hushwell empty_window footprint_bench >/dev/null
        start_audio_sandbox
        start_display_sandbox
        work=$(mktemp -d /tmp/hushwell-bench.XXXXXX)
        at_exit rm -rf "$work"
        cp build/src/app/hushwell "$work/"
        build/bench/footprint_bench "$work/hushwell" build/bench/empty_window "$@" ;;
    guard)
        cmake --build build -j"$(nproc)" --target hushwell guard_bench >/dev/null
        start_audio_sandbox
        start_display_sandbox
        build/bench/guard_bench build/src/app/hushwell "$@" ;;
    follow)
        # The program following the station end to end: each lane starts its own private server
        # (scripts/pulse-server.sh, or pipewire-server.sh with --server pipewire) and the bench its
        # private X server. ARGS: [--server pulseaudio|pipewire] [--lanes N] [--rows 1,2,...]
        # [--phases K] [--delays -9,0,6] [--logs DIR: each later hour's program log, each
        # row's prints] [--edge down|up|second: the break's end, or the second of two breaks on one
        # jingle] [--down-level PERCENT: the pair lowered at it].
        ensure_packages ffmpeg espeak-ng hyperrogue-music sound-theme-freedesktop
        cmake --build build -j2 --target hushwell follow_bench >/dev/null
        sounds=/usr/share/sounds/freedesktop/stereo
        build/bench/follow_bench build/src/app/hushwell "$PWD/scripts" /usr/share/hyperrogue/music \
            "$sounds/service-login.oga" "$@" ;;
    *) echo "usage: $0 timing|footprint|tick|listen|mixer|guard|follow [ARGS]" >&2; exit 2 ;;
esac
