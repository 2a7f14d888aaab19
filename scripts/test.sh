#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite in the normal build (warnings
# as errors, then clang-tidy) and again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer, a short run of the
# settings fuzzer, and the Windows build with its packages and the program under Wine. Tests that need
# audio or a display start their own private PulseAudio server and X server: none reaches the
# machine's own. The audio and end-to-end tests run a second time against a private PipeWire server.
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
if [ "${CI:-}" = "true" ]; then
    ensure_packages "${PIPEWIRE_TEST_PACKAGES[@]}"
fi
jobs=$(nproc)

echo "== Normal build"
cmake --preset default
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs"

# PipeWire (through pipewire-pulse) serves GNOME and many other desktops on Debian 12: the tests
# that reach a sound server again, against a private one. Only in this build, to keep CI short.
if command -v pipewire-pulse >/dev/null && command -v wireplumber >/dev/null; then
    echo "== Audio and end-to-end tests against PipeWire"
    pipewire_start=$SECONDS
    HUSHWELL_AUDIO_SERVER=pipewire ctest --preset default -j"$jobs" -L 'audio|program'
    echo "   PipeWire run: $((SECONDS - pipewire_start)) s"
else
    echo "The PipeWire tests were NOT run: install ${PIPEWIRE_TEST_PACKAGES[*]} (this enables" \
        "PipeWire for every user's next login), or run this command with CI=true."
fi

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
at_exit rm -rf "$corpus"
cp fuzz/corpus/* "$corpus/"
build-fuzz/fuzz/settings_fuzz -runs=30000 -max_len=65536 -rss_limit_mb=1024 \
    -malloc_limit_mb=256 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12

# The Windows build needs Qt for Windows, which Debian does not ship: CI always has it (the
# prebuilt toolkit); elsewhere the tests run when it is there.
if [ "${CI:-}" = "true" ] || scripts/windows-toolkit.sh --check; then
    echo "== Windows: cross build, packages, and the program under Wine"
    scripts/test-windows.sh
else
    echo "The Windows tests were NOT run: Qt for Windows is not available. Run" \
        "scripts/windows-toolkit.sh once (it builds Qt 6.4.2 for mingw-w64 from Debian's source," \
        "about 17 minutes on 2 cores), then this command again."
fi
echo "All tests passed."
