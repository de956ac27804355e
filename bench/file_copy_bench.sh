#!/usr/bin/env bash
# Copies a tree of about 500 files (256 MiB) with CRC values through copyFile(list) and compares it
# with "cp -r" of the same tree followed by a CRC-32 pass over the copy. Also measures the same
# copy without forcing staged files to the medium, and reports the peak resident memory.
#   bench/file_copy_bench.sh            (BUILD_DIR defaults to <repo>/build, REPEAT to 3)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
repeat=${REPEAT:-3}
files=${FILES:-500}
total_mib=${TOTAL_MIB:-256}

cmake -S "$repo" -B "$build" -DHIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target file_copy_bench file_copy_bench_noflush -j2 >/dev/null
bench=$build/bench/file_copy_bench
bench_noflush=$build/bench/file_copy_bench_noflush

work=$(mktemp -d -p "$build" file-copy-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$work/src" "$work/manifest" "$files" "$total_mib" <<'PY'
import os, random, sys, zlib
root, manifest, count, total = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]) << 20
rng = random.Random(4)
# A few large files and many small ones, as in a runtime folder.
weights = [rng.lognormvariate(0, 1.5) for _ in range(count)]
scale = total / sum(weights)
sizes = [max(1, int(w * scale)) for w in weights]
sizes[-1] += total - sum(sizes)
block = os.urandom(1 << 20)
with open(manifest, "w") as out:
    for i, size in enumerate(sizes):
        rel = f"d{i % 20:02d}/sub{i % 3}/f{i:04d}.bin"
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        crc = 0
        with open(path, "wb") as f:
            left, offset = size, i * 7919
            while left:
                piece = (block[offset % len(block):] + block)[:min(left, 1 << 20)]
                f.write(piece)
                crc = zlib.crc32(piece, crc)
                left -= len(piece)
                offset += len(piece)
        out.write(f"{rel}\t{crc:08X}\n")
PY
echo "tree: $(find "$work/src" -type f | wc -l) files, $(du -sm "$work/src" | cut -f1) MiB"

settle() { sync -f "$work"; cat $(find "$work/src" -type f) >/dev/null; }
now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

copy_times=() noflush_times=() cp_times=() cpsync_times=() rss=() growth=()
ratios=() noflush_ratios=()
for run in $(seq "$repeat"); do
    settle
    /usr/bin/time -v -o "$work/time.txt" "$bench" copy "$work/manifest" "$work/src" "$work/dst" \
        >"$work/out.txt" 2>/dev/null
    grep -q ' ok=1 ' "$work/out.txt" || { echo "copy list failed"; cat "$work/out.txt"; exit 1; }
    copy_times+=("$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' "$work/out.txt")")
    rss+=("$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")")
    growth+=("$(sed -n 's/.*peak_rss_before_kib=\([0-9]*\) peak_rss_after_kib=\([0-9]*\).*/\2 - \1/p' \
        "$work/out.txt" | bc)")
    rm -rf "$work/dst"

    settle
    "$bench_noflush" copy "$work/manifest" "$work/src" "$work/dst" >"$work/out.txt" 2>/dev/null
    grep -q ' ok=1 ' "$work/out.txt" || { echo "copy list failed"; exit 1; }
    noflush_times+=("$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' "$work/out.txt")")
    rm -rf "$work/dst"

    settle
    start=$(now)
    cp -r "$work/src" "$work/dst"
    "$bench" crc "$work/dst" >/dev/null
    cp_times+=("$(echo "$(now) - $start" | bc)")
    rm -rf "$work/dst"

    settle
    start=$(now)
    cp -r "$work/src" "$work/dst"
    find "$work/dst" -type f -exec sync {} +
    "$bench" crc "$work/dst" >/dev/null
    cpsync_times+=("$(echo "$(now) - $start" | bc)")
    rm -rf "$work/dst"

    # Ratios within one run, where the load of the machine is alike for both.
    ratios+=("$(echo "${copy_times[-1]} / ${cp_times[-1]}" | bc -l)")
    noflush_ratios+=("$(echo "${noflush_times[-1]} / ${cp_times[-1]}" | bc -l)")
done

copy=$(printf '%s\n' "${copy_times[@]}" | median)
noflush=$(printf '%s\n' "${noflush_times[@]}" | median)
cp=$(printf '%s\n' "${cp_times[@]}" | median)
cpsync=$(printf '%s\n' "${cpsync_times[@]}" | median)
peak=$(printf '%s\n' "${rss[@]}" | sort -n | tail -1)
grown=$(printf '%s\n' "${growth[@]}" | sort -n | tail -1)
ratio=$(printf '%s\n' "${ratios[@]}" | median)
noflush_ratio=$(printf '%s\n' "${noflush_ratios[@]}" | median)
printf 'runs: %s (median seconds)\n' "$repeat"
printf 'copyFile(list), durable:              %6.2f s   all runs: %s\n' "$copy" "${copy_times[*]}"
printf 'copyFile(list), no flush/read-back:   %6.2f s   all runs: %s\n' "$noflush" "${noflush_times[*]}"
printf 'cp -r + CRC-32 pass:                  %6.2f s   all runs: %s\n' "$cp" "${cp_times[*]}"
printf 'cp -r + fsync of each file + CRC-32:  %6.2f s   all runs: %s\n' "$cpsync" "${cpsync_times[*]}"
printf 'ratio durable / cp+crc:               %6.2f x  (median of per-run ratios)\n' "$ratio"
printf 'ratio no flush / cp+crc:              %6.2f x  (median of per-run ratios; goal <= 1.5x)\n' \
    "$noflush_ratio"
printf 'ratio durable / cp+fsync+crc:         %6.2f x\n' "$(echo "$copy / $cpsync" | bc -l)"
printf 'durability cost (flush + read-back):  %6.2f s\n' "$(echo "$copy - $noflush" | bc -l)"
printf 'peak RSS of the copy:                 %6d KiB  (whole process, /usr/bin/time)\n' "$peak"
printf 'peak RSS growth during copyFile(list): %5d KiB\n' "$grown"
