#!/usr/bin/env bash
# Builds the Windows packages (scripts/package-windows.sh) and tests them and the program under
# Wine, in a private Wine prefix against a private PulseAudio server (null sink) and a private X
# server:
#  - the cross-built winmm and endpoint-volume mixer tests, and the tests of the one-copy claim
#    (run beside the unpacked ZIP's Qt DLLs);
#  - the Run value of "start with Windows", written, read back and removed;
#  - the portable ZIP, unpacked into a fresh folder: every DLL it needs is in it or in Windows,
#    the program starts with its window titled "Hushwell", tries the endpoint volume and opens it
#    or (Wine 8's is a stub) the winmm mixer (no "Couldn't open the mixer." box), ticks every
#    second, shows the text of its mark boxes, and ends when its window is closed; and with
#    Wine's audio drivers off, it says "Couldn't open the mixer." in a message box;
#  - the installer, silently (/S): the files, installed.txt, the Start-menu entry and the
#    uninstall entry are there, and the installed program runs as above;
#  - the uninstaller, silently (/S): everything the installer wrote is gone, and so are the Run
#    value of "start with Windows" and Task Manager's switch for it; the settings in
#    %APPDATA%\Hushwell are untouched;
#  - the program's behaviour (tests/windows, built for Linux, driving the unpacked ZIP's
#    hushwell.exe): the schedule under the real clock, the Up level at every ending, the settings
#    of an installed copy and of a copy in a folder outside the ANSI code page.
# Prints the size of each package and the time of each step. Screenshots of the windows are left in
# ${HUSHWELL_SHOTS:-/tmp/hushwell-windows-shots}.
cd "$(dirname "$0")/.."
source scripts/common.sh
ensure_packages "${WINDOWS_PACKAGE_TEST_PACKAGES[@]}"

scripts/package-windows.sh
repo=$PWD
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
zip="$repo/build-windows/hushwell-$version-win64.zip"
setup="$repo/build-windows/hushwell-$version-win64-setup.exe"
shots=${HUSHWELL_SHOTS:-/tmp/hushwell-windows-shots}
mkdir -p "$shots"

source scripts/audio-sandbox.sh
source scripts/display-sandbox.sh
source scripts/windows-sandbox.sh
program_pid=""
at_exit eval 'stop_pid "$program_pid"'

begin "Wine prefix"
start_audio_sandbox
start_display_sandbox
start_wine_sandbox
took "private PulseAudio server, Xvfb and Wine prefix"

begin "winmm mixer tests"
wine build-windows/tests/winmm_tests.exe --gtest_brief=1
took "winmm_tests.exe"

begin "Endpoint volume tests"
wine build-windows/tests/endpoint_tests.exe --gtest_brief=1
took "endpoint_tests.exe"

begin "Platform tests"
wine build-windows/tests/platform_tests.exe --gtest_brief=1
took "platform_tests.exe"

begin "Start with Windows tests"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
wine build-windows/tests/autostart_tests.exe --gtest_brief=1
# The tests end with the value removed; the registry, asked by Wine's own tool, agrees.
! wine reg query "$run_key" /v Hushwell >/dev/null 2>&1 || fail "the Run value Hushwell is left"
took "autostart_tests.exe"

# Windows that the program shows, as "id width height name" lines.
visible_windows() {
    local id
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        echo "$id $WIDTH $HEIGHT $(xdotool getwindowname "$id")"
    done
}

# Pixels inside a rectangle of a screenshot darker than 80 % white: text (grey with anti-aliasing)
# where a box would otherwise be plain white.
dark_pixels() {
    convert "$1" -crop "$2" +repage -colorspace Gray -threshold 80% -format '%[fx:int(w*h*(1-mean)+0.5)]' info:
}

# The program's log of its mixer calls, on stderr. Qt reads QT_* variables, which Wine passes to a
# Windows program only with a WINE prefix; QT_FORCE_STDERR_LOGGING sends the log of a GUI program
# to stderr instead of OutputDebugString.
wine_log="WINEQT_FORCE_STDERR_LOGGING=1 WINEQT_LOGGING_RULES=hushwell.mixer.info=true"

