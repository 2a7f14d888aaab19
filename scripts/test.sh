#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Tests that need audio or a display start
# their own private PulseAudio server and X server: none reaches the machine's own.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# The Windows mixer is tested under Wine: CI installs it; elsewhere it runs when Wine is there.
if [ "${CI:-}" = "true" ]; then
    ensure_packages "${WINDOWS_TEST_PACKAGES[@]}"
fi

cmake --preset default
cmake --build --preset default -j"$(nproc)"
ctest --preset default -j"$(nproc)"

if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    scripts/test-windows.sh
else
    echo "Wine or mingw-w64 is not installed: the Windows mixer tests were not run."
fi
