#!/usr/bin/env bash
# Installs what is missing, builds Hushwell and starts it.
cd "$(dirname "$0")/.."
source scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUSHWELL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target hushwell
exec build/src/app/hushwell "$@"