# check_program FOLDER NAME: starts FOLDER/hushwell.exe, checks what the window shows, closes it.
check_program() {
    local folder=$1 name=$2 log="$HUSHWELL_WINE_DIR/$2.log" window="" id width _ title
    local started
    started=$(date +%s.%N)
    (cd "$folder" && exec env $wine_log wine hushwell.exe) >"$log" 2>&1 &
    program_pid=$!
    for _ in $(seq 300); do
        while read -r id width _ title; do
            if [ "$width" -lt 400 ] && [ "$title" = "Hushwell" ]; then
                import -window "$id" "$shots/$name-message.png"
                fail "$name: a message box appeared at start-up (see $shots/$name-message.png)"
            fi
            if [ "$width" -ge 400 ]; then
                window=$id
            fi
        done < <(visible_windows)
        [ -n "$window" ] && break
        kill -0 "$program_pid" 2>/dev/null || fail "$name: the program ended at start-up: $(cat "$log")"
        sleep 0.1
    done
    [ -n "$window" ] || fail "$name: no window within 30 s"
    awk -v what="$name: start to window shown" -v start="$started" -v now="$(date +%s.%N)" \
        'BEGIN { printf "   %s: %.1f s\n", what, now - start }'
    title=$(xdotool getwindowname "$window")
    [ "$title" = "Hushwell" ] || fail "$name: the window is titled \"$title\", not \"Hushwell\""
    echo "   $name: window titled \"$title\""

    # The first tick has drawn the clock when the next one changes it.
    sleep 1.2
    import -window "$window" "$shots/$name.png"
    sleep 2
    import -window "$window" "$shots/$name-later.png"
    while read -r id width _ title; do
        if [ "$width" -lt 400 ] && [ "$title" = "Hushwell" ]; then
            import -window "$id" "$shots/$name-message.png"
            fail "$name: a message box appeared after start-up (see $shots/$name-message.png)"
        fi
    done < <(visible_windows)
    # The endpoint volume is tried first. Wine 8's is a stub, so the program says why it did not
    # open and falls back to winmm; a Wine whose endpoint volume takes a value opens that one.
    if ! grep -q "hushwell.mixer: open: endpoint volume" "$log"; then
        grep -q "hushwell.mixer: open: tried endpoint volume: .*HRESULT 0x[0-9a-f]\{8\}" "$log" ||
            fail "$name: the log does not tell that the endpoint volume was tried: $(cat "$log")"
        grep -q "hushwell.mixer: open: winmm" "$log" ||
            fail "$name: neither the endpoint volume nor the winmm mixer opened: $(cat "$log")"
    fi
    echo "   $name: $(grep -o 'hushwell.mixer: open: .*' "$log" | tr -d '\r')"

    # Every mark box (33x19 pixels, columns 40 pixels apart from x=72; Down at y=48, Up at y=80)
    # and the clock box show their text, "00:00" or the time.
    local i row dark
    for row in 48 80; do
        for i in 0 1 2 3 4 5 6 7; do
            dark=$(dark_pixels "$shots/$name.png" "29x15+$((72 + 40 * i + 2))+$((row + 2))")
            [ "$dark" -ge 30 ] ||
                fail "$name: the mark box at x=$((72 + 40 * i)), y=$row shows no text ($dark dark pixels; $shots/$name.png)"
        done
    done
    dark=$(dark_pixels "$shots/$name.png" "29x15+10+10")
    [ "$dark" -ge 30 ] || fail "$name: the clock box shows no text ($shots/$name.png)"
    echo "   $name: all 16 mark boxes and the clock box show text"

    # The clock box (8,8 33x19 pixels) changes from tick to tick.
    local clock_changed
    clock_changed=$(compare -metric AE -crop 29x15+10+10 "$shots/$name.png" "$shots/$name-later.png" \
        null: 2>&1 || true)
    [ "${clock_changed%% *}" != "0" ] || fail "$name: the clock did not change in 2 s: no tick"
    echo "   $name: the clock box changed in 2 s ($clock_changed pixels)"

    # Closing the window (WM_CLOSE, as its close button) ends the program.
    wine taskkill /IM hushwell.exe >/dev/null 2>&1 || true
    wait_until 10 ended "$program_pid" || fail "$name: still running 10 s after its window was closed"
    wait "$program_pid" || fail "$name: ended with status $?"
    program_pid=""
    echo "   $name: ended when its window was closed"
}

