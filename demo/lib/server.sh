# Serves a staged update site on 127.0.0.1: nginx with a configuration written into the run's
# own folder, or the project's small site server when nginx cannot start. Both write one line
# per request ("METHOD URI STATUS") into $SITE_ACCESS_LOG; nginx also writes the body bytes it
# sent for each into $SITE_SENT_LOG ("URI STATUS BYTES").
# shellcheck shell=bash

SITE_SERVER_PID=
SITE_ACCESS_LOG=
SITE_SENT_LOG=
# Debian installs nginx in /usr/sbin, which is not on an ordinary user's PATH.
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

# A port nobody listens on now (checked through bash's /dev/tcp, so no extra tool is needed).
port_is_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

pick_free_port() {
  local port i
  for ((i = 0; i < 50; i++)); do
    port=$((20000 + RANDOM % 30000))
    if port_is_free "$port"; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

port_answers() {
  ! port_is_free "$1"
}

# The temp folders nginx was built to use live under /var/lib; an unprivileged run must point
# every one of them into its own folder or nginx refuses to start.
nginx_temp_paths() {
  local work=$1 kind
  for kind in client-body fastcgi proxy scgi uwsgi; do
    if "$NGINX" -V 2>&1 | grep -q -- "--http-$kind-temp-path="; then
      mkdir -p "$work/temp/$kind"
      echo "  ${kind//-/_}_temp_path $work/temp/$kind;"
    fi
  done
}

# Waits until the server process listens on the port; gives up at once when it has died.
wait_server_ready() {
  local pid=$1 port=$2 end=$((SECONDS + 10))
  while ((SECONDS < end)); do
    kill -0 "$pid" 2>/dev/null || return 1
    port_answers "$port" && return 0
    sleep 0.05
  done
  return 1
}

# start_nginx ROOT PORT WORK [RATE]: 0 once nginx answers on the port, 1 when it cannot run.
# RATE (for example 1m) slows the large program file down so that a person watching the demo
# sees the download page at work.
start_nginx() {
  local root=$1 port=$2 work=$3 rate=${4:-}
  [[ -x "$NGINX" ]] || { echo "nginx is not installed" >&2; return 1; }
  port_is_free "$port" || { echo "port $port is already in use" >&2; return 1; }
  local slow=
  [[ -n "$rate" ]] && slow="location = /updater/0.3/Tarnwick.exe { limit_rate $rate; }"
  mkdir -p "$work"
  SITE_ACCESS_LOG="$work/access.log"
  SITE_SENT_LOG="$work/sent.log"
  : > "$SITE_ACCESS_LOG"
  : > "$SITE_SENT_LOG"
  # One process, in the foreground of its own PID, running as whoever starts it: nothing to
  # daemonise, no workers switching users, and stopping it is one signal to a known PID.
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  types { text/plain update txt ini; application/octet-stream exe dat; }
  default_type application/octet-stream;
  log_format paths '\$request_method \$request_uri \$status';
  access_log $SITE_ACCESS_LOG paths;
  log_format sent '\$request_uri \$status \$body_bytes_sent';
  access_log $SITE_SENT_LOG sent;
$(nginx_temp_paths "$work")
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    server_name localhost;
    root $root;
    autoindex off;
    $slow
  }
}
CONF
  "$NGINX" -e "$work/error.log" -p "$work" -c "$work/nginx.conf" > "$work/nginx.out" 2>&1 &
  SITE_SERVER_PID=$!
  track_pid "$SITE_SERVER_PID"
  if ! wait_server_ready "$SITE_SERVER_PID" "$port"; then
    echo "nginx did not start:" >&2
    cat "$work/nginx.out" "$work/error.log" >&2 2>/dev/null
    stop_pid "$SITE_SERVER_PID"
    return 1
  fi
}

# start_fallback_server BINARY ROOT PORT WORK: the demo's own server in nginx's place.
start_fallback_server() {
  local binary=$1 root=$2 port=$3 work=$4
  mkdir -p "$work"
  SITE_ACCESS_LOG="$work/access.log"
  SITE_SENT_LOG=
  : > "$SITE_ACCESS_LOG"
  "$binary" "$root" "$port" "$SITE_ACCESS_LOG" > "$work/server.out" 2>&1 &
  SITE_SERVER_PID=$!
  track_pid "$SITE_SERVER_PID"
  if ! wait_server_ready "$SITE_SERVER_PID" "$port"; then
    echo "the demo site server did not start:" >&2
    cat "$work/server.out" >&2
    stop_pid "$SITE_SERVER_PID"
    return 1
  fi
}

# bytes_sent ROOT: "URI BYTES" for each request, the body bytes the server sent. The small
# server logs no sizes: a file it answered with 200 counts whole, any other answer as nothing.
bytes_sent() {
  local root=$1 method uri status
  if [[ -n "$SITE_SENT_LOG" ]]; then
    cut -d' ' -f1,3 "$SITE_SENT_LOG"
    return
  fi
  while read -r method uri status; do
    if [[ "$method" == GET && "$status" == 200 && -f "$root/${uri%%\?*}" ]]; then
      echo "$uri $(stat -c %s -- "$root/${uri%%\?*}")"
    else
      echo "$uri 0"
    fi
  done < "$SITE_ACCESS_LOG"
}
