#!/usr/bin/env bash
# The main job, end to end, on an emulated panel:
#
#   scripts/demo.sh            on this machine (an emulated panel folder, Xvfb)
#   scripts/demo.sh --armhf    on the emulated 32-bit ARM panel (see the --armhf branch below)
#
#  1. installs what is missing and builds the programs;
#  2. makes an emulated panel in out/demo/panel (the HMI runtime 1.0 of examples/panel with an
#     access password, the fake runtime running, the HAL stand-in, a signing key installed) and
#     an emulated stick in its /media/usb0, made and signed by "hixpack build --sign" from
#     examples/package;
#  3. starts upgentry.bin from the stick on a virtual screen (xvfb-run) and answers every window
#     with mouse clicks as the technician would: the first page, the confirmation, the password
#     typed on the on-screen keyboard, the finish box and the restart button; with "--lang en"
#     the technician first picks "ENG" (English) in the first page's language box, so every window
#     after it and the run log are English (the English table that hixpack build puts on the
#     stick);
#  4. prints the run log, the beeps, the recorded restart, how long the update took against a
#     plain cp of the same files, whether the panel looks as examples/panel-expected says, and
#     where the screenshots of every window are.
#
# Nothing outside out/demo is written (the package's paths are moved into the emulated panel with
# "hixpack build --panel-root"); nothing restarts this machine. Every process started here is
# ended by its process id.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" = "--armhf" ]; then
    # The same update on the emulated 32-bit ARM panel (scripts/armhf_panel.py): the stick made
    # from the cross build as a FAT32 disk, the panel's own disk without Qt, taps on its touch
    # screen through the emulator's monitor. Options after --armhf go to scripts/armhf_demo.py
    # (--unattended: no windows; --docs: the screenshots to docs/armhf_*.png).
    shift
    scripts/setup.sh
    scripts/cross-armhf.sh --programs
    missing=()
    for p in dosfstools mtools fonts-wqy-microhei; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        SUDO=""
        [ "$(id -u)" -eq 0 ] || SUDO="sudo"
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
    build_dir=${BUILD_DIR:-build}
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
    cmake --build "$build_dir" -j "$(nproc)" --target hixpack >/dev/null
    exec python3 scripts/armhf_demo.py --build "$build_dir" "$@"
fi
build_dir=${BUILD_DIR:-build}
out=$root/out/demo
password=2468

# --lang zh (the default, the built-in Chinese) or --lang en.
lang=${HIX_DEMO_LANG:-zh}
if [ "${1:-}" = "--lang" ]; then
    lang=${2:-}
    shift 2 || true
fi
case "$lang" in
zh | en) ;;
*) echo "usage: scripts/demo.sh [--lang zh|en] | --armhf [--unattended] [--docs]" >&2; exit 2 ;;
esac
export HIX_DEMO_LANG=$lang

if [ "${1:-}" != "--on-screen" ]; then
    demo_start=$(date +%s.%N)
    scripts/setup.sh
    echo "== building"
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
    targets=(upgentry upgrunner hixpack hixresult fake_vexo_app hix_widget_map)
    cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}" >"$root/out-build.log" 2>&1 \
        || { cat "$root/out-build.log"; exit 1; }
    rm -f "$root/out-build.log"
    export HIX_DEMO_START=$demo_start
    # Not exec: in a process namespace of its own (scripts/isolated.sh) xvfb-run would become
    # its first process, which never gets the X server's "ready" signal, and the demo would hang.
    status=0
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --on-screen || status=$?
    # xvfb-run stops its X server without waiting for it; give the server the moment it needs to
    # remove its lock before the namespace ends.
    sleep 1
    exit $status
fi

# ---- on the virtual screen ------------------------------------------------------------------
bin=$root/$build_dir/bin
sysroot=$out/panel
stick=$sysroot/media/usb0
shots=$out/screenshots
rm -rf "$out"
mkdir -p "$out" "$shots"

echo "== emulated panel $sysroot"
mkdir -p "$sysroot"
cp -a examples/panel/. "$sysroot/"
mkdir -p "$sysroot/run/vexo-hal" "$sysroot/tmp" "$sysroot/var/log"
printf 'HIX-IMG-3.2\n\nrk\n2026\n' >"$sysroot/run/vexo-hal/platform_info"
export HIX_SYSROOT=$sysroot QT_QPA_PLATFORM=xcb
unset VEXO_PROJECT_DIR VEXO_EXPORT_DIR

