#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (never part of the default build) and runs them.
#   fuzz/run.sh [seconds]   fuzzes each target that long, two at a time, niced; the inputs that
#                           reached new coverage are merged (minimised) into fuzz/corpus/<target>.
#   fuzz/run.sh --check     runs each target once over its committed corpus (seconds; for CI).
# Build dir: FUZZ_BUILD_DIR (default build-fuzz). FUZZ_TARGETS picks targets (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=fuzz
seconds=60
if [ "${1:-}" = "--check" ]; then mode=check; else seconds=${1:-60}; fi
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(${FUZZ_TARGETS:-description_fuzzer elf_fuzzer language_fuzzer result_fuzzer password_fuzzer signature_fuzzer})
command -v clang++ >/dev/null || { echo "fuzz/run.sh needs clang (apt-get install clang)" >&2; exit 1; }
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
nice -n 10 cmake -S . -B "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHIX_BUILD_TESTS=OFF -DHIX_BUILD_FUZZ=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
nice -n 10 cmake --build "$build_dir" --target "${targets[@]}" -j2
export QT_QPA_PLATFORM=offscreen
# The targets write their input to a file; on a RAM disk the sync of a save costs nothing.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:quarantine_size_mb=16}

max_len() { [ "$1" = elf_fuzzer ] && echo 65536 || echo 8192; }

if [ "$mode" = check ]; then
    for t in "${targets[@]}"; do
        [ -d "fuzz/corpus/$t" ] || { echo "no corpus for $t" >&2; exit 1; }
        "$build_dir/fuzz/$t" -runs=0 -max_len="$(max_len "$t")" "fuzz/corpus/$t" \
            > "$build_dir/fuzz/$t.check.log" 2>&1 || { cat "$build_dir/fuzz/$t.check.log"; exit 1; }
        echo "$t: $(grep -o 'DONE.*\|INITED.*' "$build_dir/fuzz/$t.check.log" | tail -1)"
    done
    exit 0
fi

seeds="$build_dir/fuzz/seeds"
rm -rf "$seeds"
python3 fuzz/make_seeds.py "$seeds"
run_one() {
    local t=$1 work="$build_dir/fuzz/work-$1" log="$build_dir/fuzz/$1.log"
    mkdir -p "$work" "fuzz/corpus/$t" "$build_dir/fuzz/artifacts-$t"
    cp -n "$seeds/$t"/* "fuzz/corpus/$t"/ 2>/dev/null || true
    # Crashes end the run of this target; the artefact is kept for the regression test.
    nice -n 10 "$build_dir/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$build_dir/fuzz/artifacts-$t/" \
        "$work" "fuzz/corpus/$t" > "$log" 2>&1 || echo "$t: stopped early, see $log" >&2
    local merged="$build_dir/fuzz/merged-$t"
    rm -rf "$merged" && mkdir -p "$merged"
    nice -n 10 "$build_dir/fuzz/$t" -merge=1 -max_len="$(max_len "$t")" "$merged" \
        "fuzz/corpus/$t" "$work" > "$log.merge" 2>&1
    rm -rf "fuzz/corpus/$t" && mv "$merged" "fuzz/corpus/$t"
    echo "$t: $(grep -E '^stat::number_of_executed_units' "$log" | tail -1)" \
        "$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)" \
        "corpus $(ls "fuzz/corpus/$t" | wc -l) files"
}
# Two at a time: the machine is shared.
running=0
for t in "${targets[@]}"; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then wait -n; running=$((running - 1)); fi
done
wait
