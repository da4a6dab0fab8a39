#!/usr/bin/env bash
# End-to-end roads: the real tarnwick-updater runs from a temporary Tarnwick folder on a private
# Xvfb display against nginx (and tinyproxy) on 127.0.0.1, driven only from outside the process;
# a road looks only at what the person and the servers see.
# Usage: roads.sh ROAD PORT UPDATER HTTPS_UPDATER NAMED_UPDATER CLOSE_REQUEST
# The updaters talk to http://127.0.0.1:PORT, https://tarnwick-site.test:PORT and
# http://tarnwick-site.test:PORT; CLOSE_REQUEST sends a window manager's close request.
set -eEuo pipefail
ROAD=$1 PORT=$2 BIN=$3 HTTPS_BIN=$4 NAMED_BIN=$5 CLOSE=$6 HOST=tarnwick-site.test
# The site's host name and the test authority exist only in a mount namespace of the road's own.
if [[ $ROAD == https || $ROAD == proxy ]] && [[ -z ${E2E_NAMESPACE:-} ]]; then
  unshare -m true 2> /dev/null || { echo "SKIPPED: no private mount namespace (unshare -m needs root)"; exit 77; }
  E2E_NAMESPACE=1 exec unshare -m "$BASH" "$0" "$@"
fi
for lib in procs site server xsession window drive; do source "$(dirname "$0")/../../demo/lib/$lib.sh"; done
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY all_proxy ALL_PROXY
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX") FAILURES=0
APP=$WORK/Tarnwick SITE=$WORK/www/updater/0.3 LOG=$WORK/site/access.log FILES=(Tarnwick.exe Preferences.ini readme.txt data/extra.dat)
trap 'echo "FAILED: line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'status=$?; stop_tracked; ((status % 77)) && echo "kept for a look: $WORK" >&2 || rm -rf "$WORK"' EXIT
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; FAILURES=$((FAILURES + 1)); }
die() { fail "$@"; exit 1; }
for tool in Xvfb xdotool xev import convert xwininfo "$NGINX" openssl tinyproxy; do
  command -v "$tool" > /dev/null || skip "$tool is not installed (scripts/ensure-packages.sh installs it)"
done
start_xvfb "$WORK/x" 2> "$WORK/xvfb.txt" || skip "Xvfb cannot run here: $(cat "$WORK/xvfb.txt")"

