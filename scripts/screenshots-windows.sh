#!/usr/bin/env bash
# Draws the Windows program's real windows, under Wine on an X server of
# its own, into docs/screenshots/:
#   windows-main-window.png      the main window over a directory of drawings
#   windows-progress-window.png  the progress window during a batch
# Usage: scripts/screenshots-windows.sh   (BUILD_DIR may be set; the cross
# build of scripts/test-windows.sh is used, or made)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-windows}
out=$PWD/docs/screenshots

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j2 --target dxfkonv
exe=$(realpath "$build/bin/dxfkonv.exe")
source scripts/windows-desktop.sh

# A directory of drawings with names a Czech user might give them; one
# large enough that its pass lasts a moment.
demo_root=${TMPDIR:-/tmp}/dxfkonv-ukazka
rm -rf "$demo_root"
trap 'stop_desktop; rm -rf "$demo_root"' EXIT
demo=$demo_root/výkresy
mkdir -p "$demo/archiv" "$demo/podklady"
for name in PLAN.DXF "Řez A-A.dxf" pudorys-2np.dxf situace.DXF detail_schodiště.dxf Kanalizace.dxf; do
  printf '  0\r\nEOF\r\n' >"$demo/$name"
done
{
  printf '  0\r\nSECTION\r\n  2\r\nENTITIES\r\n'
  awk 'BEGIN { ORS = ""; for (i = 1; i <= 750000; i++)
                 print "  0\r\nTEXT\r\n  8\r\nPOPIS\r\n 62\r\n3\r\n  1\r\nM%%161stnost %%159. " i "\r\n" }'
  printf '  0\r\nENDSEC\r\n  0\r\nEOF\r\n'
} >"$demo/pudorys-1np.dxf"
touch "$demo/poznámky.txt" "$demo/PLAN.old"

start_desktop "$build"
(cd "$demo" && exec timeout 300 wine "$exe") </dev/null >/dev/null 2>&1 &
main_id() { wait_for_window '^Konverze DXF soubor'; }
main_id >/dev/null

# PLAN.DXF, pudorys-1np.dxf and pudorys-2np.dxf, as in the Linux pictures:
# items 2 to 4 of the file list (13 pixels each below its border at 200, 34).
xdotool mousemove --window "$(main_id)" 280 $((34 + 13 * 2 + 6)) click 1
xdotool keydown shift
xdotool mousemove --window "$(main_id)" 280 $((34 + 13 * 4 + 6)) click 1
xdotool keyup shift
xdotool mousemove --window "$(main_id)" 0 0
mkdir -p "$out"
sleep 0.5  # the selection painted: there is nothing to poll for in a picture
grab_framed '^Konverze DXF soubor' "$out/windows-main-window.png"

xdotool mousemove --window "$(main_id)" 264 432 click 1  # "Konverze"
wait_for_window '^Konvertuje se soubor pudorys-1np' >/dev/null
grab_framed '^Konvertuje se soubor pudorys-1np' "$out/windows-progress-window.png"
wait_gone '^Konvertuje se soubor'
xdotool mousemove --window "$(main_id)" 336 432 click 1  # "Konec"
ls -l "$out"/windows-*.png
