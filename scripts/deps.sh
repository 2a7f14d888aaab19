# Sourced by the other scripts: installs the Debian packages a step needs, when any is missing.
# ensure_packages PKG...: apt-get installs what dpkg does not report as installed (as root, or
# through sudo); without either it names the missing packages and fails.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Missing packages: ${missing[*]}; install them as root." >&2
            return 1
        fi
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libgl-dev libpulse-dev libasound2-dev
                fonts-dejavu-core)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev clang clang-tidy libclang-rt-14-dev
               pulseaudio pulseaudio-utils
               libasound2-plugins alsa-utils xvfb xauth x11-utils xdotool imagemagick
               desktop-file-utils appstream lintian dpkg-dev)
# GLib's launcher (gio launch), which tries each autostart entry as a GNOME session would.
TEST_PACKAGES+=(libglib2.0-bin)
# A real freedesktop X tray for the tray tests and the tray's screenshots; GTK's dark theme for Qt.
TEST_PACKAGES+=(trayer qt6-gtk-platformtheme)
# The whole program for Windows: the cross compilers, Debian's Qt for the host tools (moc), the
# GoogleTest sources of the Windows tests, the NSIS compiler of the installer, and what the Wine
# tests of the packages use (a private X server, screenshots, a private PulseAudio server).
# A private PipeWire server for the tests. Installing pipewire-pulse enables it for every user's
# next login, which would switch a PulseAudio desktop to PipeWire: the test command installs these
# only in CI, and elsewhere runs the PipeWire tests where they are already installed.
PIPEWIRE_TEST_PACKAGES=(pipewire pipewire-pulse wireplumber dbus-daemon)
WINDOWS_BUILD_PACKAGES=(cmake xz-utils g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
                        qt6-base-dev qt6-base-dev-tools googletest nsis)
WINDOWS_PACKAGE_TEST_PACKAGES=(wine wine64 xvfb xauth x11-utils xdotool imagemagick
                               pulseaudio pulseaudio-utils)
