#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Tests that need audio or a display start
# their own private PulseAudio server and X server: none reaches the machine's own.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake --preset default
cmake --build --preset default -j"$(nproc)"
ctest --preset default -j"$(nproc)"
