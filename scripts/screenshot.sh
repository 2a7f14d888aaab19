#!/usr/bin/env bash
# screenshot.sh [OUT.png] [SCALE]: starts Hushwell under a private X server and audio server,
# with a fresh settings folder (or a copy of the file HUSHWELL_SETTINGS names), and saves a PNG of
# its window. SCALE (1 or 2) sets Qt's scaling.
# HUSHWELL_SHOT=readme takes the README's picture: a listener's schedule of two breaks, the clock
# held at 20:05 past the hour (faketime), so that the first break holds the volume down.
# HUSHWELL_SHOT=tray-menu or tray-tooltip instead takes the corner of a panel (trayer, a real X
# tray) with the tray icon's menu open, or its tooltip shown; HUSHWELL_PANEL=dark makes the panel
# and the program dark (GTK's dark theme), light (the default) both light.
# HUSHWELL_SHOT=tray-follow takes the tooltip after following the station: Set is pressed on a
# piece of sound (the ALSA test voices), then the program starts again, its clock (faketime) a few
# seconds before that mark, and the piece plays again so that the press's sound comes 4 s early.
cd "$(dirname "$0")/.."
source scripts/common.sh
out=$(realpath -m "${1:-docs/screenshot.png}")
scale=${2:-1}
source scripts/audio-sandbox.sh
source scripts/display-sandbox.sh
exe=$(realpath build/src/app/hushwell)

work=$(mktemp -d /tmp/hushwell-shot.XXXXXX)
at_exit rm -rf "$work"
export XDG_STATE_HOME="$work/state"  # the program's own records stay in the run's folder
pid=""
at_exit eval 'stop_pid "$pid"'
start_audio_sandbox
start_display_sandbox

