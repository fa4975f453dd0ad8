#!/usr/bin/env bash
# Installs what is missing, builds twice (normally, with warnings as
# errors, and with AddressSanitizer and UndefinedBehaviorSanitizer), runs
# every test in both builds, then runs each fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=2

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DDXFKONV_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize -j"$jobs" --output-on-failure

if [ -x fuzz/run.sh ]; then
  fuzz/run.sh
fi
