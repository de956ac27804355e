#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while.
# Usage: fuzz/run.sh [seconds per target]   (build dir: build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
command -v clang++ >/dev/null || { echo "fuzz/run.sh needs clang (apt-get install clang)" >&2; exit 1; }
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g"
cmake -S . -B "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHIX_BUILD_TESTS=OFF -DHIX_BUILD_FUZZ=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build_dir" --target description_fuzzer elf_fuzzer -j2
mkdir -p "$build_dir/fuzz/corpus-elf" "$build_dir/fuzz/corpus-description"
for lib in /usr/arm-linux-gnueabihf/lib/libc.so.6 /usr/arm-linux-gnueabi/lib/libc.so.6; do
    [ -f "$lib" ] && cp "$lib" "$build_dir/fuzz/corpus-elf/$(basename "$(dirname "$(dirname "$lib")")")"
done
printf '[UPDATE_CONFIG]\nPROGRAM_NUM=2\n[PROGRAM1_CONFIG]\nPATH=a\n[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a\nDESTPATH1=/b\n' \
    > "$build_dir/fuzz/corpus-description/seed.ini"
"$build_dir/fuzz/elf_fuzzer" -max_total_time="$seconds" -max_len=2000000 "$build_dir/fuzz/corpus-elf"
"$build_dir/fuzz/description_fuzzer" -max_total_time="$seconds" "$build_dir/fuzz/corpus-description"