shot=${HUSHWELL_SHOT:-window}
tray_pid=""
at_exit eval 'stop_pid "$tray_pid"'
if [ "$shot" != window ]; then
    tint=0xf0f0f0
    if [ "${HUSHWELL_PANEL:-light}" = dark ]; then
        tint=0x2b2b2b
        export QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark
    fi
    # No session bus: the icon docks in this tray, not through a StatusNotifierItem watcher.
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
    # A desktop behind the panel, and the panel along the whole top edge.
    convert -size 1280x800 xc:"$([ "${HUSHWELL_PANEL:-light}" = dark ] && echo '#3c4650' || echo '#8fa5b8')" \
        "$work/desktop.png"
    display -window root "$work/desktop.png" || true  # sets it, yet exits with 1
    trayer --edge top --align right --widthtype percent --width 100 --heighttype pixel --height 32 \
        --transparent true --alpha 0 --tint "$tint" --SetDockType false >/dev/null 2>&1 &
    tray_pid=$!
    sleep 1.5
    if [ -z "${HUSHWELL_SETTINGS:-}" ]; then
        # Pair 1 around the present minute (HUSHWELL_BREAK=now: the volume is down) or a few
        # minutes on (later, the default), within this hour.
        minute=$((10#$(date +%M)))
        if [ "${HUSHWELL_BREAK:-later}" = now ]; then
            from=$((minute > 0 ? minute - 1 : 0)) to=$((minute + 3 < 59 ? minute + 3 : 59))
        else
            from=$((minute + 4 < 58 ? minute + 4 : 58)) to=$((minute + 6 < 59 ? minute + 6 : 59))
        fi
        printf '20,100\r\n%02d:00,,,,,,,\r\n%02d:30,,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n' \
            "$from" "$to" >"$work/Hushwell_setup.txt"
    fi
fi

players=()
at_exit eval 'for p in "${players[@]}"; do stop_pid "$p"; done'
if [ "$shot" = tray-menu ]; then
    # Two players, as copies of pacat playing silence under their names; the second one chosen.
    for player in firefox vlc; do
        cp "$(command -v pacat)" "$work/$player"
        "$work/$player" --playback /dev/zero >/dev/null 2>&1 &
        players+=($!)
    done
    printf '[Lower]\r\nOnly=vlc\r\n' >"$work/Hushwell_options.ini"
    wait_until 5 bash -c '[ "$(pactl list short sink-inputs | wc -l)" -ge 2 ]'
fi

# The main window is the largest visible window titled like Hushwell's; a message box shown at
# start-up is answered with Enter first.
main_window() {
    local best="" area=0 w h
    for w in $(xdotool search --onlyvisible --name '^(Hushwell|UP|DOWN)$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if [ $((WIDTH * HEIGHT)) -gt $area ]; then
            area=$((WIDTH * HEIGHT))
            best=$w
        fi
    done
    echo "$best"
}
# A copy beside which the settings file can live, so the checkout's build folder stays clean.
cp "$exe" "$work/hushwell"
[ -n "${HUSHWELL_SETTINGS:-}" ] && cp "$HUSHWELL_SETTINGS" "$work/Hushwell_setup.txt"
clock=()
if [ "$shot" = readme ]; then
    ensure_packages faketime
    printf '20,100\r\n20:00,50:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n%s\r\n%s\r\n' \
        21:30,52:30,00:00,00:00,00:00,00:00,00:00,00:00 ' 1 , 1 , 0 , 0 , 0 , 0 , 0 , 0 ' \
        >"$work/Hushwell_setup.txt"
    clock=(faketime "$(date +%F) 14:20:05")
fi
piece_press=5  # seconds into the piece: Set is pressed in "Rear right"
if [ "$shot" = tray-follow ]; then
    ensure_packages sox alsa-utils faketime
    voices=/usr/share/sounds/alsa
    sox "$voices/Front_Center.wav" "$voices/Front_Left.wav" "$voices/Side_Left.wav" \
        "$voices/Rear_Right.wav" "$voices/Rear_Left.wav" "$voices/Front_Right.wav" \
        -r 11025 -c 1 "$work/piece.wav"
    printf '[Listen]\r\nFollowStation=true\r\n' >"$work/Hushwell_options.ini"
    printf '20,100\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n' \
        >"$work/Hushwell_setup.txt"
    "$work/hushwell" >"$work/log" 2>&1 &
    pid=$!
    wait_until 10 bash -c "xdotool search --onlyvisible --name '^(Hushwell|UP|DOWN)\$' >/dev/null"
    sleep 1
    # From the Down slider, six Shift+Tabs reach pair 1's Down Set button.
    xdotool windowfocus --sync "$(main_window)" key --delay 40 shift+Tab shift+Tab shift+Tab \
        shift+Tab shift+Tab shift+Tab
    paplay "$work/piece.wav" &
    sleep "$piece_press"
    xdotool key space
    wait_until 30 grep -q "^mark 0 Down" "$work/Hushwell_marks.fp"
    stop_pid "$pid"
    # The kept mark ("mm:ss"), and the program's clock 12 s before it at the same hour.
    mark=$(awk '/^mark 0 Down/ { print $NF }' "$work/Hushwell_marks.fp")
    at=$((10#${mark%%:*} * 60 + 10#${mark##*:} - 12 + 3600))
    printf '20,100\r\n%s,,,,,,,\r\n59:59,,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n' "$mark" \
        >"$work/Hushwell_setup.txt"
    clock=(faketime "$(date +%F) $(date +%H):$(printf '%02d:%02d' $((at / 60 % 60)) $((at % 60)))")
fi
QT_LOGGING_RULES=hushwell.mixer.info=true QT_SCALE_FACTOR=$scale "${clock[@]}" "$work/hushwell" \
    >"$work/log" 2>&1 &
pid=$!
if [ "$shot" = tray-follow ]; then
    # The press's sound 4 s before the mark: 8 s after the start, less where it lies in the piece.
    sleep $((8 - piece_press))
    paplay "$work/piece.wav" &
    wait_until 20 grep -q "heard [0-9]* s early" "$work/log"
fi
sleep "${HUSHWELL_SHOT_DELAY:-1.5}"
for _ in 1 2 3; do
    dialog=$(xdotool search --onlyvisible --name '^Hushwell$' 2>/dev/null | while read -r w; do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if [ "$WIDTH" -lt "$((500 * scale))" ]; then echo "$w"; fi
    done | head -n 1 || true)
    [ -n "$dialog" ] || break
    xdotool windowactivate --sync "$dialog" key Return 2>/dev/null || xdotool key Return
    sleep 0.5
done
id=$(main_window)
[ -n "$id" ] || fail "Hushwell showed no window: $(cat "$work/log")"
mkdir -p "$(dirname "$out")"
if [ "$shot" = window ] || [ "$shot" = readme ]; then
    import -window "$id" "$out"
    echo "saved $out"
    exit 0
fi

# The docked icon: the program's small visible window.
icon=""
for _ in $(seq 50); do
    for w in $(xdotool search --onlyvisible --classname '^hushwell$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if [ "$WIDTH" -le $((64 * scale)) ]; then icon=$w icon_height=$HEIGHT; fi
    done
    [ -n "$icon" ] && break
    sleep 0.1
done
[ -n "$icon" ] || fail "no tray icon docked: $(cat "$work/log")"
if [ "$shot" = tray-menu ]; then
    # From the icon's lower left corner the menu opens beside the icon, leaving it in view.
    xdotool mousemove --window "$icon" 0 $((icon_height - 1)) click 3
    sleep 1
    # The Lower submenu open beside the menu.
    xdotool key Down Down Right
else
    xdotool mousemove --window "$icon" 6 6
    xdotool mousemove_relative 1 1
fi
sleep "${HUSHWELL_TOOLTIP_DELAY:-2}"
# The panel's right-hand corner, with the menu or the tooltip below it.
if [ "$shot" = tray-menu ]; then width=$((560 * scale)) height=$((160 * scale));
elif [ "$shot" = tray-follow ]; then width=$((560 * scale)) height=$((96 * scale)); else
    width=$((360 * scale)) height=$((64 * scale))
fi
import -window root -crop "${width}x${height}+$((1280 - width))+0" +repage "$out"
echo "saved $out"
