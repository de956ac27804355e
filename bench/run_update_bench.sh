#!/usr/bin/env bash
# A full invisible update with the real upgrunner.bin from an emulated stick: one package-wide
# copy of a tree of about 500 files (256 MiB) with CRC values, then the finish (no beeps, restart
# recorded in the sysroot). Compared with "cp -r" of the same tree in the same run; wall time and
# peak resident memory of both come from /usr/bin/time. Temporary data lives under the build
# folder and is removed afterwards.
#   bench/run_update_bench.sh           (BUILD_DIR defaults to <repo>/build, REPEAT to 3)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
repeat=${REPEAT:-3}
files=${FILES:-500}
total_mib=${TOTAL_MIB:-256}

cmake --build "$build" --target upgrunner hixpack -j2 >/dev/null

work=$(mktemp -d -p "$build" update-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
stick=$work/sysroot/media/usb0
package=$stick/hixupdateu
mkdir -p "$package" "$work/sysroot/run/vexo-hal"
cp "$build/bin/upgrunner.bin" "$package/"

# The tree: a few large files and many small ones, as in a runtime folder; the description lists
# every file with its CRC-32.
python3 "$repo/bench/make_update_package.py" "$package/files" "$work/plain.ini" \
    "$work/sysroot/usr/vexo_app/app" "$files" "$total_mib"
"$build/bin/hixpack" scramble "$work/plain.ini" "$package/update.ini"

measure() { # command... -> "wall_s peak_kib"
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
    cat "$work/time"
}

echo "files=$files total=${total_mib}MiB repeat=$repeat"
for run in $(seq "$repeat"); do
    rm -rf "$work/sysroot/usr" "$work/cp" "$stick/hixbackup" "$work/sysroot/var"
    printf '[head]\n' > "$stick/upgradeProcess.log"
    sync
    read -r up_wall up_kib < <(HIX_SYSROOT=$work/sysroot QT_QPA_PLATFORM=offscreen \
        measure "$package/upgrunner.bin" "-showUpdatePage 0")
    head=$(head -n 1 "$stick/upgradeProcess.log")
    sync
    read -r cp_wall cp_kib < <(measure cp -r "$package/files" "$work/cp")
    ratio=$(python3 -c "print('%.2f' % ($up_wall / max($cp_wall, 0.01)))")
    echo "run $run: upgrunner ${up_wall}s ${up_kib}KiB (head line $head) | cp -r ${cp_wall}s ${cp_kib}KiB | ratio $ratio"
done
