#!/usr/bin/env bash
# Builds the updater against the bundled demo update site, serves that site on 127.0.0.1 and
# runs the real tarnwick-updater from a demo Tarnwick folder (installed version 0.3). With a
# display the window is yours to click through; without one the demo drives it under Xvfb from
# outside the process and saves a screenshot of every page.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: ./demo.sh [--lang NAME] [--scenario main|uptodate|failure|newupdater|tampered|delta]
                 [--no-nginx]

  --lang NAME      Lang= of the demo folder's Preferences.ini: English (built in), Nederlands,
                   Deutsch, or any other name (a name without a Lang/NAME.ini shows empty texts).
  --scenario S     main        0.4 is published with four files, one of them a few MiB (default)
                   uptodate    the site publishes 0.3, the installed version
                   failure     one listed file is missing on the site
                   newupdater  the site announces a newer updater
                   tampered    one file on the site differs from the digest its signed
                               manifest gives
                   delta       0.4 is published with patches against the files 0.3 shipped:
                               the program arrives as a patch, an unchanged file not at all
  --no-nginx       serve the site with the demo's own small server instead of nginx

The demo site is signed with the demo key in demo/demo-key/ (a demo key only: its secret half
is in the repository), and the demo updater is built with its public key.

Everything the demo makes goes to ./demo-run/ (the demo Tarnwick folder, the served site, the
server's access log and, without a display, the screenshots).
EOF
}

lang=English
scenario=main
use_nginx=1
while (($#)); do
  case "$1" in
    --lang) lang=${2:?--lang needs a name}; shift 2 ;;
    --lang=*) lang=${1#--lang=}; shift ;;
    --scenario) scenario=${2:?--scenario needs a name}; shift 2 ;;
    --scenario=*) scenario=${1#--scenario=}; shift ;;
    --no-nginx) use_nginx=0; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"
# shellcheck source=demo/lib/procs.sh
source demo/lib/procs.sh
# shellcheck source=demo/lib/site.sh
source demo/lib/site.sh
# shellcheck source=demo/lib/server.sh
source demo/lib/server.sh
# shellcheck source=demo/lib/xsession.sh
source demo/lib/xsession.sh
# shellcheck source=demo/lib/window.sh
source demo/lib/window.sh
# shellcheck source=demo/lib/drive.sh
source demo/lib/drive.sh

if [[ " ${DEMO_SCENARIOS[*]} " != *" $scenario "* ]]; then
  echo "unknown scenario \"$scenario\"; choose one of: ${DEMO_SCENARIOS[*]}" >&2
  exit 2
fi
if [[ "$lang" == */* || "$lang" == *$'\r'* ]]; then
  echo "a language name is a file name in Lang/, without folders" >&2
  exit 2
fi
if [[ -n "$lang" && "$lang" != English && ! -f "demo/app/Lang/$lang.ini" ]]; then
  echo "note: demo/app/Lang/$lang.ini does not exist, so every text will be empty" >&2
fi

trap stop_tracked EXIT
trap 'echo "demo interrupted" >&2; exit 130' INT TERM

./scripts/ensure-packages.sh

run="$root/demo-run"
rm -rf "$run"
mkdir -p "$run"

# The site address is compiled in, so the updater is built for this run's port. Keeping the
# last port when it is still free spares even the one-file rebuild a new port costs.
build="$root/build/demo-app"
port=
if [[ -f "$build/demo-port" ]] && port_is_free "$(cat "$build/demo-port")"; then
  port=$(cat "$build/demo-port")
else
  port=$(pick_free_port) || { echo "no free port on 127.0.0.1" >&2; exit 1; }
fi
site_url="http://127.0.0.1:$port/updater/"
echo "== Building tarnwick-updater for $site_url, and tarnwick-publish (build/demo-app)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=OFF \
  -DTARNWICK_UPDATE_SITE="$site_url" -DTARNWICK_SIGNING_KEY="$(demo_signing_key)" > "$run/configure.log" 2>&1 ||
  { cat "$run/configure.log" >&2; exit 1; }
cmake --build "$build" --target tarnwick-updater tarnwick-publish -j2 > "$run/build.log" 2>&1 ||
  { tail -n 40 "$run/build.log" >&2; exit 1; }
echo "$port" > "$build/demo-port"

echo "== Serving the \"$scenario\" site on 127.0.0.1:$port"
PUBLISH_BIN="$build/src/tarnwick-publish"
stage_site "$scenario" "$run/site" "$lang"
# The program file comes slowly so that the download page can be watched.
if ((use_nginx)) && start_nginx "$run/site" "$port" "$run/server" 2m; then
  echo "   nginx, access log $SITE_ACCESS_LOG"
else
  server_bin="$build/tarnwick-site-server"
  if [[ ! -x "$server_bin" || "$server_bin" -ot demo/server/SiteServer.cpp ]]; then
    echo "   building the demo's own site server"
    # shellcheck disable=SC2046
    g++ -std=c++20 -O1 -pthread demo/server/SiteServer.cpp -o "$server_bin" \
      $(pkg-config --cflags --libs cpp-httplib)
  fi
  start_fallback_server "$server_bin" "$run/site" "$port" "$run/server"
  echo "   demo site server, access log $SITE_ACCESS_LOG"
fi

app="$run/Tarnwick"
prepare_app_folder "$app" "$build/src/tarnwick-updater" "$lang" "$scenario"
echo "== Demo Tarnwick folder: $app (Version=0.3, Lang=$lang)"
snapshot "$app" > "$run/folder-before.txt"

status=0
if [[ -n "${DISPLAY:-}" ]]; then
  echo "== Starting the updater on $DISPLAY; close it to end the demo"
  (cd "$app" && exec ./tarnwick-updater) &
  updater=$!
  track_pid "$updater"
  wait "$updater" || status=$?
else
  echo "== No display: driving the updater under Xvfb"
  drive_headless "$scenario" "$app" "$run" || status=$?
fi

echo "== Requests the update site received"
sed 's/^/   /' "$SITE_ACCESS_LOG"
# What the listed files cost to fetch (whole, as patches, or not at all) against their sizes.
in_mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
declare -A is_listed=()
whole=0
while read -r name; do
  [[ -f "$run/site/updater/0.3/$name" ]] || continue
  is_listed[/updater/0.3/$name]=1
  whole=$((whole + $(stat -c %s -- "$run/site/updater/0.3/$name")))
done < <(listed_files "$run/site/updater/0.3/check.update")
fetched=0
while read -r uri bytes; do
  if [[ -n "${is_listed[${uri%.zst-patch}]:-}" ]]; then
    fetched=$((fetched + bytes))
  fi
done < <(bytes_sent "$run/site")
echo "== Fetched $(in_mib "$fetched") of the listed files' $(in_mib "$whole") ($fetched of $whole bytes)"
echo "== Files in the demo Tarnwick folder (* arrived during this run)"
snapshot "$app" | while read -r path size sum; do
  mark=" "
  grep -qxF "$path $size $sum" "$run/folder-before.txt" || mark="*"
  printf '   %s %10d  %s\n' "$mark" "$size" "$path"
done
if ((status != 0)); then
  echo "demo failed (status $status)" >&2
fi
exit "$status"
