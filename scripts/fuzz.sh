#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time from its seed corpus
# in fuzz/corpus/<target>/, with fuzz/<target>.dict where there is one. New inputs the fuzzer
# finds go to BUILD/corpus/<target>/ (the seeds stay untouched); a crash leaves its input in
# BUILD/artifacts/ and fails the run.
#   scripts/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]      (default 60 s, every target)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$top/build-fuzz}
seconds=${1:-60}
shift || true
case "$seconds" in ''|*[!0-9]*) echo "fuzz.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;; esac

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DLUMO_FUZZ=ON -DLUMO_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=address,fuzzer-no-link \
        -DCMAKE_C_FLAGS=-fsanitize=address,fuzzer-no-link "${launcher[@]}" >/dev/null
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$top"/fuzz/*_fuzz.cpp; do n=$(basename "$f" _fuzz.cpp); targets+=("$n"); done
fi
echo "Building ${#targets[@]} fuzz target(s) in $build ..."
cmake --build "$build" --target "${targets[@]/#/fuzz_}" >"$build/build.log" 2>&1 ||
    { tail -20 "$build/build.log"; echo "fuzz.sh: build failed (full log: $build/build.log)" >&2; exit 1; }

mkdir -p "$build/artifacts"
failed=0
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus"
    seeds=() dict=()
    [ -d "$top/fuzz/corpus/$t" ] && seeds=("$top/fuzz/corpus/$t")
    [ -f "$top/fuzz/$t.dict" ] && dict=(-dict="$top/fuzz/$t.dict")
    printf '  %-16s %3d s ... ' "$t" "$seconds"
    log="$build/fuzz_$t.log"
    if "$build/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 "${dict[@]}" \
            -artifact_prefix="$build/artifacts/${t}-" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
        echo "ok, ${runs:-?} runs, corpus $(ls "$corpus" | wc -l) inputs"
    else
        echo "FAILED: see $log and $build/artifacts/"
        failed=1
    fi
done
exit $failed
