#!/usr/bin/env bash
# Installs what is missing, builds twice (normally, with warnings as
# errors, and with AddressSanitizer and UndefinedBehaviorSanitizer), runs
# every test in both builds, runs each fuzzer for a bounded time, then
# cross-builds for Windows and runs the tests that apply there under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=2

log=$(mktemp)
trap 'rm -f "$log"' EXIT

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDXFKONV_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --timeout 600 --output-on-failure | tee -a "$log"

# The Debian package from the same build, checked so that a broken one fails here.
rm -f build/dxfkonv_*.deb
cmake --build build --target package
scripts/check-package.sh build/dxfkonv_*.deb

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DDXFKONV_SANITIZE=ON -DDXFKONV_WERROR=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize -j"$jobs" --timeout 900 --output-on-failure | tee -a "$log"

if [ -x fuzz/run.sh ]; then
  fuzz/run.sh
fi

scripts/test-windows.sh | tee -a "$log"

# One line for the three test runs, the one under Wine too (each failure
# above has stopped the script).
total=$(grep -o 'tests failed out of [0-9]*' "$log" | awk '{s += $5} END {print s + 0}')
skipped=$(grep -c '(Skipped)$' "$log" || true)
echo "tests: $((total - skipped)) passed, 0 failed, $skipped skipped"
