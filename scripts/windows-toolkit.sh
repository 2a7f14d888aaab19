#!/usr/bin/env bash
# Makes Qt 6.4.2 for 64-bit Windows (mingw-w64) available in a cache folder outside the work tree
# and prints that folder on stdout; everything else goes to stderr. Use it as
#     export HUSHWELL_QT_MINGW="$(scripts/windows-toolkit.sh)"
# In order: a folder already there is used as it is; else the prebuilt archive of the shared
# toolchains folder is unpacked when its SHA-256 matches; else Qt is built from Debian's qt6-base
# source package with the options the archive was built with (about 17 minutes on 2 cores).
# With --check it only says, by its exit status, whether the toolkit is there or can be unpacked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"

name=qt6.4.2-mingw-w64-x86_64
cache=${XDG_CACHE_HOME:-$HOME/.cache}/hushwell
toolkit=$cache/$name
archive=$(realpath -m "$root/../shared/toolchains/$name.tar.xz")
archive_sha256=32435b0a2b755ea680821df75e1c5da35710efd64110521f3ed706c6831e84c5

say() { echo "windows-toolkit: $*" >&2; }

if [ "${1:-}" = "--check" ]; then
    [ -f "$toolkit/lib/cmake/Qt6/Qt6Config.cmake" ] || [ -f "$archive" ]
    exit
fi

# A folder counts as the toolkit only when it is whole: it is moved into place as the last step.
if [ -f "$toolkit/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    say "using $toolkit"
    echo "$toolkit"
    exit 0
fi

mkdir -p "$cache"
staging=$(mktemp -d "$cache/.staging.XXXXXX")
trap 'rm -rf "$staging"' EXIT

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ -f "$archive" ] &&
    say "checking the SHA-256 of $archive" &&
    echo "$archive_sha256  $archive" | sha256sum --check --status -; then
    ensure_packages xz-utils >&2
    say "unpacking $archive into $cache"
    tar -xJf "$archive" -C "$staging"
else
    if [ -f "$archive" ]; then
        say "$archive does not have the expected SHA-256: not using it"
    else
        say "no prebuilt archive at $archive"
    fi
    say "building Qt 6.4.2 for mingw-w64 from Debian's qt6-base source package (about 17 minutes" \
        "on 2 cores) in $staging"
    ensure_packages dpkg-dev cmake ninja-build xz-utils qt6-base-dev qt6-base-dev-tools \
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix >&2
    cd "$staging"
    # Source packages need a deb-src entry for the same archive and suites as the binary ones.
    if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
        say "adding deb-src entries for Debian's archive"
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
                "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
        else
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
                "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/debian-src.list >/dev/null
        fi
        "${sudo_cmd[@]}" apt-get update -q >&2
    fi
    say "downloading the qt6-base source package"
    apt-get source --download-only qt6-base >&2
    tar xJf qt6-base_6.4.2+dfsg.orig.tar.xz
    # Qt 6.4.2's Windows platform plugin uses the dynamic-GL helpers even when OpenGL is off.
    sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
        qtbase-everywhere-src-6.4.2/src/plugins/platforms/windows/qwindowswindow.cpp
    cat >mingw.cmake <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC
    prefix="$staging/$name"
    say "configuring Qt"
    # Debian's source omits the wintab header, so tablet events are off.
    cmake -S qtbase-everywhere-src-6.4.2 -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$staging/mingw.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
        -DFEATURE_testlib=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF \
        -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF >&2
    say "building Qt"
    cmake --build build --parallel >&2
    cmake --install build >&2
    find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
fi

if [ ! -f "$staging/$name/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    say "no $name/lib/cmake/Qt6/Qt6Config.cmake in the result: the toolkit is incomplete"
    exit 1
fi
# The folder appears whole or not at all, so an interrupted run is simply started again.
mv -T "$staging/$name" "$toolkit"
say "ready: $toolkit"
echo "$toolkit"
