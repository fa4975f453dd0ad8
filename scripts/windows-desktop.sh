# Sourced by the scripts that drive the Windows program's windows under
# Wine: an X server of their own (Xvfb), a window manager (openbox), a
# Wine prefix, and bounded waits for windows. Every step has a time limit;
# stop_desktop ends Wine, openbox and Xvfb and is meant for a trap.
#
#   start_desktop BUILD_DIR    sets DISPLAY and WINEPREFIX
#   wait_for_window REGEX      prints the id of the visible window so named
#   wait_gone REGEX            until no visible window is so named
#   grab_framed REGEX FILE     a window with its frame as a PNG file
#   stop_desktop

desktop_pids=()

start_desktop() {
  local build=$1
  "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh" xvfb xauth x11-apps imagemagick openbox xdotool x11-utils \
    >/dev/null
  export WINEPREFIX="$PWD/$build/wineprefix-gui"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  desktop_pids+=($!)
  local number
  read -r -t 30 number <"$fifo" || { rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1; }
  rm -f "$fifo"
  export DISPLAY=":$number"
  openbox >/dev/null 2>&1 &
  desktop_pids+=($!)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 wineboot --init </dev/null >/dev/null 2>&1
  fi
  # A crash ends the program instead of opening the debugger's dialog.
  timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
  timeout 30 wineserver -p </dev/null >/dev/null 2>&1 || true
}

stop_desktop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
  fi
  local pid
  for pid in "${desktop_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${desktop_pids[@]}"; do
    timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
  done
  desktop_pids=()
}

# Polls up to 60 s (in steps of 0.1 s) for a visible window whose name
# matches; prints its id.
wait_for_window() {
  local id i
  for i in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "no window named '$1' appeared" >&2
  return 1
}

wait_gone() {
  local i
  for i in $(seq 600); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "the window named '$1' stayed" >&2
  return 1
}

# The size of a window's client area (under Wine the X window is just
# that): "WIDTHxHEIGHT".
client_size() {
  xwininfo -id "$1" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'
}

# The window named so (REGEX) with the window manager's frame around it
# (its caption shows), as it stands on the screen. Looked up anew for each
# try, since Wine may give a window a new X window.
grab_framed() {
  local id x y w h l r t b
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [ -n "$id" ] &&
      read -r x y w h < <(xwininfo -id "$id" 2>/dev/null |
        awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4}
             /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}') &&
      read -r l r t b < <(xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //; s/,/ /gp') &&
      [ -n "$b" ] && [ -n "$h" ] &&
      timeout 30 xwd -silent -root |
      timeout 30 /usr/bin/convert xwd:- -crop "$((w + l + r))x$((h + t + b))+$((x - l))+$((y - t))" +repage "$2" &&
      return 0
    sleep 0.1
  done
  echo "could not grab the window named '$1'" >&2
  return 1
}

# The colour of one pixel of a window's client area: "#RRGGBB".
pixel() {
  timeout 30 xwd -silent -id "$1" | timeout 30 /usr/bin/convert "xwd:-[1x1+$2+$3]" -depth 8 txt:- |
    grep -o '#[0-9A-F]\{6\}' | head -1
}

# How many pixels of colour $4 ("#RRGGBB") the rectangle $2 ("WxH+X+Y") of
# the client area of window $1 holds.
count_colour() {
  timeout 30 xwd -silent -id "$1" | timeout 30 /usr/bin/convert xwd:- -crop "$2" +repage -depth 8 txt:- |
    grep -c "$3" || true
}
