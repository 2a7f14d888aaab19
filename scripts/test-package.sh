#!/usr/bin/env bash
# Installs the default build into a temporary prefix and runs the installed program as an
# ordinary user, who cannot write its folder: it must save its settings in the user's folder and
# load them at the next start; and, marked as installed, also where it could write its folder. Then builds the Debian package and validates the desktop entry,
# the AppStream metainfo and the package. With CI=true it also installs the package with apt-get.
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/audio-sandbox.sh
source scripts/display-sandbox.sh

user=65534  # nobody
prefix=$(mktemp -d /tmp/hushwell-install.XXXXXX)
home=$(mktemp -d /tmp/hushwell-home.XXXXXX)
at_exit rm -rf "$prefix" "$home"
pid=""
at_exit eval 'stop_pid "$pid"'

cmake --install build --prefix "$prefix/usr" >/dev/null
chmod 755 "$prefix"
chown "$user" "$home"
start_audio_sandbox
chmod 755 "$HUSHWELL_PULSE_DIR"
start_display_sandbox

start_installed() {
    setpriv --reuid=$user --regid=$user --clear-groups \
        env -i HOME="$home" DISPLAY="$DISPLAY" PULSE_SERVER="$PULSE_SERVER" \
        "$prefix/usr/bin/hushwell" >"$home/log" 2>&1 &
    pid=$!
    window=""
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --name '^(Hushwell|UP|DOWN)$' 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "the installed program showed no window: $(cat "$home/log")"
    xdotool windowfocus --sync "$window"
}
volume() { pactl get-sink-volume speakers | sed -n 's/^Volume: front-left: \([0-9]*\) .*/\1/p'; }
stop_installed() {
    kill -TERM "$pid" 2>/dev/null || fail "the installed program ended on its own: $(cat "$home/log")"
    wait "$pid" || true
    pid=""
}

echo "== The installed program saves in the user's folder"
start_installed
xdotool key Up  # Down level 21
# Save Settings is at 72,160 in the window, 81 by 25 pixels.
xdotool mousemove --window "$window" 112 172 click 1
sleep 0.5
saved="$home/.config/Hushwell/Hushwell_setup.txt"
[ -f "$saved" ] || fail "no settings file in $home/.config/Hushwell"
# The Up slider was never moved: it keeps the level it shows, 100.
[ "$(head -c 7 "$saved")" = $'21,100\r' ] || fail "unexpected settings: $(head -n 1 "$saved")"
[ ! -e "$prefix/usr/bin/Hushwell_setup.txt" ] || fail "settings written beside the program"
stop_installed

echo "== ... and loads them at the next start"
start_installed
xdotool key Up  # from the saved 21 to 22
sleep 0.5
[ "$(volume)" = "$((22 * 655))" ] || fail "the saved Down level was not loaded: volume $(volume)"
stop_installed

echo "== Settings provided beside the program are read, and saved in the user's folder"
rm -rf "$home/.config/Hushwell"
provided="$prefix/usr/bin/Hushwell_setup.txt"
printf '40,100\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n' >"$provided"
start_installed
xdotool key Up  # from the provided 40 to 41
sleep 0.5
[ "$(volume)" = "$((41 * 655))" ] || fail "the provided settings were not read: volume $(volume)"
xdotool mousemove --window "$window" 112 172 click 1
sleep 0.5
[ "$(head -c 7 "$saved" 2>/dev/null)" = $'41,100\r' ] || fail "not saved in the user's folder: $(cat "$home/log")"
[ "$(head -c 6 "$provided")" = $'40,100' ] || fail "the provided file was changed"
stop_installed
start_installed
xdotool key Up  # from the saved 41 to 42
sleep 0.5
[ "$(volume)" = "$((42 * 655))" ] || fail "the user's own settings were not read: volume $(volume)"
stop_installed
rm -f "$provided"

echo "== ... also where the program could write beside itself"
rm -rf "$home/.config/Hushwell"
chown "$user" "$prefix/usr/bin"
start_installed
xdotool key Up  # Down level 21
xdotool mousemove --window "$window" 112 172 click 1
sleep 0.5
[ ! -e "$prefix/usr/bin/Hushwell_setup.txt" ] || fail "settings written beside the installed program"
[ "$(head -c 7 "$saved" 2>/dev/null)" = $'21,100\r' ] || fail "not saved in the user's folder: $(cat "$home/log")"
stop_installed
chown root "$prefix/usr/bin"

echo "== Package and validators"
(cd build && cpack >/dev/null)
deb=$(ls build/hushwell_*.deb)
desktop-file-validate data/io.github.hushwell.Hushwell.desktop
appstreamcli validate --no-net data/io.github.hushwell.Hushwell.metainfo.xml
lintian --fail-on error "$deb"
if [ "${CI:-}" = "true" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb" >/dev/null
    [ -x /usr/bin/hushwell ] || fail "the package did not install /usr/bin/hushwell"
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q hushwell >/dev/null
    echo "The package installs and removes with apt-get."
fi
echo "Installation tests passed."
