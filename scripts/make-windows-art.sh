#!/usr/bin/env bash
# Draws the Windows program's icon and logo (app/win32/dxfkonv.ico and
# logo.bmp, which its resources hold) with the same artwork code as the
# Linux icons, from the native build. Run after changing ui/qt/Artwork.cpp;
# the results are committed, since the cross build has no Qt to draw them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target dxfkonv_make_icons
"$build/app/dxfkonv_make_icons" --windows app/win32
ls -l app/win32/dxfkonv.ico app/win32/logo.bmp
