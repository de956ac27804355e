#!/usr/bin/env bash
# A full invisible update with the real upgrunner.bin from an emulated stick: one package-wide
# copy of a tree of about 500 files (256 MiB) with CRC values, then the finish (no beeps, restart
# recorded in the sysroot). Compared with "cp -r" of the same tree in the same run; wall time,
# CPU time (user + system) and peak resident memory of both come from /usr/bin/time. Temporary
# data lives under the build folder and is removed afterwards. Run by bench/run_bench.sh when
# VARIANTS is set (the one benchmark command); on its own:
#   bench/run_update_bench.sh           (BUILD_DIR defaults to <repo>/build, REPEAT to 3)
#   VARIANTS="plain manifest signed" bench/run_update_bench.sh
#                                       the same package three ways, one after the other in each
#                                       run: "plain" only scrambled (the default), "manifest" made
#                                       by hixpack build (the manifest checked as each file is
#                                       staged), "signed" made by hixpack build --sign on a panel
#                                       that holds the key (the whole stick checked before the
#                                       run, and each staged file against the signed manifest);
#                                       for "signed" also "hixpack verify", the check the
#                                       launcher makes before its first page
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
repeat=${REPEAT:-3}
files=${FILES:-500}
total_mib=${TOTAL_MIB:-256}
variants=${VARIANTS:-plain}

cmake --build "$build" --target upgrunner upgentry hixresult vncsetup hixpack -j2 >/dev/null

work=$(mktemp -d -p "$build" update-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
sysroot=$work/sysroot
keys=$sysroot/etc/iot_cfg/hixkeys
mkdir -p "$sysroot/media/usb0" "$sysroot/run/vexo-hal"

# The tree: a few large files and many small ones, as in a runtime folder; the description lists
# every file with its CRC-32.
mkdir -p "$work/src"
python3 "$repo/bench/make_update_package.py" "$work/src/files" "$work/src/update.ini" \
    "$sysroot/usr/vexo_app/app" "$files" "$total_mib"
for variant in $variants; do
    stick=$work/stick-$variant
    case "$variant" in
    plain)
        mkdir -p "$stick/hixupdateu"
        cp -r "$work/src/files" "$stick/hixupdateu/"
        cp "$build/bin/upgrunner.bin" "$stick/hixupdateu/"
        "$build/bin/hixpack" scramble "$work/src/update.ini" "$stick/hixupdateu/update.ini" ;;
    manifest)
        "$build/bin/hixpack" build "$work/src" "$stick" >/dev/null ;;
    signed)
        "$build/bin/hixpack" keygen "$work/bench" >/dev/null
        "$build/bin/hixpack" build --sign "$work/bench.key" "$work/src" "$stick" >/dev/null ;;
    *) echo "unknown variant $variant" >&2; exit 2 ;;
    esac
done

measure() { # command... -> "wall_s peak_kib exit_status cpu_s"
    /usr/bin/time -f "%e %M %x %U %S" -o "$work/time" "$@" >/dev/null 2>&1
    awk '{ printf "%s %s %s %.2f\n", $1, $2, $3, $4 + $5 }' "$work/time"
}

echo "files=$files total=${total_mib}MiB repeat=$repeat variants=$variants load=$(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$repeat"); do
    line="run $run:"
    for variant in $variants; do
        stick=$work/stick-$variant
        rm -rf "$sysroot/usr" "$sysroot/media/usb0/hixbackup" "$sysroot/var" "$keys"
        if [ "$variant" = signed ]; then mkdir -p "$keys" && cp "$work/bench.pub" "$keys/"; fi
        printf '[head]\n' > "$stick/upgradeProcess.log"
        sync -f "$work"
        read -r up_wall up_kib _ up_cpu < <(HIX_SYSROOT=$sysroot QT_QPA_PLATFORM=offscreen \
            measure "$stick/hixupdateu/upgrunner.bin" "-showUpdatePage 0")
        head=$(head -n 1 "$stick/upgradeProcess.log")
        line="$line $variant ${up_wall}s cpu ${up_cpu}s ${up_kib}KiB ($head) |"
        if [ "$variant" = signed ]; then
            read -r check_wall check_kib check_exit check_cpu < <(measure "$build/bin/hixpack" verify "$stick" \
                --key "$work/bench.pub")
            line="$line launcher's check ${check_wall}s cpu ${check_cpu}s ${check_kib}KiB (exit $check_exit) |"
        fi
    done
    rm -rf "$work/cp"
    sync -f "$work"
    read -r cp_wall cp_kib _ < <(measure cp -r "$work/src/files" "$work/cp")
    echo "$line cp -r ${cp_wall}s ${cp_kib}KiB"
done
