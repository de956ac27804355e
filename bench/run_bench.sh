#!/usr/bin/env bash
# The update benchmark: full invisible updates by the real upgrunner.bin from an emulated stick,
# each set in the same run against "cp -r" of the same tree and against the durable floor
# (bench/durable_floor.cpp: copy each file, fdatasync it, drop its cached pages, read it back for
# a CRC-32, fsync each folder); then the backup and restore of 2 000 files of 4 KiB
# (bench/backup_bench.cpp). Every figure is the median of REPEAT runs; peak resident memory from
# /usr/bin/time. Not part of the tests: a timing never fails anything.
#
#   scripts/isolated.sh nice bench/run_bench.sh
#
# The updater closes older updaters by name and serves a fixed port: run it only through
# scripts/isolated.sh. Environment:
#   BUILD_DIR   build of the programs measured (default <repo>/build; built unless NO_BUILD=1)
#   TOOLS_DIR   build that holds bench/durable_floor (default BUILD_DIR), so an older build can
#               be measured against the same floor
#   WORK_DIR    where the data goes (default BUILD_DIR); a folder is made there and removed
#   REPEAT      runs per figure (default 3)
#   PACKAGES    "files:MiB ..." (default "500:256 5000:50 20000:80")
#   BACKUP      1 to measure the backup and restore too (default 1)
#   VARIANTS    e.g. "plain manifest signed": afterwards, the 500-file update as those packages
#               side by side, with the launcher's check of the signed stick
#               (bench/run_update_bench.sh, which this runs; default none)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$repo/build}" && pwd)
tools=$(cd "${TOOLS_DIR:-$build}" && pwd)
repeat=${REPEAT:-3}
packages=${PACKAGES:-"500:256 5000:50 20000:80"}
with_backup=${BACKUP:-1}

if [ "${NO_BUILD:-0}" != 1 ]; then
    cmake -S "$repo" -B "$build" -DHIX_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target upgrunner hixpack backup_bench -j2 >/dev/null
fi
[ -x "$tools/bench/durable_floor" ] || cmake --build "$tools" --target durable_floor -j2 >/dev/null

work=$(mktemp -d -p "${WORK_DIR:-$build}" bench-data.XXXXXX)
trap 'rm -rf "$work"' EXIT

