#!/usr/bin/env bash
# The Windows program's windows under Wine, used as a person would: on an
# X server of their own with a window manager, dxfkonv.exe is started in a
# scratch directory of drawings, two drawings are selected with the mouse
# and converted with "Konverze", then a drawing that cannot be replaced
# shows the error box over the progress window. Every wait is a bounded
# poll; Wine, openbox and Xvfb end whatever happens.
# Usage: scripts/test-windows-gui.sh [BUILD_DIR]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
exe=$build/app/dxfkonv.exe
if [ ! -f "$exe" ]; then
  if [ ! -f "$build/engine/libdxfkonv_engine.a" ]; then
    echo "windows gui: no engine for Windows in $build yet, the windows are not built: skipped"
    exit 0
  fi
  echo "test-windows-gui.sh: $exe is missing" >&2
  exit 1
fi
source scripts/windows-desktop.sh

work=$(mktemp -d)
trap 'stop_desktop; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if ! "$@"; then
    echo "windows gui: FAILED: $what" >&2
    exit 1
  fi
  passed=$((passed + 1))
  echo "windows gui: ok: $what"
}

# The list, in Czech order: chyba.dxf, plan-autocad.dxf, plan-tarnix.dxf,
# výkres-č2.dxf. chyba.dxf nobody may write.
samples=$PWD/samples
expected=$PWD/tests/data/plan-tarnix.lw-256-sa.dxf
cp "$samples/plan-autocad.dxf" "$samples/plan-tarnix.dxf" "$work/"
cp "$samples/plan-tarnix.dxf" "$work/výkres-č2.dxf"
cp "$samples/plan-tarnix.dxf" "$work/chyba.dxf"
chmod a-w "$work/chyba.dxf"

start_desktop "$build"
exe=$(realpath "$exe")
(cd "$work" && exec timeout 600 wine "$exe") </dev/null >/dev/null 2>&1 &
program=$!

main=$(wait_for_window '^Konverze DXF soubor')
check "the main window's client area is 382 x 467" test "$(client_size "$main")" = 382x467
check "the main window is centred across the screen" \
  test "$(xwininfo -id "$main" | awk '/Absolute upper-left X:/ {print $4}')" = $(((1024 - 382) / 2))

# The file list's items are 13 pixels high below its 2-pixel border at 200, 32.
item_y() { echo $((34 + 13 * $1 + 6)); }
file_list="165x159+202+34"
white='#FFFFFF'

# plan-tarnix.dxf and výkres-č2.dxf: a click, then a click with Shift.
xdotool mousemove --window "$main" 280 "$(item_y 2)" click 1
xdotool keydown shift mousemove --window "$main" 280 "$(item_y 3)" click 1 keyup shift
highlight=$white
for _ in $(seq 300); do
  highlight=$(pixel "$main" 360 "$(item_y 3)")
  [ "$highlight" != "$white" ] && break
  sleep 0.1
done
check "two drawings are selected" test "$highlight" != "$white"

xdotool mousemove --window "$main" 264 432 click 1  # "Konverze"
converted() {
  cmp -s "$work/plan-tarnix.dxf" "$expected" && cmp -s "$work/výkres-č2.dxf" "$expected" &&
    [ -f "$work/plan-tarnix.old" ] && [ -f "$work/výkres-č2.old" ]
}
for _ in $(seq 600); do
  converted && break
  sleep 0.1
done
check "both drawings are converted, byte for byte" converted
check "their backups hold the drawings as they were" \
  cmp -s "$work/plan-tarnix.old" "$samples/plan-tarnix.dxf"
check "the Czech name's backup too" cmp -s "$work/výkres-č2.old" "$samples/plan-tarnix.dxf"
check "the drawing not selected is untouched" \
  eval 'cmp -s "$work/plan-autocad.dxf" "$samples/plan-autocad.dxf" && [ ! -e "$work/plan-autocad.old" ]'
check "the progress window is hidden after the batch" wait_gone '^Konvertuje se soubor'
deselected() { [ "$(count_colour "$main" "$file_list" "$highlight")" -eq 0 ]; }
for _ in $(seq 300); do
  deselected && break
  sleep 0.1
done
check "the converted drawings are no longer selected" deselected

# chyba.dxf: the batch stops with the error box; the progress window stays.
xdotool mousemove --window "$main" 280 "$(item_y 0)" click 1
xdotool mousemove --window "$main" 264 432 click 1
box=$(wait_for_window '^dxfkonv$')
check "a failure shows the error box" test -n "$box"
check "the progress window stays on the screen with it" \
  eval 'xdotool search --onlyvisible --name "^Konvertuje se soubor chyba.dxf$" >/dev/null'
check "the drawing that failed is untouched" \
  eval 'cmp -s "$work/chyba.dxf" "$samples/plan-tarnix.dxf" && [ ! -e "$work/chyba.old" ]'
xdotool key --window "$box" Return
check "the error box closes with Enter" wait_gone '^dxfkonv$'
check "the progress window is still shown once it is closed" \
  eval 'xdotool search --onlyvisible --name "^Konvertuje se soubor" >/dev/null'

xdotool mousemove --window "$main" 336 432 click 1  # "Konec"
status=0
timeout 60 tail --pid="$program" -f /dev/null || true
wait "$program" || status=$?
check "\"Konec\" ends the program with status 0" test "$status" -eq 0

echo "windows gui: $passed checks passed"
