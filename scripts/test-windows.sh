#!/usr/bin/env bash
# Cross-builds the engine, dxfkonv-cli.exe and their tests for 64-bit
# Windows with MinGW-w64 and runs the tests under Wine, headless. Every
# Wine step has a time limit, so that a hung Wine cannot hold the run.
# Then makes the installer and the zip and installs them under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 fonts-wine googletest nsis unzip
jobs=2
build=build-windows

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDXFKONV_WERROR=ON
cmake --build "$build" -j"$jobs"

# A Wine prefix of the build's own, made once. The first Wine process
# starts wineserver and services that inherit its standard output; started
# here with nothing open, they cannot hold the pipes of a test's output.
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer
unset DISPLAY
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 wineboot --init </dev/null >/dev/null 2>&1
fi
# A crash ends the program instead of opening the debugger's dialog.
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  </dev/null >/dev/null 2>&1
timeout 30 wineserver -p </dev/null >/dev/null 2>&1 || true
timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1

# A test that passes prints its name as passed; a program Wine could not
# run prints nothing and would "pass" with status 0, so the count is checked.
log=$(mktemp)
timeout 1200 ctest --test-dir "$build" -j"$jobs" --timeout 120 --output-on-failure | tee "$log"
passed=$(grep -c ' Passed ' "$log" || true)
rm -f "$log"
if [ "$passed" -lt 75 ]; then
  echo "test-windows.sh: only $passed tests passed under Wine" >&2
  exit 1
fi
echo "windows: $passed tests passed under Wine"

# The installer and the zip, installed and uninstalled in the same prefix.
scripts/test-windows-installer.sh "$build"
scripts/test-windows-gui.sh "$build"
