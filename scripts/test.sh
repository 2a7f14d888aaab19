#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite in the normal build (warnings
# as errors, then clang-tidy) and again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer, a short run of the
# settings fuzzer, and the Windows mixer tests under Wine when Wine is installed. Tests that need
# audio or a display start their own private PulseAudio server and X server: none reaches the
# machine's own.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# The Windows mixer is tested under Wine: CI installs it; elsewhere it runs when Wine is there.
if [ "${CI:-}" = "true" ]; then
    ensure_packages "${WINDOWS_TEST_PACKAGES[@]}"
fi
jobs=$(nproc)

echo "== Normal build"
cmake --preset default
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs"

echo "== Installation and package"
scripts/test-package.sh

echo "== clang-tidy"
scripts/tidy.sh

echo "== Sanitizer build"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --preset sanitize -j"$jobs"

echo "== Settings fuzzer, short run"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
corpus=$(mktemp -d /tmp/hushwell-fuzz.XXXXXX)
cp fuzz/corpus/* "$corpus/"
build-fuzz/fuzz/settings_fuzz -runs=30000 -max_len=65536 -rss_limit_mb=1024 \
    -malloc_limit_mb=256 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
rm -rf "$corpus"

if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "== Windows mixer under Wine"
    scripts/test-windows.sh
else
    echo "Wine or mingw-w64 is not installed: the Windows mixer tests were not run."
fi
echo "All tests passed."
