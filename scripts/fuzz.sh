#!/usr/bin/env bash
# Builds every fuzz/*_fuzzer.cpp with libFuzzer (clang, ASan and UBSan) into build-fuzz and runs each
# for its share of SECONDS (default 60 in all). A crash, leak, over-read or hang fails the run.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

total=${1:-60}
build=build-fuzz
jobs=$(nproc 2>/dev/null || echo 2)

CC=clang CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

targets=()
for source in fuzz/*_fuzzer.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no targets under fuzz/"
    exit 0
fi
share=$(( total / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1

for target in "${targets[@]}"; do
    # New inputs go to the ignored work folder; the committed seeds are only read.
    work=fuzz/corpus-work/$target
    seeds=fuzz/corpus/$target
    artifacts=$build/artifacts/$target
    mkdir -p "$work" "$seeds" "$artifacts"
    echo "fuzz: $target for ${share} s"
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/$target" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$work" "$seeds"
done
echo "fuzz: ${#targets[@]} target(s) ran clean"
