#!/usr/bin/env bash
# The Windows program's windows under Wine, used as a person would: on an
# X server of their own with a window manager, dxfkonv.exe is started in a
# scratch directory of drawings, two drawings are selected with the mouse
# and converted with "Konverze", then a drawing that cannot be replaced
# shows the error box over the progress window. Before that, the window
# tests (win32_window_tests) run on the same X server. Every wait is a bounded
# poll; Wine, openbox and Xvfb end whatever happens.
# Usage: scripts/test-windows-gui.sh [BUILD_DIR]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
exe=$build/bin/dxfkonv.exe
if [ ! -f "$exe" ]; then
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

# The windows' own tests, which need a display.
log=$(mktemp)
status=0
timeout 300 wine "$build/bin/win32_window_tests.exe" >"$log" 2>&1 || status=$?
window_tests=$(grep -o '^\[  PASSED  \] [0-9]* test' "$log" | grep -o '[0-9][0-9]*' || echo 0)
if [ "$status" -ne 0 ] || [ "$window_tests" -eq 0 ]; then
  grep -v '^wine: ' "$log" >&2
  rm -f "$log"
  echo "windows gui: FAILED: the window tests (status $status)" >&2
  exit 1
fi
rm -f "$log"
echo "windows gui: ok: $window_tests window tests passed"

# The same at 144 dpi (Windows' 150 %): the tests take the scale into
# account, and the program's window grows by half.
dpi() {
  timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
}
dpi 144
check "the window tests pass at 144 dpi too" \
  eval 'timeout 300 wine "$build/bin/win32_window_tests.exe" 2>&1 | grep -q "^\[  PASSED  \] $window_tests test"'
exe=$(realpath "$exe")
(cd "$work" && exec timeout 600 wine "$exe") </dev/null >/dev/null 2>&1 &
program=$!
check "at 144 dpi the main window's client area is 573 x 701" \
  test "$(client_size "$(wait_for_window '^Konverze DXF soubor')")" = 573x701
xdotool mousemove --window "$(wait_for_window '^Konverze DXF soubor')" 504 648 click 1  # "Konec"
check "\"Konec\" where it is at 144 dpi ends the program" timeout 60 tail --pid="$program" -f /dev/null
wait "$program" || true
dpi 96

(cd "$work" && exec timeout 600 wine "$exe") </dev/null >/dev/null 2>&1 &
program=$!

# The main window, found anew each time: Wine may give a window a new X
# window once the window manager takes it.
main_id() { wait_for_window '^Konverze DXF soubor'; }
main_id >/dev/null
check "the main window's client area is 382 x 467" test "$(client_size "$(main_id)")" = 382x467
check "the main window is centred across the screen" \
  test "$(xwininfo -id "$(main_id)" | awk '/Absolute upper-left X:/ {print $4}')" = $(((1024 - 382) / 2))

click_main() {
  xdotool mousemove --window "$(main_id)" "$1" "$2" click 1
}

# The file list's items are 13 pixels high below its 2-pixel border at 200, 32.
item_y() { echo $((34 + 13 * $1 + 6)); }
file_list="165x159+202+34"
white='#FFFFFF'

# plan-tarnix.dxf and výkres-č2.dxf: a click, then a click with Shift.
click_main 280 "$(item_y 2)"
xdotool keydown shift
click_main 280 "$(item_y 3)"
xdotool keyup shift
highlight=$white
for _ in $(seq 300); do
  highlight=$(pixel "$(main_id)" 360 "$(item_y 3)")
  [ "$highlight" != "$white" ] && break
  sleep 0.1
done
check "two drawings are selected" test "$highlight" != "$white"

click_main 264 432  # "Konverze"
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
deselected() { [ "$(count_colour "$(main_id)" "$file_list" "$highlight")" -eq 0 ]; }
for _ in $(seq 300); do
  deselected && break
  sleep 0.1
done
check "the converted drawings are no longer selected" deselected

# The message box now up gets KEY, once it has the focus.
press_in_box() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name '^dxfkonv$' 2>/dev/null | head -1 || true)
    if [ -n "$id" ] && xdotool windowactivate --sync "$id" 2>/dev/null &&
      [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ]; then
      xdotool key --clearmodifiers "$1"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# plan-tarnix.dxf again: converted before, so the program asks; "a" picks
# the button the box was given, "Ano", and the drawing is converted once
# more, its backup now the drawing as the first batch left it.
click_main 280 "$(item_y 2)"
click_main 264 432
check "a drawing converted before is asked about" eval "wait_for_window '^dxfkonv$' >/dev/null"
check "its question takes a key" press_in_box a
converted_again() {
  cmp -s "$work/plan-tarnix.old" "$expected" && ! cmp -s "$work/plan-tarnix.dxf" "$expected"
}
for _ in $(seq 300); do
  converted_again && break
  sleep 0.1
done
check "\"Ano\" converts it again, the backup taking the first result" converted_again
# Decoded once more, some of its letters have no counterpart and became
# spaces: the batch ends with the message that says so, closed by Enter.
check "the batch's message names the characters lost" press_in_box Return
check "the question and the message are gone" wait_gone '^dxfkonv$'

# chyba.dxf: the batch stops with the error box; the progress window stays.
click_main 280 "$(item_y 0)"
click_main 264 432
box=$(wait_for_window '^dxfkonv$')
check "a failure shows the error box" test -n "$box"
check "the progress window stays on the screen with it" \
  eval 'xdotool search --onlyvisible --name "^Konvertuje se soubor chyba.dxf$" >/dev/null'
check "the drawing that failed is untouched" \
  eval 'cmp -s "$work/chyba.dxf" "$samples/plan-tarnix.dxf" && [ ! -e "$work/chyba.old" ]'
# The key goes to whichever window has the name now (see main_id).
closed() {
  local id
  id=$(xdotool search --onlyvisible --name '^dxfkonv$' 2>/dev/null | head -1 || true)
  [ -z "$id" ] && return 0
  xdotool key --window "$id" Return 2>/dev/null || true
  return 1
}
for _ in $(seq 100); do
  closed && break
  sleep 0.2
done
check "the error box closes with Enter" wait_gone '^dxfkonv$'
check "the progress window is still shown once it is closed" \
  eval 'xdotool search --onlyvisible --name "^Konvertuje se soubor" >/dev/null'

click_main 336 432  # "Konec"
status=0
timeout 60 tail --pid="$program" -f /dev/null || true
wait "$program" || status=$?
check "\"Konec\" ends the program with status 0" test "$status" -eq 0

echo "windows gui: $window_tests window tests and $passed checks of the program passed"
