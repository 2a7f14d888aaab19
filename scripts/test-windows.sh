#!/usr/bin/env bash
# Cross-builds the core and the winmm mixer for 64-bit Windows with mingw-w64 and runs their
# tests under Wine, in a private Wine prefix whose audio goes to a private PulseAudio server.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/audio-sandbox.sh

cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DHUSHWELL_GUI=OFF >/dev/null
cmake --build build-mingw -j"$(nproc)" --target winmm_tests

wine_prefix=$(mktemp -d /tmp/hushwell-wine.XXXXXX)
cleanup() {
    WINEPREFIX="$wine_prefix" wineserver -k 2>/dev/null || true
    rm -rf "$wine_prefix"
    stop_audio_sandbox
}
trap cleanup EXIT
start_audio_sandbox
export WINEPREFIX="$wine_prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "Running the winmm mixer tests under Wine"
wine build-mingw/tests/winmm_tests.exe
