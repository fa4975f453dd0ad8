#!/usr/bin/env bash
# Installs what is missing, builds, and starts dxfkonv in samples/.
# Without a display it says so and shows the command-line converter at
# work on a copy of a sample instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 >/dev/null

if [ -x build/app/dxfkonv ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  cd samples
  exec ../build/app/dxfkonv
fi

if [ -x build/app/dxfkonv ]; then
  echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
  echo "Here is the command-line converter on a copy of a sample instead:"
else
  echo "The command-line converter on a copy of a sample:"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/plan-tarnix.dxf "$work/"
echo "\$ dxfkonv-cli $work/plan-tarnix.dxf"
build/cli/dxfkonv-cli "$work/plan-tarnix.dxf"
echo
echo "Converted texts:"
tr -d '\r' < "$work/plan-tarnix.dxf" | grep -a -x -A1 '  1' | grep -a -v -x -e '  1' -e '--' \
  | iconv -f CP1250 -t UTF-8 | tail -n 4
echo
echo "Use build/cli/dxfkonv-cli --help for all options."