# check_without_mixer FOLDER: with Wine's audio drivers off there is no mixer: the program says
# so in a message box and still shows its window (and the message-box check above can fail).
check_without_mixer() {
    local log="$HUSHWELL_WINE_DIR/no-mixer.log" box="" id width _ title
    wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1 ||
        fail "could not switch Wine's audio drivers off"
    (cd "$1" && exec env $wine_log wine hushwell.exe) >"$log" 2>&1 &
    program_pid=$!
    for _ in $(seq 300); do
        while read -r id width _ title; do
            if [ "$width" -lt 400 ] && [ "$title" = "Hushwell" ]; then
                box=$id
            fi
        done < <(visible_windows)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "without audio drivers: no message box within 30 s"
    import -window "$box" "$shots/no-mixer-message.png"
    # Enter answers the message box, as a user would; then the window shows, and closing it ends
    # the program. (Not taskkill: that asks every window of the program to close, the main window
    # too, which has not been shown yet, and the program rightly ends.)
    local window=""
    xdotool windowfocus --sync "$box" >/dev/null 2>&1 || true
    xdotool key Return
    for _ in $(seq 100); do
        while read -r id width _ title; do
            if [ "$width" -ge 400 ]; then
                window=$id
            fi
        done < <(visible_windows)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "without audio drivers: no window after the message box"
    for _ in $(seq 100); do
        wine taskkill /IM hushwell.exe >/dev/null 2>&1 || true
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.5
        kill -0 "$program_pid" 2>/dev/null || break
    done
    kill -0 "$program_pid" 2>/dev/null && fail "without audio drivers: still running after closing"
    wait "$program_pid" || true
    program_pid=""
    wine reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f >/dev/null 2>&1 ||
        fail "could not switch Wine's audio drivers back on"
    grep -q "hushwell.mixer: open: (none opened)" "$log" ||
        fail "without audio drivers: the log does not say that no mixer opened: $(cat "$log")"
    echo "   without audio drivers: a message box ($shots/no-mixer-message.png), no mixer opened"
}

# check_imports FOLDER: every DLL that an .exe or .dll of FOLDER imports is in FOLDER or is part of
# Windows (Wine's system32, or an API set, which Windows resolves without a file).
check_imports() {
    local system32="$WINEPREFIX/drive_c/windows/system32" file dll
    while IFS= read -r -d '' file; do
        for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
            case "${dll,,}" in api-ms-win-* | ext-ms-win-*) continue ;; esac
            [ -n "$(find "$1" "$system32" -maxdepth 1 -iname "$dll" -print -quit)" ] ||
                fail "$(basename "$file") needs $dll, which is neither in the folder nor in Windows"
        done
    done < <(find "$1" -iname '*.exe' -print0 -o -iname '*.dll' -print0)
}

begin "Portable ZIP"
portable="$WINEPREFIX/drive_c/Portable copy"
mkdir -p "$portable"
cmake -E chdir "$portable" cmake -E tar xf "$zip"
portable="$portable/hushwell-$version-win64"
for file in hushwell.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    README.txt LICENSE.txt; do
    [ -f "$portable/$file" ] || fail "the ZIP has no $file"
done
[ ! -e "$portable/installed.txt" ] || fail "the ZIP has installed.txt"
check_imports "$portable"
echo "   the ZIP has every file, no installed.txt, and every DLL its programs import"
check_program "$portable" portable
took "portable ZIP: unpack, checks, run"

