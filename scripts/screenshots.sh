#!/usr/bin/env bash
# Draws the real windows of dxfkonv into docs/screenshots/:
#   main-window.png      the main window over a directory of drawings
#   progress-window.png  the progress window halfway through a file
#
# The windows are built by tests/ui/grab_windows.cpp on Qt's offscreen
# platform (no display needed) in a scratch directory of example drawings.
# Usage: scripts/screenshots.sh   (BUILD_DIR and JOBS may be set)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshots}
out=$root/docs/screenshots

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDXFKONV_WITH_UI=ON -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" --target dxfkonv_grab_windows -j"${JOBS:-2}"

# A directory of drawings with a name a Czech user might give it.
demo_root=${TMPDIR:-/tmp}/dxfkonv-ukazka
rm -rf "$demo_root"
demo=$demo_root/výkresy
mkdir -p "$demo/archiv" "$demo/podklady"
for name in PLAN.DXF "Řez A-A.dxf" pudorys-1np.dxf pudorys-2np.dxf situace.DXF \
            detail_schodiště.dxf Kanalizace.dxf; do
  printf '  0\r\nEOF\r\n' >"$demo/$name"
done
touch "$demo/poznámky.txt" "$demo/PLAN.old" "$demo/.skryty.dxf"

mkdir -p "$out"
(cd "$demo" && QT_QPA_PLATFORM=offscreen "$build/tests/ui/dxfkonv_grab_windows" "$out" 52 \
   PLAN.DXF pudorys-1np.dxf pudorys-2np.dxf)
rm -rf "$demo_root"
