# The updater's window as seen from outside the process: where each control sits (the window
# layout, in twips as designed, 15 to a pixel) and what a screenshot says about the page shown.
# shellcheck shell=bash

WINDOW_TITLE="Tarnwick Updater"
MESSAGE_TITLE="Updater"

# Left Top Width Height in twips. Line1 runs from 120 to 7200 at 4920 and is one pixel high.
declare -A LAYOUT_TWIPS=(
  [pbDownloading]="2880 4440 4215 255"
  [pbStatusCheck]="2880 4440 4215 255"
  [cmdCancel]="5760 5160 1335 375"
  [cmdNext]="4320 5160 1335 375"
  [lDownload]="2880 2280 4215 2055"
  [lblDownloading]="840 4440 1935 255"
  [lblNextToDownload]="240 3480 2535 855"
  [lblVersionExplain]="240 2280 1950 195"
  [lblOldVersion]="6840 0 375 255"
  [lblNewVersion]="360 2520 60 195"
  [lblExplain]="240 3120 6855 255"
  [Line1]="120 4920 7080 15"
  [lblWelcome3]="2880 1200 4215 855"
  [lblWelcome2]="2880 720 4215 255"
  [lblWelcome]="2760 120 3285 630"
)

# control_rect NAME: "X Y W H" in pixels of the window's client area.
control_rect() {
  local l t w h
  read -r l t w h <<< "${LAYOUT_TWIPS[$1]:?unknown control $1}"
  echo "$((l / 15)) $((t / 15)) $((w / 15)) $((h / 15))"
}

# The window's own background, taken from a corner no control ever covers.
background_colour() {
  convert "$1" -alpha off -format '%[pixel:p{2,380}]' info:
}

# region_is_plain FILE X Y W H [MASK_RECT...]: true when the region holds nothing but the
# window's background once the MASK rects ("X Y W H" each) are painted over with it.
region_is_plain() {
  local file=$1 x=$2 y=$3 w=$4 h=$5
  shift 5
  local bg draw=() mx my mw mh
  bg=$(background_colour "$file")
  for mask in "$@"; do
    read -r mx my mw mh <<< "$mask"
    draw+=(-draw "rectangle $mx,$my $((mx + mw - 1)),$((my + mh - 1))")
  done
  local result
  result=$(convert "$file" -alpha off -fill "$bg" -stroke none "${draw[@]}" -alpha off \
    -crop "${w}x${h}+${x}+${y}" +repage -format '%k %[pixel:p{0,0}]' info:)
  [[ "$result" == "1 $bg" ]]
}

# control_shows FILE NAME [OTHER...]: something other than background is drawn in the
# control's place, leaving out the places of the OTHER controls that overlap it.
control_shows() {
  local file=$1 rect masks=() other
  rect=$(control_rect "$2")
  shift 2
  for other in "$@"; do
    masks+=("$(control_rect "$other")")
  done
  # shellcheck disable=SC2086
  ! region_is_plain "$file" $rect "${masks[@]}"
}

# The Next button draws its caption black when enabled and grey when disabled.
next_enabled() {
  local x y w h dark
  read -r x y w h <<< "$(control_rect cmdNext)"
  dark=$(convert "$1" -crop "$((w - 40))x$((h - 14))+$((x + 20))+$((y + 7))" +repage \
    -colorspace gray -format '%[fx:minima < 0.5 ? 1 : 0]' info:)
  [[ "$dark" == 1 ]]
}

# The shared place of the two progress bars is filled when its middle shows the bar's colour
# rather than the empty groove.
bar_filled() {
  local x y w h r g b
  read -r x y w h <<< "$(control_rect pbDownloading)"
  read -r r g b <<< "$(convert "$1" -format \
    "%[fx:int(255*p{$((x + w / 2)),$((y + h / 2))}.r)] %[fx:int(255*p{$((x + w / 2)),$((y + h / 2))}.g)] %[fx:int(255*p{$((x + w / 2)),$((y + h / 2))}.b)]" info:)"
  ((b > r + 60))
}

# Pages, as a screenshot of the window shows them.
page_welcome() {
  control_shows "$1" lblExplain && control_shows "$1" cmdNext && ! control_shows "$1" lDownload lblExplain
}
page_new_version() {
  control_shows "$1" lDownload && control_shows "$1" lblNewVersion && next_enabled "$1" && bar_filled "$1"
}
page_up_to_date() {
  control_shows "$1" lblNextToDownload && ! control_shows "$1" cmdNext && control_shows "$1" lDownload
}
page_downloading() {
  control_shows "$1" lblNewVersion && control_shows "$1" cmdNext && ! bar_filled "$1" &&
    control_shows "$1" pbDownloading
}
page_complete() {
  control_shows "$1" lblNextToDownload && ! control_shows "$1" cmdNext && bar_filled "$1" &&
    ! control_shows "$1" lblNewVersion
}
page_download_failed() {
  ! control_shows "$1" cmdNext && ! control_shows "$1" pbDownloading && control_shows "$1" lDownload
}

# wait_page ID PAGE SECONDS FILE: screenshots the window until it shows PAGE (one of the page_
# tests above); the screenshot that showed it is left in FILE.
wait_page() {
  local id=$1 page=$2 end=$((SECONDS + $3)) file=$4
  while ((SECONDS < end)); do
    if window_shot "$id" "$file" 2>/dev/null && "page_$page" "$file"; then
      return 0
    fi
    sleep 0.05
  done
  echo "the window did not reach the $page page within $3 s (last screenshot: $file)" >&2
  return 1
}

# click_control ID NAME: a click in the middle of the control.
click_control() {
  local x y w h
  read -r x y w h <<< "$(control_rect "$2")"
  click_at "$1" $((x + w / 2)) $((y + h / 2))
}
