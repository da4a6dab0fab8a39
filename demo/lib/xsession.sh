# A private X display (Xvfb on the first free display number) and the few things done with
# windows on it from outside: find them, focus them, press keys, click, take screenshots.
# shellcheck shell=bash

XVFB_PID=

# start_xvfb WORK: exports DISPLAY for the new server; 1 when Xvfb cannot run here.
start_xvfb() {
  local work=$1
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; return 1; }
  mkdir -p "$work"
  local numberFile="$work/display-number"
  : > "$numberFile"
  # -displayfd lets the server take the first free display and report it, so runs that happen
  # at the same time never fight over one number.
  Xvfb -displayfd 9 -screen 0 800x600x24 -nolisten tcp -noreset 9>"$numberFile" \
    > "$work/xvfb.out" 2>&1 &
  XVFB_PID=$!
  track_pid "$XVFB_PID"
  local end=$((SECONDS + 15))
  while [[ ! -s "$numberFile" ]] || ! grep -q '^[0-9]\+$' "$numberFile"; do
    if ! kill -0 "$XVFB_PID" 2>/dev/null || ((SECONDS >= end)); then
      echo "Xvfb did not start:" >&2
      cat "$work/xvfb.out" >&2
      stop_pid "$XVFB_PID"
      return 1
    fi
    sleep 0.05
  done
  export DISPLAY=":$(head -n1 "$numberFile")"
  wait_until 10 xdpyinfo_ok || { echo "display $DISPLAY does not answer" >&2; return 1; }
}

xdpyinfo_ok() {
  xdpyinfo >/dev/null 2>&1
}

# The id of the first mapped window whose title is exactly TITLE, or nothing.
visible_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1
}

# wait_window TITLE SECONDS: prints the id of the window once it is mapped.
wait_window() {
  local title=$1 deadline=$2 id end=$((SECONDS + $2))
  while ((SECONDS < end)); do
    id=$(visible_window "$title")
    if [[ -n "$id" ]]; then
      echo "$id"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# wait_window_gone ID SECONDS
wait_window_gone() {
  local id=$1 end=$((SECONDS + $2))
  while ((SECONDS < end)); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 0
    sleep 0.05
  done
  return 1
}

# There is no window manager on this display, so focus is given directly; keys then go to
# the window as they would after the person clicked into it.
press_key() {
  local id=$1 key=$2
  timeout 5 xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --delay 30 "$key"
}

# click_at ID X Y: a left click at window coordinates.
click_at() {
  local id=$1 x=$2 y=$3
  xdotool mousemove --window "$id" "$x" "$y"
  xdotool click 1
}

# window_shot ID FILE: the window's client area as PNG.
window_shot() {
  import -silent -window "$1" "$2"
}

# screen_shot FILE: the whole display (for a message box over the window).
screen_shot() {
  import -silent -window root "$1"
}

# window_geometry ID: prints "X Y W H" of the window on the screen.
window_geometry() {
  xwininfo -id "$1" | awk '
    /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
    END {print x, y, w, h}'
}

# shot_of_windows FILE ID...: the part of the display that holds all these windows, so a
# message box is seen together with the window it belongs to.
shot_of_windows() {
  local file=$1 id x y w h
  shift
  local x0=100000 y0=100000 x1=0 y1=0
  for id in "$@"; do
    read -r x y w h <<< "$(window_geometry "$id")"
    ((x < x0)) && x0=$x
    ((y < y0)) && y0=$y
    ((x + w > x1)) && x1=$((x + w))
    ((y + h > y1)) && y1=$((y + h))
  done
  import -silent -window root -crop "$((x1 - x0))x$((y1 - y0))+${x0}+${y0}" +repage "$file"
}

# wait_settled ID FILE SECONDS: screenshots until two in a row are the same (nothing is still
# being painted); the last one is left in FILE.
wait_settled() {
  local id=$1 file=$2 end=$((SECONDS + $3))
  local next="${file%.png}.next.png"
  window_shot "$id" "$file"
  while ((SECONDS < end)); do
    window_shot "$id" "$next"
    if cmp -s <(convert "$file" rgb:-) <(convert "$next" rgb:-); then
      rm -f "$next"
      return 0
    fi
    mv "$next" "$file"
    sleep 0.05
  done
  return 1
}
