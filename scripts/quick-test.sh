#!/usr/bin/env bash
# quick-test.sh [GTEST_FILTER]: builds and runs the core's tests and the window tests only: no
# sound server, no X server (the window runs offscreen), no Windows toolkit. For the edit-build-test
# loop; scripts/test.sh stays the full run that CI makes.
cd "$(dirname "$0")/.."
source scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}" googletest libgtest-dev
filter=${1:-*}
started=$SECONDS
cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target core_tests window_tests
build/tests/core_tests --gtest_brief=1 --gtest_filter="$filter"
QT_QPA_PLATFORM=offscreen build/tests/window_tests --gtest_brief=1 --gtest_filter="$filter"
echo "Core and window tests passed in $((SECONDS - started)) s."