# A throw-away key made for this run only: its public half is installed on the emulated panel,
# which then runs only sticks signed with it (docs/package-guide.md, "Signed sticks").
keys=$out/keys
mkdir -p "$keys" "$sysroot/etc/iot_cfg/hixkeys"
echo "== signing key (made for this demo, thrown away with out/demo)"
"$bin/hixpack" keygen "$keys/demo"
cp "$keys/demo.pub" "$sysroot/etc/iot_cfg/hixkeys/"

echo "== emulated stick $stick (hixpack build --sign)"
"$bin/hixpack" build --panel-root "$sysroot" --sign "$keys/demo.key" examples/package "$stick"
"$bin/hixpack" verify "$stick"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

"$bin/fake_vexo_app" --lifetime 150000 >"$out/runtime.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    grep -qs running "$sysroot/run/vexo_app/state" && break
    sleep 0.1
done
echo "== HMI runtime stand-in running (pid ${pids[0]})"

# The texts of the windows in the demo's language: the launcher's table on the stick for English.
language_file=""
title=基础升级包 password_title=HIX密码输入 notice_title=提示 success_head="[成功]"
if [ "$lang" = en ]; then
    language_file=$stick/language/0001.lan
    lan_text() { awk -v id="[$1]" '$0 == id { getline; sub(/^string="/, ""); sub(/"$/, ""); print; exit }' "$language_file"; }
    title=$(lan_text 2159) password_title=$(lan_text 1011) notice_title=$(lan_text 1001)
    success_head=$(lan_text 2001)
fi

# Button positions inside the windows, laid out by the programs' own window classes.
"$bin/hix_widget_map" password $language_file >"$out/map-password.txt" 2>/dev/null
"$bin/hix_widget_map" updater $language_file >"$out/map-updater.txt" 2>/dev/null
if [ -x "$bin/hix_widget_map" ] && "$bin/hix_widget_map" launcher $language_file >"$out/map-launcher.txt" 2>/dev/null; then :; fi

shot_number=0
shot() { # shot WINDOW-ID NAME: the screen with that window on top, as a PNG
    shot_number=$((shot_number + 1))
    local file=$shots/$(printf '%02d' $shot_number)-$2.png
    sleep 0.5 # let the window finish painting
    if xwininfo -id "$1" 2>/dev/null | grep -q IsViewable \
        && xwd -silent -root >"$out/shot.xwd" 2>/dev/null \
        && python3 scripts/xwd2png.py "$out/shot.xwd" "$file"; then
        echo "   screenshot $file"
    else
        echo "   (window $2 closed before its screenshot)"
    fi
    rm -f "$out/shot.xwd"
}

find_window() { # find_window TITLE [SECONDS]: id of the visible window with that title
    # A dialog may replace its native window while it opens: the id counts once it holds still.
    local deadline=$((SECONDS + ${2:-20})) id last=""
    while [ $SECONDS -lt $deadline ]; do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1 || true)
        if [ -n "$id" ] && [ "$id" = "$last" ]; then echo "$id"; return 0; fi
        last=$id
        sleep 0.3
    done
    echo "no window \"$1\" within ${2:-20} s" >&2
    return 1
}

window_gone() { # window_gone ID [SECONDS]
    local deadline=$((SECONDS + ${2:-20}))
    while [ $SECONDS -lt $deadline ]; do
        xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
        xwininfo -id "$1" 2>/dev/null | grep -q "IsViewable" || return 0
        sleep 0.1
    done
    return 1
}

click() { # click WINDOW-ID MAP-FILE BUTTON-NAME: a left click on that button
    local x y
    read -r x y < <(awk -v n="$3" '$1 == n { print $2, $3; exit }' "$2")
    if [ -z "$x" ]; then echo "no button $3 in $2" >&2; return 1; fi
    xdotool mousemove --window "$1" "$x" "$y" click 1
    sleep 0.15
}

log=$stick/upgradeProcess.log
waited_for_log() { # waited_for_log TEXT SECONDS
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
        grep -qsF "$1" "$log" && return 0
        sleep 0.1
    done
    return 1
}

