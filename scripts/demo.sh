#!/usr/bin/env bash
# The updater on an emulated panel: builds upgrunner.bin, puts it on an emulated stick next to a
# run log as the launcher leaves it, shows its window for a few seconds (under Xvfb when there
# is one, otherwise on the offscreen platform), takes a screenshot and prints the run log.
# Nothing outside out/demo is touched; the program is ended by its process id.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build}
seconds=${DEMO_SECONDS:-4}

scripts/setup.sh
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" --target upgrunner -j "$(nproc)" >/dev/null

out=$root/out/demo
rm -rf "$out"
sysroot=$out/panel
stick=$sysroot/media/usb0
mkdir -p "$stick/hixupdateu" "$sysroot/usr/vexo_app" "$sysroot/tmp"
cp "$build_dir/bin/upgrunner.bin" "$stick/hixupdateu/"
printf '[失败]\n------------------------\n' > "$stick/upgradeProcess.log"
export HIX_SYSROOT=$sysroot
unset VEXO_PROJECT_DIR

xvfb_pid=""
runner_pid=""
cleanup() {
    [ -n "$runner_pid" ] && kill "$runner_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if command -v Xvfb >/dev/null; then
    display=""
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
    done
fi
if [ -n "${display:-}" ]; then
    mkdir -p "$out/fb"
    Xvfb ":$display" -screen 0 1024x768x24 -fbdir "$out/fb" -nolisten tcp >"$out/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
    export DISPLAY=:$display QT_QPA_PLATFORM=xcb
    echo "Showing upgrunner.bin on Xvfb :$display for $seconds s"
else
    export QT_QPA_PLATFORM=offscreen
    echo "No Xvfb: running upgrunner.bin on the offscreen platform for $seconds s"
fi

"$stick/hixupdateu/upgrunner.bin" "-execond 2" "-title 基础升级包" "-showUpdatePage 1" \
    >"$out/upgrunner.out" 2>&1 &
runner_pid=$!
sleep "$seconds"

screenshot=""
if [ -n "$xvfb_pid" ] && [ -e "$out/fb/Xvfb_screen0" ] && command -v python3 >/dev/null; then
    cp "$out/fb/Xvfb_screen0" "$out/screen.xwd"
    if python3 scripts/xwd2png.py "$out/screen.xwd" "$out/upgrunner.png"; then
        screenshot=$out/upgrunner.png
    fi
fi

kill "$runner_pid" 2>/dev/null || true
wait "$runner_pid" 2>/dev/null || true
runner_pid=""

echo
echo "== run log $stick/upgradeProcess.log =="
cat "$stick/upgradeProcess.log"
echo "== program output: $out/upgrunner.out"
if [ -n "$screenshot" ]; then
    echo "== screenshot: $screenshot"
else
    echo "== no screenshot (no Xvfb or no python3)"
fi
