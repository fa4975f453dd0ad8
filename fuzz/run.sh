#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) in a build directory of their own and runs each on the
# committed seed corpus for a bounded time. Installs nothing: it needs
# clang and libclang-rt-14-dev (Debian) to be there.
#
#   fuzz/run.sh                 about a minute in all (what CI runs)
#   fuzz/run.sh 1800            half an hour per target
#   FUZZ_WORK=~/dxf-fuzz fuzz/run.sh 3600
#                               keeps what the fuzzers learn between runs
#
# Any input that breaks a property or a sanitizer check is written to
# $FUZZ_WORK/artifacts/ and the script fails, naming the file; replay it
# with: build-fuzz/fuzz/<target> <file>
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
work=${FUZZ_WORK:-$build/work}
seconds=${1:-}
jobs=${FUZZ_BUILD_JOBS:-2}

# Seconds per target when none are given: the text recoding is fast and
# shallow, the whole pass gets the larger share.
declare -A share=([convert_text_fuzzer]=20 [line_pass_fuzzer]=40)
declare -A corpus=([convert_text_fuzzer]=convert_text [line_pass_fuzzer]=line_pass)

for tool in clang clang++; do
    if ! command -v "$tool" >/dev/null; then
        echo "fuzz/run.sh: $tool not found (apt-get install clang libclang-rt-14-dev)" >&2
        exit 2
    fi
done

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DDXFKONV_FUZZ=ON -DBUILD_TESTING=OFF \
    -DDXFKONV_WITH_UI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target convert_text_fuzzer line_pass_fuzzer

mkdir -p "$work/artifacts"
status=0
for target in convert_text_fuzzer line_pass_fuzzer; do
    t=${seconds:-${share[$target]}}
    live="$work/corpus/${corpus[$target]}"
    mkdir -p "$live"
    echo "== $target for ${t}s"
    # The committed corpus is read only; new finds go to the live one.
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$target" -max_total_time="$t" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/${target}-" \
            "$live" "$root/fuzz/corpus/${corpus[$target]}" >"$work/$target.log" 2>&1; then
        status=1
        echo "!! $target failed; last lines of $work/$target.log:" >&2
        tail -n 40 "$work/$target.log" >&2
        ls -1 "$work/artifacts/${target}-"* 2>/dev/null >&2 || true
    fi
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE" "$work/$target.log" || true
done
exit $status