if [ -x "$stick/upgentry.bin" ]; then
    echo "== the technician starts upgentry.bin from the stick"
    (cd "$stick" && exec ./upgentry.bin) >"$out/upgentry.out" 2>&1 &
    pids+=($!)

    page=$(find_window 基础升级包)
    shot "$page" first-page
    if [ "$lang" = en ]; then
        echo "== the technician picks English in the language box"
        # The box opens its list on a click; the entry below the current one is English.
        click "$page" "$out/map-launcher.txt" comboBox
        sleep 0.3
        xdotool key Down Return
        page=$(find_window "$title")
        shot "$page" first-page-english
    fi
    if [ -s "$out/map-launcher.txt" ]; then click "$page" "$out/map-launcher.txt" okBtn
    else xdotool key --window "$page" Return; fi
    window_gone "$page" 10 || true

    confirm=$(find_window "$title")
    shot "$confirm" confirmation
    if [ -s "$out/map-launcher.txt" ]; then click "$confirm" "$out/map-launcher.txt" upBtnOk
    else xdotool key --window "$confirm" Return; fi

    pwd_window=$(find_window "$password_title")
    # The dialog lets the operator in as soon as the typed text is the password: the picture is
    # taken before the last key.
    last=$((${#password} - 1))
    for ((i = 0; i < last; i++)); do
        click "$pwd_window" "$out/map-password.txt" "keyBtn${password:i:1}"
    done
    shot "$pwd_window" password
    update_start=$(date +%s.%N)
    click "$pwd_window" "$out/map-password.txt" "keyBtn${password:last:1}"
else
    echo "== no launcher in this build: starting the updater as the launcher does (four arguments)"
    printf '[失败]\n------------------------\n' >"$stick/upgradeProcess.log"
    update_start=$(date +%s.%N)
    lan_id=0000
    [ "$lang" = en ] && lan_id=0001
    (cd "$stick/hixupdateu" && LD_LIBRARY_PATH="\$PATH:$stick/hixupdateu:/usr/vexo_app" \
        exec ./upgrunner.bin "-execond 0" "-lanID $lan_id" "-title $title" "-showUpdatePage 1") \
        >"$out/upgrunner.out" 2>&1 &
    pids+=($!)
fi

updater=$(find_window "$title" 30)

finished=""
if finish_box=$(find_window "$notice_title" 60); then
    update_end=$(date +%s.%N)
    finished=yes
    shot "$finish_box" finish-text
    xdotool windowfocus --sync "$finish_box" 2>/dev/null || true
    xdotool key Return
    window_gone "$finish_box" 10 || true
    waited_for_log "$success_head" 10 || true
    # The beeps come one per second.
    for _ in $(seq 50); do
        [ "$(grep -c '^beep 500' "$sysroot/run/buzzer.log" 2>/dev/null || true)" -ge 3 ] && break
        sleep 0.1
    done
    updater=$(find_window "$title" 10)
    shot "$updater" updater-finished
    click "$updater" "$out/map-updater.txt" btnRestart
    for _ in $(seq 50); do [ -s "$sysroot/var/log/restart.log" ] && break; sleep 0.1; done
else
    update_end=$(date +%s.%N)
    shot "$updater" updater-stopped
fi

echo
echo "== run log $log"
cat "$log"
echo "== beeps ($sysroot/run/buzzer.log)"
cat "$sysroot/run/buzzer.log" 2>/dev/null || echo "(none)"
echo "== recorded restart ($sysroot/var/log/restart.log)"
cat "$sysroot/var/log/restart.log" 2>/dev/null || echo "(none)"

# The same files with cp: what the copy list moves, into a scratch folder.
scratch=$out/cp-target
mkdir -p "$scratch"
cp_start=$(date +%s.%N)
cp examples/package/version.txt "$scratch/"
cp -r examples/package/runtime "$scratch/"
mkdir -p "$scratch/fonts" && cp examples/package/fonts/*.ttf "$scratch/fonts/"
cp "$sysroot/usr/vexo_app/config/user_settings.ini" "$scratch/"
cp_end=$(date +%s.%N)
echo
awk -v u="$(awk -v a="$update_start" -v b="$update_end" 'BEGIN { print b - a }')" \
    -v c="$(awk -v a="$cp_start" -v b="$cp_end" 'BEGIN { print b - a }')" \
    'BEGIN { printf "== the update took %.2f s (updater start to finish box); cp of the same files %.3f s\n", u, c }'

echo "== panel /usr/vexo_app against examples/panel-expected"
differences=0
expected=$root/examples/panel-expected/usr/vexo_app
actual=$sysroot/usr/vexo_app
while IFS= read -r file; do
    if ! cmp -s "$expected/$file" "$actual/$file"; then
        echo "   differs or missing: $file"; differences=$((differences + 1))
    fi
done < <(cd "$expected" && find . -type f | sort)
while IFS= read -r file; do
    [ -e "$expected/$file" ] || { echo "   not expected: $file"; differences=$((differences + 1)); }
done < <(cd "$actual" && find . -type f | sort)
[ $differences -eq 0 ] && echo "   every file as expected"

echo "== screenshots of every window: $shots"
ls "$shots"
awk -v a="${HIX_DEMO_START:-0}" -v b="$(date +%s.%N)" \
    'BEGIN { printf "== the whole demo took %.0f s\n", b - a }'
[ -n "$finished" ] && [ $differences -eq 0 ]
