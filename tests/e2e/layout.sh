# What each page of the window must show, after the page table of the wizard: the controls
# drawn on it (their place is not plain background) and the controls hidden on it (their place
# is background wherever no shown control overlaps it). Empty labels (lblDownloading) draw
# nothing either way and are left out.
# shellcheck shell=bash

WELCOME_TEXTS="lblWelcome lblWelcome2 lblWelcome3 Line1"

declare -A PAGE_SHOWN=(
  [welcome]="$WELCOME_TEXTS lblExplain cmdNext cmdCancel"
  [new_version]="$WELCOME_TEXTS pbStatusCheck lDownload lblVersionExplain lblNewVersion cmdNext cmdCancel"
  [up_to_date]="$WELCOME_TEXTS pbStatusCheck lDownload lblVersionExplain lblNextToDownload cmdCancel"
  [complete]="$WELCOME_TEXTS lDownload lblVersionExplain lblNextToDownload pbDownloading cmdCancel"
  [download_failed]="$WELCOME_TEXTS lDownload lblVersionExplain lblNewVersion cmdCancel"
)
declare -A PAGE_HIDDEN=(
  [welcome]="lblVersionExplain lblNewVersion lblNextToDownload lblDownloading pbStatusCheck lDownload lblOldVersion"
  [new_version]="lblExplain lblNextToDownload lblDownloading lblOldVersion"
  [up_to_date]="lblExplain lblNewVersion lblDownloading cmdNext lblOldVersion"
  [complete]="lblExplain lblNewVersion cmdNext lblOldVersion"
  [download_failed]="lblExplain lblNextToDownload lblDownloading pbDownloading cmdNext lblOldVersion"
)

# Places that may hold ink on any page: every control, the logo in the top-left corner, and
# the room the self-sizing labels grow into (to the window's edge for the title, up to the
# list for the two labels left of it).
outside_masks() {
  local name
  for name in "${!LAYOUT_TWIPS[@]}"; do
    control_rect "$name"
  done
  echo "0 0 160 139"
  echo "184 8 305 42"
  echo "16 152 176 13"
  echo "24 168 168 13"
}

# check_layout FILE PAGE: prints one line per control out of place; false when any is.
check_layout() {
  local file=$1 page=$2 name bad=0
  local -a shown masks
  read -r -a shown <<< "${PAGE_SHOWN[$page]}"
  for name in "${shown[@]}"; do
    if ! control_shows "$file" "$name"; then
      echo "layout ($page): $name should be drawn at $(control_rect "$name") but that place is empty"
      bad=1
    fi
  done
  for name in ${PAGE_HIDDEN[$page]}; do
    if control_shows "$file" "$name" "${shown[@]}"; then
      echo "layout ($page): $name should be hidden but something is drawn at $(control_rect "$name")"
      bad=1
    fi
  done
  mapfile -t masks < <(outside_masks)
  if ! region_is_plain "$file" 0 0 489 385 "${masks[@]}"; then
    echo "layout ($page): something is drawn outside every control's place"
    bad=1
  fi
  return "$bad"
}