begin "One-copy claim tests"
claim_tests="$HUSHWELL_WINE_DIR/claim-tests"
cp -r "$portable" "$claim_tests"
cp build-windows/tests/single_instance_tests.exe "$claim_tests/"
wine "$claim_tests/single_instance_tests.exe" --gtest_brief=1
took "single_instance_tests.exe"

begin "Portable copy without audio drivers"
check_without_mixer "$portable"
took "run without a mixer"

begin "Installer, silently"
appdata=$(wine_path APPDATA)
installed="$(wine_path LOCALAPPDATA)/Programs/Hushwell"
shortcut="$appdata/Microsoft/Windows/Start Menu/Programs/Hushwell.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Hushwell'
wine "$setup" /S
wineserver --wait
took "install"
[ -f "$installed/hushwell.exe" ] || fail "the installer did not install $installed/hushwell.exe"
for file in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    README.txt LICENSE.txt Uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the installer did not install $file"
done
expected='This copy of Hushwell was installed by its installer. It keeps its settings in %APPDATA%\Hushwell.'
[ "$(tr -d '\r\n' <"$installed/installed.txt")" = "$expected" ] ||
    fail "installed.txt reads \"$(cat "$installed/installed.txt")\""
[ -f "$shortcut" ] || fail "no Start-menu entry $shortcut"
grep -aq 'hushwell.exe' "$shortcut" || fail "the Start-menu entry does not start hushwell.exe"
wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
    fail "no uninstall entry with version $version in $uninstall_key"
echo "   installed into $installed, with installed.txt, a Start-menu entry and an uninstall entry"
begin "Installed program"
check_program "$installed" installed
took "installed program: run"

begin "Uninstaller, silently"
# Settings where an installed copy keeps them: the uninstaller must leave them as they are.
mkdir -p "$appdata/Hushwell"
printf 'settings of a user\r\n' >"$appdata/Hushwell/Hushwell_setup.txt"
settings_sum=$(sha256sum <"$appdata/Hushwell/Hushwell_setup.txt")
# "Start with the desktop" turned on for the installed copy: its Run value and Task Manager's
# switch for it, as the program writes them. The uninstaller removes both.
approved_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
wine reg add "$run_key" /v Hushwell /d "\"$(winepath -w "$installed/hushwell.exe")\" --autostart" \
    /f >/dev/null 2>&1
wine reg add "$approved_key" /v Hushwell /t REG_BINARY /d 020000000000000000000000 /f >/dev/null 2>&1
for key in "$run_key" "$approved_key"; do
    wine reg query "$key" /v Hushwell >/dev/null 2>&1 || fail "could not write Hushwell in $key"
done
wine "$installed/Uninstall.exe" /S
# The uninstaller runs from a copy of itself in the temporary folder: wait for it.
wineserver --wait
took "uninstall"
[ ! -e "$installed/hushwell.exe" ] || fail "hushwell.exe is still there after uninstalling"
[ ! -e "$installed" ] || fail "the installation folder is still there: $(ls -A "$installed")"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
! wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is still there"
for key in "$run_key" "$approved_key"; do
    ! wine reg query "$key" /v Hushwell >/dev/null 2>&1 || fail "the value Hushwell is left in $key"
done
[ "$(sha256sum <"$appdata/Hushwell/Hushwell_setup.txt")" = "$settings_sum" ] ||
    fail "the settings in %APPDATA%\\Hushwell changed"
echo "   the program, its folder, its Start-menu and uninstall entries and its start with the" \
    "desktop are gone; %APPDATA%\\Hushwell is untouched"

begin "The program under Wine"
cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target wine_tests >/dev/null
# The tests start their own X and PulseAudio servers, and the prefix's Wine server afresh.
HUSHWELL_WINDOWS_PROGRAM="$portable" build/tests/wine_tests
took "program tests"

for package in "$zip" "$setup"; do
    awk -v name="$(basename "$package")" -v size="$(stat -c %s "$package")" \
        'BEGIN { printf "%s: %.1f MB\n", name, size / 1e6 }'
done
echo "Screenshots: $shots/portable.png, $shots/installed.png"
echo "All Windows tests passed."