# launch NAME PORT COMMAND...: (re)starts one of the road's servers, its log in $WORK/NAME/access.log.
declare -A SERVER
launch() {
  [[ -z ${SERVER[$1]:-} ]] || stop_pid "${SERVER[$1]}"
  wait_until 60 port_is_free "$2" || die "port $2 on 127.0.0.1 stays in use"
  : > "$WORK/$1/access.log"
  "${@:3}" > "$WORK/$1/out" 2>&1 &
  SERVER[$1]=$! && track_pid $! && wait_server_ready $! "$2" && return
  # Only a machine that does not let the server run at all is a reason to skip.
  ! grep -qs -e 'Permission denied' -e 'not permitted' "$WORK/$1"/* || skip "$3 cannot run here: $(cat "$WORK/$1/out")"
  die "$3 did not start: $(cat "$WORK/$1"/*)"
}
# serve NAME PORT CERT [DIRECTIVES]: nginx for the staged site, over TLS with the test CERT unless empty.
serve() {
  local dir=$WORK/$1 tls=${3:+ssl; ssl_certificate $WORK/ca/$3.pem; ssl_certificate_key $WORK/ca/$3.key}
  mkdir -p "$dir"
  cat > "$dir/nginx.conf" << EOF
daemon off; master_process off; pid $dir/pid; events {}
http { log_format p '\$request_method \$request_uri \$status'; access_log $dir/access.log p; $(nginx_temp_paths "$dir")
  server { listen 127.0.0.1:$2 $tls; root $WORK/www; ${4:-} } }
EOF
  launch "$1" "$2" "$NGINX" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log"
}
# proxy [LINE]: tinyproxy on 127.0.0.1:$PROXY with one more configuration line.
proxy() {
  mkdir -p "$WORK/proxy"
  printf '%s\n' "Port $PROXY" "Listen 127.0.0.1" "LogFile \"$WORK/proxy/access.log\"" LogLevel\ Connect "${1:-}" > "$WORK/proxy/conf"
  launch proxy "$PROXY" tinyproxy -d -c "$WORK/proxy/conf"
}

# go UPDATER [VAR=VALUE...]: an installation of 0.3 (with an older Tarnwick.exe) whose updater
# starts with these variables; every server's log begins afresh.
go() {
  prepare_app_folder "$APP" "$1" English
  head -c 200000 /dev/urandom > "$APP/Tarnwick.exe"
  snapshot "$APP" > "$WORK/before"
  for log in "$WORK"/*/access.log "$WORK/browser.log"; do : > "$log"; done
  (($# < 2)) || local -x "${@:2}"
  start_updater "$APP" "$WORK"
}
on() { wait_page "$WIN" "$1" 30 "$WORK/$1.png" || die "the window did not show the $1 page"; }
welcome() { WIN=$(main_window) || die "no window appeared"; on welcome; }
to_result() { welcome; press_key "$WIN" Return; on "$1"; }
# A failed check leaves the check's page with Next enabled again, no version and an empty list.
page_check_failed() {
  next_enabled "$1" && ! control_shows "$1" lblExplain lDownload && ! control_shows "$1" lblNewVersion &&
    [[ $(convert "$1" -crop 277x114+194+172 -format %k info:) == 1 ]]
}
# ends HOW SECONDS: after HOW the updater has ended with status 0 (124: it was still running).
ends() { local status=0; wait_updater_exit "$2" || status=$?; ((status == 0)) || fail "after $1 the updater ended with status $status"; }
no_message() { [[ -z "$(visible_window "$MESSAGE_TITLE")" ]] || fail "$1"; }

# The requests in nginx's or tinyproxy's log, "METHOD PATH [STATUS]" a line.
requests() { sed -n -e 's/.*Request ([^)]*): \([A-Z]* [^ ]*\) .*/\1/p' -e '/^[A-Z]* \//p' "$1"; }
has_requests() { (($(requests "$1" | wc -l) >= $2)); }
# saw LOG EXPECTED: once as many requests as expected are in LOG, they are EXPECTED, in order.
saw() {
  wait_until 10 has_requests "$1" "$(grep -c . <<< "$2")" || true
  [[ "$(requests "$1")" == "$2" ]] || fail "${1#"$WORK"/} holds$(printf '\n  %s' "$(requests "$1")") instead of$(printf '\n  %s' "$2")"
}
get() { for a; do [[ $a == *' '* ]] || a+=' 200'; echo "GET /updater/0.3/$a"; done; }
M3=$(get check.update check.update check.update)
# folder [SITE_FILE...]: these arrived byte for byte; every other file is as it was, nothing left beside them.
folder() {
  local name
  for name; do cmp -s "$SITE/$name" "$APP/${name##*/}" || fail "${name##*/} is not the site's $name"; done
  [[ "$(snapshot "$APP" | others "${*##*/}")" == "$(others "${*##*/}" < "$WORK/before")" ]] ||
    fail "the Tarnwick folder holds$(printf '\n  %s' "$(snapshot "$APP")")"
}
others() { awk -v keep=" $1 " 'index(keep, " " $1 " ") == 0'; }

# whole UPDATER [VAR=VALUE...]: new version, Next, every file downloaded, Complete ends the program.
whole() {
  go "$@"
  to_result new_version
  click_control "$WIN" cmdNext
  on complete
  folder "${FILES[@]}"
  click_control "$WIN" cmdCancel
  ends Complete 20
  saw "$LOG" "$M3"$'\n'"$(get "${FILES[@]}")"
  [[ ! -s $WORK/browser.log ]] || fail "the browser opened $(cat "$WORK/browser.log")"
}
# refused UPDATER [VAR=VALUE...]: the check fails silently, nothing is downloaded, closing ends with 0.
refused() {
  go "$@"
  to_result check_failed
  no_message "a message appeared for a failed check"
  "$CLOSE" "$WIN" || die "the close request did not reach the window"
  ends "the close request" 5
  folder
}
# failing UPDATER COUNT: after Next one error message for each of COUNT failed files (a box may
# open over another), each closed with Return; then the failed-download page and Complete.
failing() {
  go "$1"
  to_result new_version
  click_control "$WIN" cmdNext
  for ((i = 1; i <= $2; i++)); do
    wait_window "$MESSAGE_TITLE" 60 > /dev/null || die "error message $i of $2 did not appear"
    box=$(xdotool search --onlyvisible --name "^$MESSAGE_TITLE\$" | tail -n1)
    press_key "$box" Return
    wait_window_gone "$box" 10 || die "error message $i did not close on Return"
  done
  on download_failed
  no_message "more than $2 error messages appeared"
  click_control "$WIN" cmdCancel
  ends Complete 20
}

road_main() {
  stage_site main "$WORK/www" && serve site "$PORT" ""
  whole "$BIN"
}
# A file the site does not have: the old one stays, the files after it still arrive.
road_failure() {
  stage_site failure "$WORK/www" && serve site "$PORT" ""
  failing "$BIN" 1
  folder "${FILES[@]}"
  saw "$LOG" "$M3"$'\n'"$(get Tarnwick.exe Preferences.ini 'changes.txt 404' readme.txt data/extra.dat)"
}
# The installed version is published: the closing page, laid out as designed; no file fetched.
road_up_to_date() {
  stage_site uptodate "$WORK/www" && serve site "$PORT" ""
  go "$BIN"
  to_result up_to_date
  wait_settled "$WIN" "$WORK/layout.png" 10 || fail "the page kept changing"
  local shown="lblWelcome lblWelcome2 lblWelcome3 Line1 pbStatusCheck lDownload lblVersionExplain lblNextToDownload cmdCancel"
  for name in $shown; do control_shows "$WORK/layout.png" "$name" || fail "$name is not drawn"; done
  for name in lblExplain lblNewVersion lblDownloading cmdNext lblOldVersion; do
    ! control_shows "$WORK/layout.png" "$name" $shown || fail "$name is drawn"
  done
  # Only the controls, the logo and the room the self-sizing title and headline grow into hold ink.
  local places=("0 0 160 139" "184 8 305 42" "16 152 176 13")
  for name in "${!LAYOUT_TWIPS[@]}"; do places+=("$(control_rect "$name")"); done
  region_is_plain "$WORK/layout.png" 0 0 489 385 "${places[@]}" || fail "something is drawn outside the controls"
  folder
  click_control "$WIN" cmdCancel
  ends Complete 20
  saw "$LOG" "$(get check.update check.update)"
}
# A newer updater is published: the notice and the web site, never the main window.
heard_pointer() { xdotool mousemove $((RANDOM % 9 + 1)) 1 && grep -q MotionNotify "$WORK/maps.log"; }
road_newer_updater() {
  stage_site newupdater "$WORK/www" && serve site "$PORT" ""
  # The X server's own map notifications also catch a window shown between two looks.
  xev -root -event substructure -event mouse > "$WORK/maps.log" 2>&1 &
  track_pid $!
  wait_until 10 heard_pointer || die "xev does not listen"
  go "$BIN"
  box=$(wait_window "$MESSAGE_TITLE" 30) || die "no notice appeared"
  [[ ! -s $WORK/browser.log ]] || fail "the browser opened before the notice was confirmed"
  press_key "$box" Return
  ends "the notice" 20
  local mapped
  mapped=$(grep -A1 '^MapNotify' "$WORK/maps.log" | sed -n 's/^ *event [^,]*, window \(0x[0-9a-f]*\),.*/\1/p')
  [[ $mapped == "$(printf '0x%x' "$box")" ]] || fail "windows other than the notice were mapped: $mapped"
  # The launcher is not waited for; it may record a moment after the updater ended.
  wait_until 10 test -s "$WORK/browser.log" || true
  [[ "$(cat "$WORK/browser.log")" == http://www.tarnwick.example/ ]] || fail "the browser opened \"$(cat "$WORK/browser.log")\""
  folder
  saw "$LOG" "$(get check.update)"
}
# Part of the program file is on the disk, in a file the updater holds open (named or not yet).
receiving() {
  for fd in /proc/"$UPDATER_PID"/fd/*; do [[ "$(readlink "$fd")" == "$APP/"* && -s $fd ]] && return 0; done
  return 1
}
# Leaving early: Cancel on the welcome page, Cancel and the close request during a slow download.
road_leave() {
  stage_site main "$WORK/www" && serve site "$PORT" "" 'location = /updater/0.3/Tarnwick.exe { limit_rate 64k; }'
  go "$BIN"
  welcome
  click_control "$WIN" cmdCancel
  # The deadline tells "ended" from "hangs"; a person sees the window go at once.
  ends "Cancel on the welcome page" 3
  folder
  saw "$LOG" "$(get check.update)"
  for how in cmdCancel close; do
    go "$BIN"
    to_result new_version
    click_control "$WIN" cmdNext
    wait_until 30 receiving || die "the download of Tarnwick.exe did not start"
    if [[ $how == close ]]; then "$CLOSE" "$WIN"; else click_control "$WIN" cmdCancel; fi
    ends "$how during the download" 3
    folder
    saw "$LOG" "$M3"$'\n'"$(get Tarnwick.exe)"
  done
}

# The test authority, trusted the way the system trusts any (hashed in /etc/ssl/certs and in its
# bundle), its certificates for the site, and the site's host name: all inside the namespace.
trust_test_authority() {
  local ca=$WORK/ca
  mkdir -p "$ca/trusted" && touch "$ca/index"
  printf '%s\n' '[ca]' 'default_ca = d' '[d]' "database = $ca/index" "serial = $ca/serial" "new_certs_dir = $ca" 'policy = p' 'default_md = sha256' \
    'default_days = 2' 'unique_subject = no' 'x509_extensions = e' '[p]' 'commonName = supplied' '[e]' 'subjectAltName = DNS:$ENV::CN' > "$ca/ca.cnf"
  key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$ca/$1.key" -subj "/CN=$2" "${@:3}"; }
  key ca "Tarnwick test authority" -x509 -days 2 -out "$ca/ca.pem"
  key self "$HOST" -x509 -days 2 -addext "subjectAltName=DNS:$HOST" -out "$ca/self.pem"
  for leaf in "good $HOST" "other tarnwick-other.test" "expired $HOST -startdate 20200101000000Z -enddate 20200102000000Z"; do
    set -- $leaf
    key "$1" "$2" -out "$ca/$1.csr"
    CN=$2 openssl ca -batch -config "$ca/ca.cnf" -cert "$ca/ca.pem" -keyfile "$ca/ca.key" -rand_serial -notext \
      -in "$ca/$1.csr" -out "$ca/$1.pem" "${@:3}"
  done
  cp -a /etc/ssl/certs/. "$ca/trusted/" && cp "$ca/ca.pem" "$ca/trusted/tarnwick-test-authority.pem"
  cat "$ca/ca.pem" >> "$ca/trusted/ca-certificates.crt" && openssl rehash "$ca/trusted"
  echo "127.0.0.1 localhost $HOST" > "$WORK/hosts"
  mount --bind "$ca/trusted" /etc/ssl/certs && mount --bind "$WORK/hosts" /etc/hosts
}
# HTTPS: the road against a certificate from the test authority; the check refuses a certificate
# for another host, an expired one and a self-signed one; a file refuses one too, and a redirect
# from https to http.
road_https() {
  trust_test_authority > "$WORK/ca.log" 2>&1
  stage_site main "$WORK/www" && serve site "$PORT" good
  whole "$HTTPS_BIN"
  for cert in other expired self; do
    serve site "$PORT" "$cert"
    refused "$HTTPS_BIN"
    saw "$LOG" ""
  done
  local bad plain
  bad=$(pick_free_port) && serve bad "$bad" expired
  plain=$(pick_free_port) && serve plain "$plain" ""
  for target in "https://$HOST:$bad" "http://$HOST:$plain"; do
    serve site "$PORT" good "location /updater/0.3/ { return 302 $target\$request_uri; } location = /updater/0.3/check.update {}"
    failing "$HTTPS_BIN" 4
    folder
    saw "$LOG" "$M3"$'\n'"$(get "${FILES[@]/%/ 302}")"
    saw "$WORK/bad/access.log" ""
    saw "$WORK/plain/access.log" ""
  done
}
# Proxies from the environment, upper or lower case: plain requests and CONNECT go through
# tinyproxy, a refusal (403), a demand for credentials (407) and a proxy that is down fail the
# check, no_proxy sends the site's host direct.
road_proxy() {
  trust_test_authority > "$WORK/ca.log" 2>&1
  PROXY=$(pick_free_port)
  local through=http://127.0.0.1:$PROXY
  stage_site main "$WORK/www" && serve site "$PORT" "" && proxy
  whole "$NAMED_BIN" http_proxy=$through
  saw "$WORK/proxy/access.log" "$(sed "s| /| http://$HOST:$PORT/|; s/ 200\$//" <<< "$M3"$'\n'"$(get "${FILES[@]}")")"
  whole "$NAMED_BIN" HTTP_PROXY=$through no_proxy=$HOST
  saw "$WORK/proxy/access.log" ""
  refused "$NAMED_BIN" http_proxy=http://127.0.0.1:$(pick_free_port)
  proxy "Deny 127.0.0.1"
  refused "$NAMED_BIN" HTTP_PROXY=$through
  saw "$LOG" ""
  serve site "$PORT" good && proxy
  whole "$HTTPS_BIN" HTTPS_PROXY=$through
  [[ "$(requests "$WORK/proxy/access.log" | sort -u)" == "CONNECT $HOST:$PORT" ]] || fail "the HTTPS site was not reached by CONNECT"
  proxy "BasicAuth tarnwick secret"
  refused "$HTTPS_BIN" https_proxy=$through
  saw "$LOG" ""
}

"road_$ROAD"
((FAILURES == 0)) || exit 1
echo passed
