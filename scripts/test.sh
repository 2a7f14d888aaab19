#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test against a private PulseAudio server and a
# private X server, never the machine's own audio or display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source scripts/audio-sandbox.sh
source scripts/display-sandbox.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake --preset default
cmake --build --preset default -j"$(nproc)"

cleanup() {
    stop_display_sandbox
    stop_audio_sandbox
}
trap cleanup EXIT
start_audio_sandbox
start_display_sandbox

# One at a time: the audio tests share the one private server.
ctest --preset default