median() { # numbers... -> the median
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
measure() { # command... -> "wall_s peak_kib"
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" \
        || { echo "failed: $*" >&2; tail -5 "$work/stderr" >&2; exit 1; }
    cat "$work/time"
}
settle() { # nothing left to write back from the run before
    sync -f "$work"
}

sysroot=$work/sysroot
stick=$sysroot/media/usb0
package=$stick/hixupdateu
mkdir -p "$package" "$sysroot/run/vexo-hal"
cp "$build/bin/upgrunner.bin" "$package/"

run_update() { # -> "wall_s peak_kib"; a fresh panel each time
    rm -rf "$sysroot/usr" "$stick/hixbackup" "$sysroot/var"
    # The launcher leaves the log with its pessimistic head line and the separator.
    printf '[失败]\n------------------------\n' >"$stick/upgradeProcess.log"
    settle
    local figures
    figures=$(cd "$package" && HIX_SYSROOT=$sysroot QT_QPA_PLATFORM=offscreen \
        measure ./upgrunner.bin "-showUpdatePage 0")
    [ "$(head -n 1 "$stick/upgradeProcess.log")" = "[成功]" ] || { echo "the update failed" >&2; exit 1; }
    [ -z "$(find "$sysroot/usr" -name '*.tmp' -print -quit 2>/dev/null)" ] \
        || { echo "staged files left" >&2; exit 1; }
    echo "$figures"
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); data in $work"
echo "measured: $build; floor: $tools/bench/durable_floor; median of $repeat"

# The fixed start: a package with nothing to do still waits for its window (500 ms), starts Qt,
# reads the description and finishes.
python3 "$repo/bench/make_update_package.py" "$package/files" "$work/plain.ini" \
    "$sysroot/usr/vexo_app/app" 0 0
"$build/bin/hixpack" scramble "$work/plain.ini" "$package/update.ini"
starts=() start_kib=()
for _ in $(seq "$repeat"); do
    read -r wall kib < <(run_update)
    starts+=("$wall") start_kib+=("$kib")
done
start=$(median "${starts[@]}")
echo "fixed start (empty package): ${start} s (${starts[*]}), peak RSS $(median "${start_kib[@]}") KiB"

printf '\n| package | upgrunner | start set aside | durable floor | ratio | cp -r | peak RSS upgrunner | peak RSS floor |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for spec in $packages; do
    files=${spec%%:*}
    mib=${spec##*:}
    rm -rf "$package/files" "$work/plain.ini"
    python3 "$repo/bench/make_update_package.py" "$package/files" "$work/plain.ini" \
        "$sysroot/usr/vexo_app/app" "$files" "$mib"
    "$build/bin/hixpack" scramble "$work/plain.ini" "$package/update.ini"
    ups=() up_kib=() floors=() floor_kib=() cps=()
    for _ in $(seq "$repeat"); do
        read -r wall kib < <(run_update)
        ups+=("$wall") up_kib+=("$kib")
        rm -rf "$work/floor"
        settle
        read -r wall kib < <(measure "$tools/bench/durable_floor" "$package/files" "$work/floor")
        floors+=("$wall") floor_kib+=("$kib")
        rm -rf "$work/cp"
        settle
        read -r wall _ < <(measure cp -r "$package/files" "$work/cp")
        cps+=("$wall")
        rm -rf "$work/cp" "$work/floor"
    done
    up=$(median "${ups[@]}")
    floor=$(median "${floors[@]}")
    net=$(python3 -c "print('%.2f' % max($up - $start, 0))")
    ratio=$(python3 -c "print('%.2f' % ($net / max($floor, 0.01)))")
    rss=$(python3 -c "print('%.1f MiB' % (max([$(IFS=,; echo "${up_kib[*]}")]) / 1024))")
    frss=$(python3 -c "print('%.1f MiB' % (max([$(IFS=,; echo "${floor_kib[*]}")]) / 1024))")
    printf '| %s files, %s MiB | %s s (%s) | %s s | %s s (%s) | %sx | %s s | %s | %s |\n' \
        "$files" "$mib" "$up" "${ups[*]}" "$net" "$floor" "${floors[*]}" "$ratio" \
        "$(median "${cps[@]}")" "$rss" "$frss"
done
rm -rf "$package/files" "$sysroot"

if [ "$with_backup" = 1 ]; then
    # backup_bench prints one line per step: "<what>  <seconds> s ..."; the small files only.
    backups=() restores=()
    for _ in $(seq "$repeat"); do
        settle
        "$build/bench/backup_bench" "$work/backup" >"$work/backup.txt" 2>"$work/stderr" \
            || { tail -5 "$work/stderr" >&2; exit 1; }
        small=$(sed -n '/^-- small/,/^-- big/p' "$work/backup.txt")
        backups+=("$(awk '/^backup/ { print $3 }' <<<"$small")")
        restores+=("$(awk '/^restore/ { print $3 }' <<<"$small")")
    done
    printf '\n| 2 000 files of 4 KiB | backup (list, copy, verify) | restore (copy, verify) |\n'
    printf '|---|---|---|\n'
    printf '| median of %s | %s s (%s) | %s s (%s) |\n' "$repeat" "$(median "${backups[@]}")" \
        "${backups[*]}" "$(median "${restores[@]}")" "${restores[*]}"
fi

if [ -n "${VARIANTS:-}" ]; then
    echo
    BUILD_DIR=$build REPEAT=$repeat VARIANTS=$VARIANTS "$repo/bench/run_update_bench.sh"
fi
