#!/usr/bin/env bash
# screenshot.sh [OUT.png] [SCALE]: starts Hushwell under a private X server and audio server,
# with a fresh settings folder (or a copy of the file HUSHWELL_SETTINGS names), and saves a PNG of
# its window. SCALE (1 or 2) sets Qt's scaling.
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

# A copy beside which the settings file can live, so the checkout's build folder stays clean.
cp "$exe" "$work/hushwell"
[ -n "${HUSHWELL_SETTINGS:-}" ] && cp "$HUSHWELL_SETTINGS" "$work/Hushwell_setup.txt"
QT_SCALE_FACTOR=$scale "$work/hushwell" >"$work/log" 2>&1 &
pid=$!
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
import -window "$id" "$out"
echo "saved $out"
