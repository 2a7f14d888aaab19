#!/usr/bin/env bash
# Cross-builds Hushwell for 64-bit Windows and packs it: leaves build-windows/hushwell-VERSION-win64.zip
# (portable) and build-windows/hushwell-VERSION-win64-setup.exe (per-user installer). Installs what
# is missing, and makes the Qt toolkit available with scripts/windows-toolkit.sh. Prints the time
# of each step and the size of each package.
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_packages "${WINDOWS_BUILD_PACKAGES[@]}"

begin "Qt toolkit for Windows"
HUSHWELL_QT_MINGW=$(scripts/windows-toolkit.sh)
export HUSHWELL_QT_MINGW
took "toolkit"

begin "Cross build (preset windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
took "configure and build"

begin "Packages (CPack: ZIP and NSIS)"
# Only this run's two packages stay in the build folder.
rm -f build-windows/hushwell-*-win64.zip build-windows/hushwell-*-win64-setup.exe
(cd build-windows && cpack >/dev/null)
# The installer shows Hushwell's own picture, not NSIS's stock one, and its licence page a line per
# paragraph (the page wraps them): the MIT text has three paragraphs below its two heading lines.
grep -q '^!define MUI_WELCOMEFINISHPAGE_BITMAP ".*/installer-welcome\.bmp"$' \
    build-windows/_CPack_Packages/win64/NSIS/project.nsi ||
    fail "the installer was made without data/windows/installer-welcome.bmp"
paragraphs=$(grep -c '[[:alnum:]]' build-windows/windows/licence-page.txt)
[ "$paragraphs" -eq 5 ] || fail "the installer's licence page has $paragraphs lines of text, not 5"
rm -rf build-windows/_CPack_Packages
took "packaging"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
for package in "build-windows/hushwell-$version-win64.zip" \
               "build-windows/hushwell-$version-win64-setup.exe"; do
    [ -f "$package" ] || fail "cpack did not make $package"
    awk -v name="$package" -v size="$(stat -c %s "$package")" \
        'BEGIN { printf "   %s: %d bytes (%.1f MB)\n", name, size, size / 1e6 }'
done
