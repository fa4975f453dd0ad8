#!/usr/bin/env bash
# Makes the Windows installer and zip from a cross build, then installs the
# installer silently under Wine, runs the installed command line, checks
# the Start-menu entry, and uninstalls it silently, checking that nothing
# of it is left. Run by scripts/test-windows.sh, after its tests, with its
# Wine prefix and environment; every Wine step has a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-windows}
: "${WINEPREFIX:?set up by scripts/test-windows.sh}"
export WINEDEBUG=-all

fail() {
  echo "test-windows-installer.sh: $*" >&2
  exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -f "$build"/dxfkonv-*-win64.exe "$build"/dxfkonv-*-win64.zip
(cd "$build" && timeout 300 cpack -G "NSIS;ZIP" >/dev/null)
installer="$build/dxfkonv-$version-win64.exe"
zip="$build/dxfkonv-$version-win64.zip"
[ -f "$installer" ] || fail "no installer $installer"
[ -f "$zip" ] || fail "no zip $zip"

# The zip holds the programs and the licence under one folder.
listing=$(unzip -Z1 "$zip")
for f in bin/dxfkonv-cli.exe LICENSE.txt; do
  grep -qx "dxfkonv-$version-win64/$f" <<<"$listing" || fail "$f missing from the zip"
done

drive_c="$WINEPREFIX/drive_c"
target='C:\dxfkonv-test'
dir="$drive_c/dxfkonv-test"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\dxfkonv'
rm -rf "$dir"

# /S: silent; /D= must come last and unquoted.
timeout 120 wine "$installer" /S "/D=$target" </dev/null >/dev/null 2>&1 \
  || fail "the silent install failed"
[ -f "$dir/bin/dxfkonv-cli.exe" ] || fail "dxfkonv-cli.exe not installed"
[ -f "$dir/LICENSE.txt" ] || fail "LICENSE.txt not installed"

# A program Wine could not start would print nothing: the output is checked.
out=$(timeout 60 wine "$target\\bin\\dxfkonv-cli.exe" --version </dev/null 2>&1 | tr -d '\r')
grep -q "$version" <<<"$out" || fail "the installed dxfkonv-cli.exe --version said: $out"

timeout 60 wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1 \
  || fail "no uninstall entry in the registry"

menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/dxfkonv"
verbs=('HKCR\SystemFileAssociations\.dxf\shell\dxfkonv' 'HKCR\Directory\shell\dxfkonv')
# query KEY ARGS...: what `reg query` prints of it, without the carriage returns.
query() { timeout 60 wine reg query "$@" </dev/null 2>/dev/null | tr -d '\r'; }
if [ -f "$dir/bin/dxfkonv.exe" ]; then
  [ -f "$menu/Konverze DXF souborů.lnk" ] || fail "no Start-menu entry for dxfkonv.exe"
  for verb in "${verbs[@]}"; do
    query "$verb" /ve | grep -q 'REG_SZ *Konvertovat v dxfkonv$' || fail "no verb \"Konvertovat v dxfkonv\" at $verb"
    command=$(query "$verb\command" /ve | sed -n 's/^ *(Default) *REG_SZ *//p; s/^ *<NO NAME> *REG_SZ *//p')
    [ "$command" = "\"$target\\bin\\dxfkonv.exe\" \"%1\"" ] || fail "the verb at $verb runs: $command"
  done
fi

# _?= runs the uninstaller where it is and waits for it (otherwise it
# copies itself away and returns at once); it then leaves only itself.
timeout 120 wine "$target\\Uninstall.exe" /S "_?=$target" </dev/null >/dev/null 2>&1 \
  || fail "the silent uninstall failed"
left=$(cd "$dir" 2>/dev/null && find . -mindepth 1 ! -name Uninstall.exe | head -5 || true)
[ -z "$left" ] || fail "the uninstall left: $left"
[ ! -e "$menu" ] || fail "the uninstall left the Start-menu folder"
if timeout 60 wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1; then
  fail "the uninstall left its registry entry"
fi
for verb in "${verbs[@]}"; do
  if timeout 60 wine reg query "$verb" </dev/null >/dev/null 2>&1; then
    fail "the uninstall left the verb at $verb"
  fi
done
rm -rf "$dir"

echo "windows installer: $(basename "$installer") ($(du -k "$installer" | cut -f1) KiB) installed, ran and uninstalled under Wine"
