#!/usr/bin/env bash
# Times the updater against references measured in the same run (curl, sha256sum, a minimal Qt
# program) on update sites served by nginx on 127.0.0.1, and writes the tables to stdout and to
# docs/PERFORMANCE.md. Every figure is a ratio or a difference against its reference, because
# the machine is shared and absolute times move with the load.
#   bench/run.sh [runs]        runs per benchmark, default 5 (start-up runs three times as often)
# Environment: BENCH_BUILD_DIR (default build/bench-release), BENCH_TICK_MS (default 1),
# BENCH_KEEP=1 keeps the temporary folder, BENCH_ONLY="manyfiles biglist startup durable window
# latency update publish" picks benchmarks, BENCH_ONE_WAY_MS (default 25) the delay each way of the
# latency benchmark's relay, BENCH_SLOW_RUNS (default: runs) sets the runs of the slowest rows
# (the changed update, whose reference fetches it whole at line speed, and the broken
# transfer), BENCH_LINE_RATE (default 12500k bytes a second) the line the update benchmark
# comes over, BENCH_MANY_FILES (default 10000) and BENCH_MANY_BLOCK (default 2000) size the
# manyfiles benchmark, BENCH_BIG_MIB (default 1024) the large file (smaller only while working
# on the script: the tables name 1 GiB), and BENCH_WAIT_QUIET=<minutes> waits, once the sites
# are ready, until the 1-minute load average has stayed below 0.6 for a minute (at most that
# many minutes).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
runs="${1:-5}"
slow_runs="${BENCH_SLOW_RUNS:-$runs}"
build="${BENCH_BUILD_DIR:-$root/build/bench-release}"
tick_ms="${BENCH_TICK_MS:-1}"
line_rate="${BENCH_LINE_RATE:-12500k}"
doc="$root/docs/PERFORMANCE.md"
# The site is on loopback, which no proxy should see; curl would otherwise go through one.
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY all_proxy ALL_PROXY

for tool in cmake nginx curl Xvfb sha256sum zstd minisign; do
  command -v "$tool" >/dev/null || PATH="$PATH:/usr/sbin"
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/ensure-packages.sh installs it)" >&2; exit 2; }
done
command -v python3 >/dev/null ||
  { echo "bench: python3 is missing (Debian python3; the relays that break a transfer and delay one)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")"
chmod 755 "$work"
nginx_pid=""
xvfb_pid=""
relay_pid=""
delay_pid=""
tls_nginx_pid=""
cleanup() {
  [[ -n "$relay_pid" ]] && kill "$relay_pid" 2>/dev/null || true
  [[ -n "$delay_pid" ]] && kill "$delay_pid" 2>/dev/null || true
  [[ -n "$tls_nginx_pid" ]] && kill "$tls_nginx_pid" 2>/dev/null || true
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  if [[ "${BENCH_KEEP:-0}" == 1 ]]; then echo "bench: kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

say() { echo "bench: $*" >&2; }
wanted() { [[ -z "${BENCH_ONLY:-}" || " $BENCH_ONLY " == *" $1 "* ]]; }
now_ns() { date +%s%N; }
ms_since() { awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.3f", (b - a) / 1e6 }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# --- nginx on a free loopback port -------------------------------------------------------------
# The update benchmark's folders (5.x to 8.x) are logged, with the bytes of every answer, so that
# what an update fetched can be counted; 5.x and 6.x come over a line of about 100 Mbit/s:
# limit_rate holds each answer to that rate, and the updater fetches one file at a time over one
# connection, as curl does with a list of URLs.
site="$work/site"
access_log="$work/nginx/logs/access.log"
mkdir -p "$site/updater" "$work/nginx/logs"
start_nginx() {
  local port="$1"
  cat >"$work/nginx/nginx.conf" <<EOF
user $(id -un);
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  log_format bytes '\$request_uri \$status \$body_bytes_sent \$bytes_sent';
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  keepalive_timeout 120s;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $site;
    location ~ ^/updater/[56]\.[0-9]/ {
      access_log $access_log bytes;
      limit_rate $line_rate;
    }
    location ~ ^/updater/[78]\.[0-9]/ {
      access_log $access_log bytes;
    }
  }
}
EOF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" 2>"$work/nginx/start.err"
}
# Tries random loopback ports until the start function succeeds on one, and prints it.
on_free_port() {  # start-function
  local candidate
  for _ in $(seq 1 30); do
    candidate=$((20000 + RANDOM % 40000))
    if "$1" "$candidate" >/dev/null; then echo "$candidate"; return 0; fi
  done
  return 1
}
port="$(on_free_port start_nginx)" || true
[[ -n "$port" ]] || { say "nginx did not start:"; cat "$work/nginx/start.err" >&2; exit 1; }
nginx_pid="$(cat "$work/nginx/nginx.pid")"
base="http://127.0.0.1:$port/updater"
say "nginx on 127.0.0.1:$port"
log_mark() { [[ -f "$access_log" ]] && wc -l <"$access_log" || echo 0; }
log_since() { [[ -f "$access_log" ]] && tail -n +$(($1 + 1)) "$access_log" || true; }

# --- latency: a second nginx over HTTPS and HTTP/2, and the delaying relay in front of both -----
# The relay's ports are compiled into the copies of the program that the latency rows run, so
# both start before the build and stay until the script ends (the relay ends by itself after
# six hours at the latest). The certificate comes from a test authority made for this run; only
# the program's runs see it trusted, through /etc/ssl/certs replaced in a mount namespace of
# their own, so nothing changes on the machine.
one_way_ms="${BENCH_ONE_WAY_MS:-25}"
delayed_site=""
delayed_tls_site=""
if wanted latency; then
  command -v unshare >/dev/null && command -v openssl >/dev/null ||
    { say "the latency benchmark needs unshare and openssl"; exit 2; }
  ca="$work/ca"
  mkdir -p "$ca/trusted" "$work/nginx-tls/logs"
  key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$ca/$1.key" -subj "/CN=$2" "${@:3}"; }
  {
    key ca "Tarnwick bench authority" -x509 -days 2 -out "$ca/ca.pem"
    key site 127.0.0.1 -out "$ca/site.csr"
    openssl x509 -req -in "$ca/site.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -days 2 -out "$ca/site.pem" \
      -extfile <(echo "subjectAltName=IP:127.0.0.1")
    cp -a /etc/ssl/certs/. "$ca/trusted/"
    # A new bundle in place of the copy: the copy may be a link into the system's.
    cat /etc/ssl/certs/ca-certificates.crt "$ca/ca.pem" >"$ca/bundle"
    mv -f "$ca/bundle" "$ca/trusted/ca-certificates.crt"
    cp "$ca/ca.pem" "$ca/trusted/tarnwick-bench-authority.pem"
    openssl rehash "$ca/trusted"
  } >"$ca/log" 2>&1 || { cat "$ca/log" >&2; exit 1; }
  start_tls_nginx() {
    cat >"$work/nginx-tls/nginx.conf" <<EOF
user $(id -un);
worker_processes 1;
pid $work/nginx-tls/nginx.pid;
error_log $work/nginx-tls/logs/error.log warn;
events { worker_connections 256; }
http {
  log_format protocol '\$server_protocol \$request_uri \$status';
  access_log $work/nginx-tls/logs/access.log protocol;
  sendfile on;
  keepalive_requests 1000000;
  keepalive_timeout 120s;
  http2_max_requests 1000000;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx-tls/body;
  proxy_temp_path $work/nginx-tls/proxy;
  fastcgi_temp_path $work/nginx-tls/fastcgi;
  uwsgi_temp_path $work/nginx-tls/uwsgi;
  scgi_temp_path $work/nginx-tls/scgi;
  server {
    listen 127.0.0.1:$1 ssl http2;
    ssl_certificate $ca/site.pem;
    ssl_certificate_key $ca/site.key;
    root $site;
  }
}
EOF
    nginx -p "$work/nginx-tls" -c "$work/nginx-tls/nginx.conf" -e "$work/nginx-tls/logs/error.log" \
      2>"$work/nginx-tls/start.err"
  }
  tls_port="$(on_free_port start_tls_nginx)" || true
  [[ -n "$tls_port" ]] || { say "nginx over TLS did not start:"; cat "$work/nginx-tls/start.err" >&2; exit 1; }
  tls_nginx_pid="$(cat "$work/nginx-tls/nginx.pid")"
  python3 "$here/relay/delay.py" "$one_way_ms" 21600 "$work/delay.ports" "$work/delay.opened" "$port" "$tls_port" &
  delay_pid=$!
  for _ in $(seq 1 100); do [[ -s "$work/delay.ports" ]] && break; sleep 0.05; done
  [[ -s "$work/delay.ports" ]] || { say "the delaying relay did not start"; exit 1; }
  delayed_site="http://127.0.0.1:$(sed -n 1p "$work/delay.ports")/updater/"
  delayed_tls_site="https://127.0.0.1:$(sed -n 2p "$work/delay.ports")/updater/"
  say "nginx over TLS on 127.0.0.1:$tls_port; $one_way_ms ms each way through $delayed_site and $delayed_tls_site"
fi

# --- Release build, with the start-up site compiled into the real program ----------------------
say "building Release in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=OFF -DTARNWICK_BUILD_BENCH=ON \
  -DTARNWICK_UPDATE_SITE="$base/" -DTARNWICK_BENCH_DELAYED_SITE="$delayed_site" \
  -DTARNWICK_BENCH_DELAYED_TLS_SITE="$delayed_tls_site" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; exit 1; }
# One job: the machine is shared.
cmake --build "$build" -j1 >>"$work/cmake.log" 2>&1 || { tail -50 "$work/cmake.log" >&2; exit 1; }
driver="$build/bench/tarnwick-bench-driver"
minimal="$build/bench/tarnwick-bench-minimal"
mapwatch="$build/bench/tarnwick-bench-mapwatch"
arrival="$build/bench/tarnwick-bench-arrival"
program="$build/src/tarnwick-updater"
publisher="$build/src/tarnwick-publish"
delayed_program="$build/bench/tarnwick-bench-updater-delayed"
delayed_tls_program="$build/bench/tarnwick-bench-updater-delayed-tls"

# --- update sites ------------------------------------------------------------------------------
# Published as a publisher publishes them: tarnwick-publish lists every file of a release folder
# with its digest (and, against shipped files, the patches) for the earlier version named, and
# signs with a key made for this run; the bench build has no key built in, so the signature is
# not asked for.
manifest() {  # version file-list-with-<br> > check.update
  printf '<newupdater>0.2</newupdater>\r\n<ver>%s</ver>\r\n<file>%s</file>' "$1" "$2"
}
br_list() { paste -sd'|' | sed 's/|/<br>/g'; }  # names, one a line > name<br>name...
publish() {  # release release-folder earlier-version [shipped-folder]
  [[ -f "$work/key.sec" ]] || minisign -G -W -p "$work/key.pub" -s "$work/key.sec" >/dev/null
  "$publisher" --site "$site/updater" --release "$1" "$2" --shipped "$3${4:+=$4}" -s "$work/key.sec" -q \
    >"$work/publish.log" 2>&1 || { cat "$work/publish.log" >&2; exit 1; }
}
release() { mkdir -p "$work/release/$1"; echo "$work/release/$1"; }  # name > a new release folder
# The same files without digests or patches, as hard links: the digest-free comparison rows.
plain_copy() {  # from-version to-version published-version
  mkdir -p "$site/updater/$2"
  (cd "$site/updater/$1" && ls | grep -v -e '^check\.update' -e '\.zst-patch$' | xargs ln -t "$site/updater/$2")
  manifest "$3" "$(cd "$site/updater/$2" && ls | br_list)" >"$site/updater/$2/check.update"
}
say "generating the update sites"
mkdir -p "$site/updater/0.3" "$site/updater/3.0"
manifest "0.3" "readme.txt" >"$site/updater/0.3/check.update"
manifest "3.1" "$(seq -f 'data/file%05g.dat' 1 10000 | br_list)" >"$site/updater/3.0/check.update"
big_size=$(( ${BENCH_BIG_MIB:-1024} * 1024 * 1024 ))
if wanted durable || wanted window || wanted update; then
  # 1.0: one 1 GiB file with its digest; 1.2: the same file without one.
  big=$(release big)
  head -c "$big_size" /dev/urandom >"$big/big.bin"
  publish 1.1 "$big" 1.0
  plain_copy 1.0 1.2 1.3
  # 8.0: the same file again, listed for an installation that has it (current) or fetched
  # through the breaking relay.
  publish 8.1 "$big" 8.0
fi
if wanted durable || wanted window; then
  # 2.0: 2,000 files of 4 KiB with their digests; 2.2: the same without.
  many=$(release many)
  (cd "$many" && head -c $((2000 * 4096)) /dev/urandom | split -b 4096 -d -a 4 --additional-suffix=.dat - f)
  mapfile -t many_files < <(cd "$many" && ls f*.dat)
  publish 2.1 "$many" 2.0
  plain_copy 2.0 2.2 2.3
  for f in "${many_files[@]}"; do printf 'url = "%s/2.0/%s"\noutput = "%s"\n' "$base" "$f" "$f"; done >"$work/many.curl"
  for f in "${many_files[@]}"; do echo "4096 $f"; done >"$work/many.list"
  # The installed copies the "replacing" rows overwrite: other bytes, same names.
  old="$work/durable-old"
  mkdir -p "$old" && (cd "$old" && head -c $((2000 * 4096)) /dev/urandom | split -b 4096 -d -a 4 --additional-suffix=.dat - f)
fi
if wanted latency; then
  # 9.0: 200 files of 4 KiB with their digests, fetched through the delaying relay; curl gets the
  # same URLs through the same relay, over HTTP and over HTTPS.
  latency=$(release latency)
  (cd "$latency" && head -c $((200 * 4096)) /dev/urandom | split -b 4096 -d -a 3 --additional-suffix=.dat - l)
  mapfile -t latency_files < <(cd "$latency" && ls l*.dat)
  publish 9.1 "$latency" 9.0
  for f in "${latency_files[@]}"; do printf 'url = "%s9.0/%s"\noutput = "%s"\n' "$delayed_site" "$f" "$f"; done \
    >"$work/latency.curl"
  sed "s|$delayed_site|$delayed_tls_site|" "$work/latency.curl" >"$work/latency-tls.curl"
  for f in "${latency_files[@]}"; do echo "4096 $f"; done >"$work/latency.list"
fi
if wanted update; then
  # An update as releases make them. The installed version (shipped/) has a 100 MiB program of
  # random bytes and 1,000 data files of 16 KiB; the new one rewrites 1 % of the program's 4 KiB
  # blocks at scattered places and one 4 KiB block in 10 of the data files. 5.0 publishes it
  # with digests and patches against shipped/, 6.0 the same files without either (fetched whole),
  # 7.0 lists files already installed (the 1 GiB file and the new data files).
  shipped="$work/shipped"
  changed=$(release changed)
  mkdir -p "$shipped"
  head -c $((100 * 1024 * 1024)) /dev/urandom >"$shipped/program.bin"
  (cd "$shipped" && head -c $((1000 * 16384)) /dev/urandom | split -b 16384 -d -a 4 --additional-suffix=.dat - d)
  cp "$shipped"/* "$changed/"
  python3 - "$changed" <<'PY'
import os, random, sys
folder = sys.argv[1]
pick = random.Random(20261207)
def rewrite(path, blocks):
    with open(path, "r+b") as f:
        for block in blocks:
            f.seek(block * 4096)
            f.write(os.urandom(4096))
program = os.path.join(folder, "program.bin")
count = os.path.getsize(program) // 4096
rewrite(program, pick.sample(range(count), count // 100))
for index in pick.sample(range(1000), 10):
    rewrite(os.path.join(folder, "d%04d.dat" % index), [pick.randrange(4)])
PY
  update_names="$(cd "$changed" && ls)"
  say "  making the patches"
  publish 5.1 "$changed" 5.0 "$shipped"
  plain_copy 5.0 6.0 6.1
  echo "$update_names" | sed "s|.*|url = \"$base/6.0/&\"\noutput = \"&\"|" >"$work/update.curl"
  current=$(release current)
  ln "$big/big.bin" "$changed"/d*.dat "$current/"
  publish 7.1 "$current" 7.0
fi
# manyfiles: small files of distinct random contents, so no layer can serve one from another;
# published with digests, as sites are.
many_count="${BENCH_MANY_FILES:-10000}"
many_block="${BENCH_MANY_BLOCK:-2000}"
many_digits=$(( ${#many_count} > 5 ? ${#many_count} : 5 ))
(( many_block > 0 && many_count >= many_block )) || { say "BENCH_MANY_FILES must hold at least one block"; exit 2; }
if wanted manyfiles; then
  small=$(release small)
  (cd "$small" && head -c $((many_count * 1024)) /dev/urandom |
    split -b 1024 -d -a "$many_digits" --additional-suffix=.dat - s)
  publish 4.1 "$small" 4.0
fi
if wanted publish; then
  # publish: a release of 2,000 files of 16 KiB for two earlier versions that shipped the same
  # files, half of them changed since (one 1 KiB block each); and 10,000 files of 16 KiB for one
  # earlier version without its files, so without patches.
  for v in 1 2; do
    mkdir -p "$work/pub-shipped/$v"
    (cd "$work/pub-shipped/$v" && head -c $((2000 * 16384)) /dev/zero | openssl enc -aes-128-ctr -nosalt \
      -K 7075626c69736865642072656c656173 -iv 0 2>/dev/null | split -b 16384 -d -a 4 --additional-suffix=.dat - p)
  done
  pub_release=$(release publish)
  cp "$work/pub-shipped/1"/* "$pub_release/"
  for f in $(cd "$pub_release" && ls | head -1000); do
    head -c 1024 /dev/urandom | dd of="$pub_release/$f" bs=1024 seek=$((RANDOM % 16)) conv=notrunc status=none
  done
  pub_plain=$(release publish-plain)
  (cd "$pub_plain" && head -c $((10000 * 16384)) /dev/urandom | split -b 16384 -d -a 5 --additional-suffix=.dat - q)
  # And a release of one 1 GiB file of bytes that do not compress, 100 blocks of 4 KiB rewritten
  # since the earlier version shipped it, beside the 2,000 files above (links).
  pub_big_shipped="$work/pub-big-shipped"
  pub_big=$(release publish-big)
  mkdir -p "$pub_big_shipped"
  head -c "$big_size" /dev/zero | openssl enc -aes-128-ctr -nosalt -K 7075626c69736865642072656c656173 -iv 1 \
    2>/dev/null >"$pub_big_shipped/big.bin"
  cp "$pub_big_shipped/big.bin" "$pub_big/big.bin"
  for b in $(seq 1 100); do
    head -c 4096 /dev/urandom | dd of="$pub_big/big.bin" bs=4096 seek=$(((b * 2654435761) % (big_size / 4096))) \
      conv=notrunc status=none
  done
  ln "$pub_release"/* "$pub_big/" && ln "$work/pub-shipped/1"/* "$pub_big_shipped/"
  [[ -f "$work/key.sec" ]] || minisign -G -W -p "$work/key.pub" -s "$work/key.sec" >/dev/null
fi

if [[ -n "${BENCH_WAIT_QUIET:-}" ]]; then
  say "waiting for a quiet machine (1-minute load below 0.6 for a minute, at most $BENCH_WAIT_QUIET minutes)"
  quiet=0
  for _ in $(seq 1 $((BENCH_WAIT_QUIET * 2))); do
    if awk -v l="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN { exit !(l < 0.6) }'; then quiet=$((quiet + 1)); else quiet=0; fi
    ((quiet >= 3)) && break
    sleep 30
  done
  ((quiet >= 3)) && say "  quiet: load $(load)" || say "  never quiet; running anyway at load $(load)"
fi

value() { sed -n "s/^$1=//p" "$2"; }
run_driver() {  # mode folder [site] > key=value lines
  "$driver" "$1" "${3:-$base/}" "$2" "$tick_ms" 2>"$work/driver.err" || { cat "$work/driver.err" >&2; exit 1; }
}
timed() { local t0; t0=$(now_ns); "$@" >/dev/null; ms_since "$t0"; }
# both run first second: the two measurements of a row, in alternating order from run to run,
# so that neither always meets the other's write-back.
both() { if (($1 % 2)); then eval "$2"; eval "$3"; else eval "$3"; eval "$2"; fi; }
# Results: one line per run "updater reference figure" in $work/<bench>.txt.
record() {  # name updater reference [figure]
  awk -v u="$2" -v c="$3" -v f="${4:-}" 'BEGIN { printf "%.1f %.1f %.3f\n", u, c, f == "" ? u / c : f }' >>"$work/$1.txt"
  say "  $1: $(tail -1 "$work/$1.txt")"
}
same() { cmp -s "$1" "$2" || { say "$1 differs from the published file"; exit 1; }; }

# --- X server, for start-up and the window rows ------------------------------------------------
start_xvfb() {
  [[ -z "$xvfb_pid" ]] || return 0
  exec 3>"$work/display"
  # -noreset: the server would otherwise reset, refusing connections, whenever a program leaves.
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 1 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
  [[ -s "$work/display" ]] || { say "Xvfb did not start"; cat "$work/xvfb.log" >&2; exit 1; }
  mkdir -m 700 -p "$work/runtime"
}
on_display() { env DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" "$@"; }

# manyfiles goes first: on a file system that skips recently freed inodes (ext4 without a
# journal does, for about a minute), creating files soon after the other benchmarks deleted
# theirs would slow its first blocks and flatter the comparison with its last. For the same
# reason each run writes into a fresh folder and none is deleted before the script ends.
# Results: manyfiles-memory.txt "peak list growth" (MiB), manyfiles-pace.txt and -cpu.txt "last
# first ratio" (wall and CPU ms), manyfiles-blocks.txt "block ms cpu-ms rss-MiB growth-MiB" per
# block and run.
if wanted manyfiles; then
say "manyfiles: $many_count files of 1 KiB, blocks of $many_block ($runs runs)"
many_load_before="$(load)"
say "  load average before: $many_load_before"
last_name="$(printf "s%0${many_digits}d.dat" $((many_count - 1)))"
for i in $(seq 1 "$runs"); do
  folder="$work/manyfiles-$i"
  mkdir -p "$folder" && printf '[Settings]\r\nVersion=4.0\r\n' >"$folder/Preferences.ini"
  sync
  "$driver" manyfiles "$base/" "$folder" "$tick_ms" "$many_block" >"$work/out" 2>"$work/driver.err" ||
    { cat "$work/driver.err" >&2; exit 1; }
  for f in "$(printf "s%0${many_digits}d.dat" 0)" "$last_name"; do same "$folder/$f" "$site/updater/4.0/$f"; done
  list=$(value list_rss_kib "$work/out")
  awk -v list="$list" -v end="$(value end_rss_kib "$work/out")" -v run="$i" \
    -v blocks="$work/manyfiles-blocks.txt" -v memory="$work/manyfiles-memory.txt" -v pace="$work/manyfiles-pace.txt" -v cpupace="$work/manyfiles-cpu.txt" '
    /^block=/ { for (f = 1; f <= NF; f++) { split($f, kv, "="); v[kv[1]] = kv[2] }
                n++; ms[n] = v["block_ms"]; cpu[n] = v["cpu_ms"]; rss = v["rss_kib"]; if (rss > peak) peak = rss
                printf "%d %.1f %.1f %.1f %.1f\n", n, ms[n], cpu[n], rss / 1024, (rss - list) / 1024 >> blocks }
    END { if (end > peak) peak = end
          printf "%.1f %.1f %.1f\n", peak / 1024, list / 1024, (peak - list) / 1024 >> memory
          printf "%.1f %.1f %.3f\n", ms[n], ms[1], ms[n] / ms[1] >> pace
          printf "%.1f %.1f %.3f\n", cpu[n], cpu[1], cpu[n] / cpu[1] >> cpupace
          printf "run %d: list page %.1f MiB; blocks (ms):", run, list / 1024
          for (b = 1; b <= n; b++) printf " %.0f", ms[b]; printf "; CPU (ms):"
          for (b = 1; b <= n; b++) printf " %.0f", cpu[b]; printf "; peak %+.1f MiB\n", (peak - list) / 1024 }' \
    "$work/out" | while read -r line; do say "  $line"; done
done
many_load_after="$(load)"
say "  load average after: $many_load_after"
fi

if wanted biglist; then
say "big list ($runs runs)"
for i in $(seq 1 "$runs"); do
  app="$work/biglist-$i"
  mkdir -p "$app" && printf '[Settings]\r\nVersion=3.0\r\n' >"$app/Preferences.ini"
  fetch_s=$(curl -sSf -o /dev/null -w '%{time_total}' "$base/3.0/check.update")
  run_driver check "$app" >"$work/out"
  [[ "$(value items "$work/out")" == 10000 ]] || { say "the list does not hold 10,000 entries"; exit 1; }
  # The check fetches the manifest twice (step 1 and the file list) and waits two ticks.
  awk -v u="$(value check_ms "$work/out")" -v f="$fetch_s" -v t="$tick_ms" \
    'BEGIN { printf "%.1f %.1f %.1f\n", u, f * 1000, u - 2 * f * 1000 - 2 * t }' >>"$work/biglist.txt"; say "  biglist: $(tail -1 "$work/biglist.txt")"
done
fi

if wanted startup; then
startup_runs=$((runs * 3))
say "start-up ($startup_runs runs)"
start_xvfb
startup="$work/startup"
mkdir -p "$startup" && printf '[Settings]\r\nVersion=0.3\r\n' >"$startup/Preferences.ini"
cp "$program" "$startup/"
watch() {  # title program > milliseconds
  on_display "$mapwatch" "$1" 20000 "$2" >"$work/map.out" || { say "no window from $2"; exit 1; }
  value mapped_ms "$work/map.out"
}
watch "Minimal Window" "$minimal" >/dev/null  # warm the caches both programs share
watch "Tarnwick Updater" "$startup/tarnwick-updater" >/dev/null
for i in $(seq 1 "$startup_runs"); do
  ref_ms=$(watch "Minimal Window" "$minimal")
  upd_ms=$(watch "Tarnwick Updater" "$startup/tarnwick-updater")
  record startup "$upd_ms" "$ref_ms"
done
fi

# Every download run writes into a fresh folder. Folders of small files are kept until the
# script ends (on this machine's journal-less ext4, creating files soon after deleting
# thousands is slow); a 1 GiB copy is deleted once checked, so that the runs do not fill the
# disk. fresh() flushes everything before the run, so that no run meets another's write-back.
fresh() {  # name version [old|exe] > a new application folder
  local folder="$work/$1-$i"
  mkdir -p "$folder" && printf '[Settings]\r\nVersion=%s\r\n' "$2" >"$folder/Preferences.ini"
  case "${3:-}" in
    old) cp "$old"/f*.dat "$folder/" ;;
    exe) cp "$program" "$folder/" ;;
    old+exe) cp "$old"/f*.dat "$program" "$folder/" ;;
  esac
  sync; echo "$folder"
}
done_with_big() { same "$1/big.bin" "$site/updater/1.0/big.bin"; rm -f "$1/big.bin"; sync; }

# durable: verified downloads (the manifests list digests, as published sites have them) in the
# bench driver, the real window offscreen in-process, against curl in the same run; the same
# downloads without digests as comparison rows; the careful peer: curl writing to a temporary
# name, then fdatasync, rename and a flush of the folder, the way a program that keeps a
# replaced file whole across a power loss must work. Results: durable-<row>.txt.
if wanted durable; then
say "durable downloads ($runs runs)"
durable_load_before="$(load)"
sed 's/^output = "\(.*\)"$/output = ".\1.part"/' "$work/many.curl" >"$work/many-careful.curl"
careful_large() { curl -sSf -o "$1/.big.bin.part" "$base/1.0/big.bin" && sync -d "$1/.big.bin.part" &&
  mv "$1/.big.bin.part" "$1/big.bin" && sync "$1"; }
careful_many() { (cd "$1" && curl -sSf --config "$work/many-careful.curl" && sync -d .f*.part &&
  perl -e 'for (@ARGV) { (my $t = $_) =~ s/^\.(.*)\.part$/$1/; rename $_, $t or die }' .f*.part && sync .); }
updater() { run_driver download "$1" >"$work/out"; value download_ms "$work/out"; }
cat "$site/updater/1.0/big.bin" >/dev/null  # the current-copy rows read it from the page cache, both sides
for i in $(seq 1 "$runs"); do
  both "$i" 'd=$(fresh curl-large 1.0); c=$(timed curl -sSf -o "$d/big.bin" "$base/1.0/big.bin"); done_with_big "$d"' \
    'd=$(fresh large 1.0); u=$(updater "$d"); done_with_big "$d"'
  record durable-large "$u" "$c"
  awk -v w="$(value welcome_kib "$work/out")" -v p="$(value peak_kib "$work/out")" \
    'BEGIN { printf "%.1f %.1f %.1f\n", p / 1024, w / 1024, (p - w) / 1024 }' >>"$work/durable-memory.txt"
  d=$(fresh plain-large 1.2); u=$(updater "$d"); done_with_big "$d"; record durable-plain-large "$u" "$c"
  d=$(fresh careful-large 1.0); u=$(timed careful_large "$d"); done_with_big "$d"; record durable-careful-large "$u" "$c"

  # The installed copy already is the published file: the updater only reads and hashes it.
  d=$(fresh current 8.0); ln "$site/updater/1.0/big.bin" "$d/big.bin"
  both "$i" 'c=$(timed sha256sum "$d/big.bin")' \
    'mark=$(log_mark); u=$(updater "$d"); requests=$(log_since "$mark" | grep -vc "/check\.update " || true)'
  ((requests == 0)) || { say "the current copy was fetched ($requests requests)"; exit 1; }
  record durable-current "$u" "$c"

  both "$i" 'd=$(fresh curl-many 2.0); c=$(cd "$d" && timed curl -sSf --config "$work/many.curl")' \
    'd=$(fresh many 2.0); u=$(updater "$d"); same "$d/f1999.dat" "$site/updater/2.0/f1999.dat"'
  record durable-many "$u" "$c"
  d=$(fresh plain-many 2.2); u=$(updater "$d"); record durable-plain-many "$u" "$c"
  d=$(fresh careful-many 2.0); u=$(timed careful_many "$d"); record durable-careful-many "$u" "$c"

  both "$i" 'd=$(fresh curl-replace 2.0 old); c=$(cd "$d" && timed curl -sSf --config "$work/many.curl")' \
    'd=$(fresh replace 2.0 old); u=$(updater "$d"); same "$d/f0000.dat" "$site/updater/2.0/f0000.dat"'
  record durable-replace "$u" "$c"
  d=$(fresh plain-replace 2.2 old); u=$(updater "$d"); record durable-plain-replace "$u" "$c"
done
durable_load_after="$(load)"
fi

# The reference of the window and latency rows: a program's whole run in the folder.
whole_process() {  # folder program arguments... > milliseconds
  "$arrival" process "$1" 300000 "${@:2}" >"$work/out" || exit 1
  value exit_ms "$work/out"
}
curl_path="$(command -v curl)"

# window: the real program, as the user meets it. It runs from a fresh folder on Xvfb;
# tarnwick-bench-arrival presses Next on the welcome page, waits until the check has enabled
# Next again, presses it and stops the clock when the last file has its full size under its own
# name. The reference is curl's whole process on the same site and disk. Results: window-<row>.txt.
if wanted window; then
say "window downloads ($runs runs)"
window_load_before="$(load)"
start_xvfb
echo "$big_size big.bin" >"$work/big.list"
in_window() {  # folder list > milliseconds; the memory line goes to window-memory.txt
  on_display "$arrival" window "$1" "$2" 300000 "$1/tarnwick-updater" >"$work/out" 2>"$work/arrival.err" ||
    { cat "$work/arrival.err" >&2; exit 1; }
  awk -v w="$(value welcome_kib "$work/out")" -v p="$(value peak_kib "$work/out")" \
    'BEGIN { printf "%.1f %.1f %.1f\n", p / 1024, w / 1024, (p - w) / 1024 }' >>"$work/window-memory.txt"
  value arrived_ms "$work/out"
}
for i in $(seq 1 "$runs"); do
  both "$i" 'd=$(fresh window-curl-large 1.0); c=$(whole_process "$d" "$curl_path" -sSf -o big.bin "$base/1.0/big.bin"); done_with_big "$d"' \
    'd=$(fresh window-large 1.0 exe); u=$(in_window "$d" "$work/big.list"); done_with_big "$d"'
  record window-large "$u" "$c"
  both "$i" 'd=$(fresh window-curl-many 2.0); c=$(whole_process "$d" "$curl_path" -sSf --config "$work/many.curl")' \
    'd=$(fresh window-many 2.0 exe); u=$(in_window "$d" "$work/many.list"); same "$d/f1999.dat" "$site/updater/2.0/f1999.dat"'
  record window-many "$u" "$c"
  both "$i" 'd=$(fresh window-curl-replace 2.0 old); c=$(whole_process "$d" "$curl_path" -sSf --config "$work/many.curl")' \
    'd=$(fresh window-replace 2.0 old+exe); u=$(in_window "$d" "$work/many.list"); same "$d/f0000.dat" "$site/updater/2.0/f0000.dat"'
  record window-replace "$u" "$c"
done
window_load_after="$(load)"
fi

# latency: the real window as in the window rows, with every chunk held $one_way_ms ms each way by
# bench/relay/delay.py, against curl's whole process through the same relay: eight connections at
# once (--parallel-max 8), and one connection with one file after another. Then the same over
# HTTPS, where nginx speaks HTTP/2 and curl multiplexes its eight transfers over one connection.
# Each run counts the connections the relay accepted for it. Results: latency-<row>.txt.
if wanted latency; then
say "latency: 200 files of 4 KiB, $one_way_ms ms each way ($runs runs)"
latency_load_before="$(load)"
start_xvfb
rtt_ms=$((2 * one_way_ms))
opened_mark() { [[ -f "$work/delay.opened" ]] && wc -l <"$work/delay.opened" || echo 0; }
opened_since() { tail -n +$(($1 + 1)) "$work/delay.opened" | wc -l; }
tls_log="$work/nginx-tls/logs/access.log"
tls_mark() { [[ -f "$tls_log" ]] && wc -l <"$tls_log" || echo 0; }
# The program's HTTPS runs see the test authority among the system's, in a mount namespace of their own.
trusting=(unshare -m sh -c 'mount --bind "$1" /etc/ssl/certs && shift && exec "$@"' trusting "$ca/trusted")
delayed_window() {  # folder program [prefix...] > milliseconds
  cp "$2" "$1/tarnwick-updater"; sync
  on_display "${@:3}" "$arrival" window "$1" "$work/latency.list" 300000 "$1/tarnwick-updater" >"$work/out" \
    2>"$work/arrival.err" || { cat "$work/arrival.err" >&2; exit 1; }
  for f in "${latency_files[@]}"; do same "$1/$f" "$site/updater/9.0/$f"; done
  value arrived_ms "$work/out"
}
# curl draws its parallel progress meter even when told to be silent.
eight=(-sSf --no-progress-meter --parallel --parallel-max 8)
for i in $(seq 1 "$runs"); do
  both "$i" 'd=$(fresh latency-curl 9.0); m=$(opened_mark)
     c=$(whole_process "$d" "$curl_path" "${eight[@]}" --config "$work/latency.curl"); cn=$(opened_since "$m")' \
    'd=$(fresh latency 9.0); m=$(opened_mark); u=$(delayed_window "$d" "$delayed_program"); un=$(opened_since "$m")'
  d=$(fresh latency-curl-serial 9.0); s=$(whole_process "$d" "$curl_path" -sSf --config "$work/latency.curl")
  record latency-http "$u" "$c"
  record latency-serial "$u" "$s"
  record latency-round-trips "$u" "$rtt_ms"
  record latency-connections "$un" "$cn" "$un"
  both "$i" 'd=$(fresh latency-curl-tls 9.0); m=$(opened_mark)
     c=$(whole_process "$d" "$curl_path" "${eight[@]}" --cacert "$ca/ca.pem" --config "$work/latency-tls.curl")
     cn=$(opened_since "$m")' \
    'd=$(fresh latency-tls 9.0); m=$(tls_mark); n=$(opened_mark)
     u=$(delayed_window "$d" "$delayed_tls_program" "${trusting[@]}"); un=$(opened_since "$n")
     tail -n +$((m + 1)) "$tls_log" | grep " /updater/9.0/l" | cut -d" " -f1 | sort -u >>"$work/latency-protocols.txt"'
  record latency-tls "$u" "$c"
  record latency-tls-connections "$un" "$cn" "$un"
done
latency_load_after="$(load)"
fi

# update: updates that cost only what changed. Bytes are the answers' bytes as nginx sent them
# ($bytes_sent: headers included), for every request of the run, manifests included.
if wanted update; then
say "updates ($runs runs; $slow_runs of the changed update and of the broken transfer)"
update_load_before="$(load)"
bytes_of() { log_since "$1" | awk '{ s += $4 } END { print s + 0 }'; }
installed_old() {  # name version > a folder holding the installed version's files
  local folder; folder=$(fresh "$1" "$2"); cp "$shipped"/* "$folder/"; sync; echo "$folder"
}
cat "$site/updater/1.0/big.bin" >/dev/null
for i in $(seq 1 "$runs"); do
  if ((i <= slow_runs)); then
    # The publisher's patches, and the update fetched whole by the updater and by curl.
    d=$(installed_old patched 5.0); mark=$(log_mark)
    run_driver download "$d" >"$work/out"; u=$(value download_ms "$work/out"); ub=$(bytes_of "$mark")
    for f in $update_names; do same "$d/$f" "$site/updater/5.0/$f"; done
    d=$(installed_old whole 6.0); mark=$(log_mark)
    run_driver download "$d" >"$work/out"; c=$(value download_ms "$work/out"); cb=$(bytes_of "$mark")
    same "$d/program.bin" "$site/updater/5.0/program.bin"
    d=$(installed_old curl-whole 6.0); cc=$(cd "$d" && timed curl -sSf --config "$work/update.curl")
    megabytes() { awk -v b="$1" 'BEGIN { print b / 1e6 }'; }
    record update-bytes "$(megabytes "$ub")" "$(megabytes "$cb")" "$(awk -v u="$ub" -v c="$cb" 'BEGIN { print 100 * u / c }')"
    record update-time "$u" "$c"
    record update-curl "$c" "$cc"
  fi

  # Nothing changed: the 1 GiB file and the 1,000 data files are installed and current.
  d=$(fresh unchanged 7.0)
  ln "$site/updater/7.0"/big.bin "$site/updater/7.0"/d*.dat "$d/"
  both "$i" 'c=$(cd "$d" && timed sha256sum big.bin d*.dat)' \
    'mark=$(log_mark); run_driver download "$d" >"$work/out"; u=$(value download_ms "$work/out")
     requests=$(log_since "$mark" | grep -vc "/check\.update " || true)'
  record update-unchanged "$u" "$c"
  record update-unchanged-requests "$requests" 0 "$requests"

  # A transfer broken at 90 % of the 1 GiB file by the relay, and continued.
  if ((i <= slow_runs)); then
    d=$(fresh broken 8.0)
    rm -f "$work/relay.port" "$work/relay.report"
    python3 "$here/relay/relay.py" "$port" $((big_size * 9 / 10 + 1024)) "$work/relay.port" "$work/relay.report" &
    relay_pid=$!
    for _ in $(seq 1 100); do [[ -s "$work/relay.port" ]] && break; sleep 0.05; done
    [[ -s "$work/relay.port" ]] || { say "the relay did not start"; exit 1; }
    run_driver download "$d" "http://127.0.0.1:$(cat "$work/relay.port")/updater/" >"$work/out"
    kill -TERM "$relay_pid"; wait "$relay_pid" || true; relay_pid=""
    grep -q 'broken=1' "$work/relay.report" || { say "the relay broke no transfer"; exit 1; }
    relay_bytes=$(sed -n 's/^bytes=\([0-9]*\).*/\1/p' "$work/relay.report")
    done_with_big "$d"
    record update-broken "$(value download_ms "$work/out")" "$(awk -v b="$big_size" 'BEGIN { print b / 2^30 }')" \
      "$(awk -v b="$relay_bytes" 'BEGIN { print b / 2^30 }')"
  fi
done
update_load_after="$(load)"
fi

# publish: tarnwick-publish against the same work done by hand with the tools a publisher has:
# one sha256sum over the release's and the shipped files, and zstd -9 --patch-from for each
# changed file of each earlier version (a process each: --patch-from takes one reference). Each
# run publishes into a fresh site. Results: publish-patches.txt, publish-seconds.txt,
# publish-bytes.txt (every patch's bytes), publish-plain.txt, and publish-big-time.txt and
# publish-big-memory.txt (MiB) for the 1 GiB patch.
if wanted publish; then
say "publishing ($runs runs)"
publish_load_before="$(load)"
changed_names=$(cd "$pub_release" && for f in *; do cmp -s "$f" "$work/pub-shipped/1/$f" || echo "$f"; done)
by_hand() {  # folder: the digests and the patches, made by hand into it
  mkdir -p "$1"
  sha256sum "$pub_release"/* "$work/pub-shipped"/1/* "$work/pub-shipped"/2/* >"$1/sums"
  for v in 1 2; do for f in $changed_names; do
    zstd -q -9 --patch-from="$work/pub-shipped/$v/$f" "$pub_release/$f" -o "$1/$v-$f.zst-patch"
  done; done
}
for i in $(seq 1 "$runs"); do
  both "$i" 'c=$(timed by_hand "$work/by-hand-$i")' \
    'u=$(timed "$publisher" --site "$work/pub-site-$i/updater" --release 0.3 "$pub_release" -s "$work/key.sec" -q \
      --shipped 0.1="$work/pub-shipped/1" --shipped 0.2="$work/pub-shipped/2")'
  for v in 1 2; do
    patches=$(find "$work/pub-site-$i/updater/0.$v" -name '*.zst-patch' | wc -l)
    ((patches == 1000)) || { say "0.$v has $patches patches instead of 1,000"; exit 1; }
  done
  record publish-patches "$u" "$c"
  record publish-seconds "$u" 10000 "$(awk -v u="$u" 'BEGIN { print u / 1000 }')"
  record publish-bytes "$(cat "$work/pub-site-$i"/updater/0.[12]/*.zst-patch | wc -c)" "$(cat "$work/by-hand-$i"/*.zst-patch | wc -c)"
  both "$i" 'c=$(timed sha256sum "$pub_plain"/*)' \
    'u=$(timed "$publisher" --site "$work/pub-plain-$i/updater" --release 0.3 "$pub_plain" --shipped 0.2 -s "$work/key.sec" -q)'
  record publish-plain "$u" "$c"
done
# The 1 GiB patch against zstd's own command on the same pair: the time, and the peak resident
# memory of the largest process each run started (getrusage of the children: no other tool).
peak() {  # command... > "milliseconds peak-KiB"
  python3 -c 'import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print("%.1f %d" % ((time.monotonic() - start) * 1000, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))' "$@"
}
for i in $(seq 1 "$slow_runs"); do
  both "$i" 'c=$(peak zstd -q -f -9 --patch-from="$pub_big_shipped/big.bin" "$pub_big/big.bin" -o "$work/big.patch")' \
    'u=$(peak "$publisher" --site "$work/pub-big-$i/updater" --release 0.3 "$pub_big" -s "$work/key.sec" -q \
      --shipped 0.2="$pub_big_shipped")'
  [[ -s "$work/pub-big-$i/updater/0.2/big.bin.zst-patch" ]] || { say "the 1 GiB file got no patch"; exit 1; }
  record publish-big-time "${u% *}" "${c% *}"
  record publish-big-memory "$((${u#* } / 1024))" "$((${c#* } / 1024))" "$(((${u#* } - ${c#* }) / 1024))"
  rm -rf "$work/pub-big-$i"  # a GiB each
done
publish_load_after="$(load)"
fi

# --- the tables --------------------------------------------------------------------------------
# column of file -> "median (min–max)"
stat() {
  sort -g -k"$2","$2" "$1" | awk -v c="$2" -v d="$3" '{ v[NR] = $c } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%." d "f (%." d "f–%." d "f)", m, v[1], v[NR] }'
}
median() {
  sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# A target holds for the median, or with "every" for the worst run.
met() {  # file limit [every]
  [[ "$2" == - ]] && { echo "comparison only"; return; }
  local figure
  if [[ "${3:-}" == every ]]; then figure=$(sort -g -k3,3 "$1" | tail -1 | cut -d' ' -f3); else figure=$(median "$1" 3); fi
  awk -v m="$figure" -v l="$2" 'BEGIN { print (m <= l) ? "met" : "not met" }'
}
row() {  # name work file updater-unit reference-unit figure-digits figure-unit target limit [every]
  [[ -s "$3" ]] || return 0
  printf '| %s | %s | %s %s | %s %s | %s %s | %s | %s |\n' "$1" "$2" "$(stat "$3" 1 1)" "$4" "$(stat "$3" 2 1)" "$5" \
    "$(stat "$3" 3 "$6")" "$7" "$8" "$(met "$3" "$9" "${10:-}")"
}
cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
mem_mib=$(( $(sed -n 's/^MemTotal: *\([0-9]*\).*/\1/p' /proc/meminfo) / 1024 ))
# The build takes the working tree as it is, so edits not yet committed are named.
tree="commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
git -C "$root" diff --quiet HEAD -- src CMakeLists.txt 2>/dev/null || tree="$tree with uncommitted changes in src/"
machine() {
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') at $tree on $(nproc) CPUs ($cpu), $mem_mib MiB memory, $(uname -sr);"
}
thousands() { echo "$1" | sed -e ':a' -e 's/\([0-9]\)\([0-9]\{3\}\)\($\|,\)/\1,\2\3/' -e 'ta'; }
header() {
  echo "| benchmark | work | updater: median (min–max) | reference: median (min–max) | figure: median (min–max) | target | result |"
  echo "|---|---|---|---|---|---|---|"
}
mkdir -p "$(dirname "$doc")"
[[ -f "$doc" ]] || printf '# Performance\n\n<!-- bench:begin -->\n<!-- bench:end -->\n' >"$doc"
# Replaces the block between <!-- name:begin --> and <!-- name:end --> with the file, keeping the
# notes around it; a block the document does not have yet is added at its end.
write_block() {  # name file
  grep -q "<!-- $1:begin -->" "$doc" || printf '\n<!-- %s:begin -->\n<!-- %s:end -->\n' "$1" "$1" >>"$doc"
  awk -v table="$2" -v begin="<!-- $1:begin -->" -v end="<!-- $1:end -->" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }' "$doc" >"$work/doc.md"
  cp "$work/doc.md" "$doc"
  cat "$2"
  say "table written to $doc ($1)"
}

if [[ -s "$work/biglist.txt" || -s "$work/startup.txt" ]]; then
table="$work/table.md"
{
  echo "$(machine) load average $(load) at the end. $runs runs each ($((runs * 3)) for start-up); check tick" \
    "shortened to $tick_ms ms."
  echo
  header
  row "start-up" "exec to welcome page mapped (Xvfb)" "$work/startup.txt" ms "ms (minimal Qt window)" 2 "× minimal" "≤ 1.3 × minimal" 1.3
  row "big list" "check of a 10,000-file manifest until Next is enabled" "$work/biglist.txt" ms "ms (curl fetch)" 1 \
    "ms beyond two fetches" "< 1000 ms beyond the fetches" 1000
} >"$table"
write_block bench "$table"
fi

if [[ -s "$work/manyfiles-pace.txt" ]]; then
table="$work/manyfiles.md"
count_text="$(thousands "$many_count")"
block_text="$(thousands "$many_block")"
{
  echo "$(machine) load average $many_load_before before and $many_load_after after the runs. $runs run$( ((runs == 1)) || echo s); digests listed."
  echo
  header
  row "many small files, memory" "$count_text files of 1 KiB, resident memory at every $block_text files and at the end" \
    "$work/manyfiles-memory.txt" "MiB (highest)" "MiB (list page)" 1 "MiB above the list page" "≤ list page + 64 MiB" 64
  row "many small files, pace" "the last $block_text files against the first $block_text" "$work/manyfiles-pace.txt" \
    "ms (last block)" "ms (first block)" 2 "× first block" "≤ 1.5 × first block" 1.5
  row "many small files, CPU per block" "as above, CPU time of all the updater's threads" "$work/manyfiles-cpu.txt" \
    "ms (last block)" "ms (first block)" 2 "× first block" "none: the pace without the other work's noise" -
  echo
  echo "| files done | block time: median (min–max) | files/s (median) | CPU time: median (min–max) | resident: median (min–max) | above the list page: median |"
  echo "|---|---|---|---|---|---|"
  for b in $(cut -d' ' -f1 "$work/manyfiles-blocks.txt" | sort -n | uniq); do
    awk -v b="$b" '$1 == b' "$work/manyfiles-blocks.txt" >"$work/block.txt"
    printf "| %s | %s ms | %.0f | %s ms | %s MiB | %s MiB |\n" "$(thousands $((b * many_block)))" "$(stat "$work/block.txt" 2 0)" \
      "$(awk -v m="$(median "$work/block.txt" 2)" -v n="$many_block" 'BEGIN { print n * 1000 / m }')" \
      "$(stat "$work/block.txt" 3 0)" "$(stat "$work/block.txt" 4 1)" "$(median "$work/block.txt" 5)"
  done
} >"$table"
verdict() { [[ "$(met "$1" "$2")" == met ]] && echo pass || echo fail; }
say "manyfiles goals: memory growth ≤ 64 MiB $(verdict "$work/manyfiles-memory.txt" 64)," \
  "last block ≤ 1.5 × first $(verdict "$work/manyfiles-pace.txt" 1.5)"
write_block "bench:manyfiles-$many_count" "$table"
fi

if [[ -s "$work/durable-large.txt" ]]; then
table="$work/durable.md"
{
  echo "$(machine) load average $durable_load_before before and $durable_load_after after the runs. $runs runs each;" \
    "updater and reference in alternating order."
  echo
  header
  row "verified large file" "one 1 GiB file with its digest, in place and flushed" "$work/durable-large.txt" ms "ms (curl -o)" 2 \
    "× curl" "≤ 0.9 × curl" 0.9
  row "large file, no digest" "the same file from a manifest without digests" "$work/durable-plain-large.txt" ms "ms (curl -o)" 2 \
    "× curl" "none: comparison" -
  row "careful peer, large" "curl to a temporary name, fdatasync, rename, folder flush" "$work/durable-careful-large.txt" \
    ms "ms (curl -o)" 2 "× curl" "none: reference" -
  row "current large file" "1 GiB installed and current: read and hashed, no request" "$work/durable-current.txt" ms \
    "ms (sha256sum)" 2 "× sha256sum" "≤ 1.1 × sha256sum" 1.1
  row "verified many files" "2,000 new files of 4 KiB with their digests" "$work/durable-many.txt" ms "ms (one curl, 2,000 URLs)" 2 \
    "× curl" "≤ 1.0 × curl" 1.0
  row "many files, no digests" "the same from a manifest without digests" "$work/durable-plain-many.txt" ms \
    "ms (one curl, 2,000 URLs)" 2 "× curl" "none: comparison" -
  row "careful peer, many" "curl to temporary names, fdatasync each, rename each, folder flush" \
    "$work/durable-careful-many.txt" ms "ms (one curl, 2,000 URLs)" 2 "× curl" "none: reference" -
  row "verified replacing" "the same 2,000 files replacing installed copies of other contents" "$work/durable-replace.txt" ms \
    "ms (the same curl, replacing)" 2 "× curl" "≤ 1.0 × curl" 1.0
  row "replacing, no digests" "as above, from a manifest without digests" "$work/durable-plain-replace.txt" ms \
    "ms (the same curl, replacing)" 2 "× curl" "none: comparison" -
  row "memory" "peak while downloading the verified 1 GiB file" "$work/durable-memory.txt" MiB "MiB (welcome page)" 1 \
    "MiB above welcome" "≤ welcome + 16 MiB in every run" 16 every
} >"$table"
write_block bench:durable "$table"
fi

if [[ -s "$work/window-large.txt" ]]; then
table="$work/window.md"
{
  echo "$(machine) load average $window_load_before before and $window_load_after after the runs. $runs runs each;" \
    "updater and reference in alternating order."
  echo
  header
  row "window, verified large file" "one 1 GiB file with its digest: Next press to the file in place" "$work/window-large.txt" \
    ms "ms (curl -o, whole process)" 2 "× curl" "≤ 0.9 × curl" 0.9
  row "window, verified many files" "2,000 new files of 4 KiB: Next press to the last in place" "$work/window-many.txt" ms \
    "ms (one curl, 2,000 URLs)" 2 "× curl" "≤ 1.0 × curl" 1.0
  row "window, verified replacing" "the same 2,000 files replacing installed copies" "$work/window-replace.txt" ms \
    "ms (the same curl, replacing)" 2 "× curl" "≤ 1.0 × curl" 1.0
  row "window, memory" "peak of the real program in all the runs above" "$work/window-memory.txt" MiB "MiB (welcome page)" 1 \
    "MiB above welcome" "≤ welcome + 16 MiB in every run" 16 every
} >"$table"
write_block bench:window "$table"
fi

if [[ -s "$work/latency-http.txt" ]]; then
table="$work/latency.md"
{
  echo "$(machine) load average $latency_load_before before and $latency_load_after after the runs. $runs runs each;" \
    "updater and reference in alternating order; every chunk held $one_way_ms ms each way ($rtt_ms ms round trip) by" \
    "\`bench/relay/delay.py\`."
  echo
  header
  row "latency, verified many files" \
    "200 files of 4 KiB with their digests, $rtt_ms ms round trip: Next press to the last in place" \
    "$work/latency-http.txt" ms "ms (curl --parallel-max 8, whole process)" 2 "× curl" \
    "≤ 1.1 × curl with 8 connections" 1.1
  row "latency, one by one" "the same runs against curl fetching the 200 URLs one after another over one connection" \
    "$work/latency-serial.txt" ms "ms (curl one by one)" 2 "× curl" "none: reference" -
  row "latency, round trips" "the updater's time above counted in round trips" "$work/latency-round-trips.txt" ms \
    "ms (round trip)" 1 "round trips" "none: comparison" -
  row "latency, connections" "connections the relay accepted in a run, the check's included" \
    "$work/latency-connections.txt" connections "connections (curl --parallel-max 8)" 0 connections "none: comparison" -
  row "latency, HTTPS and HTTP/2" "the same 200 files from nginx over TLS, speaking HTTP/2" "$work/latency-tls.txt" ms \
    "ms (curl --parallel-max 8, multiplexed)" 2 "× curl" "none: comparison" -
  row "latency, HTTPS connections" "connections the relay accepted in an HTTPS run, the check's included" \
    "$work/latency-tls-connections.txt" connections "connections (curl, multiplexed)" 0 connections "none: comparison" -
  echo
  echo "The updater's file requests over HTTPS arrived as $(sort -u "$work/latency-protocols.txt" | paste -sd/ - |
    sed 's|/HTTP| and HTTP|g') in nginx's log."
} >"$table"
write_block bench:latency "$table"
fi

if [[ -s "$work/update-unchanged.txt" ]]; then
table="$work/update.md"
{
  echo "$(machine) load average $update_load_before before and $update_load_after after the runs. $runs runs" \
    "($slow_runs of the changed update and of the broken transfer); the update's site limited to $line_rate bytes a second."
  echo
  header
  row "changed update, bytes" "100 MiB program with 1 % changed, 1,000 data files with 10 changed: tarnwick-publish" \
    "$work/update-bytes.txt" MB "MB (the same update fetched whole)" 2 "% of whole" "≤ 3 % of whole" 3
  row "changed update, time" "as above, at 12.5 MB/s" "$work/update-time.txt" ms "ms (the same update fetched whole)" 3 \
    "× whole" "≤ 0.1 × whole" 0.1
  row "whole update, curl" "the update fetched whole: updater against one curl with the 1,001 URLs" "$work/update-curl.txt" ms \
    "ms (curl)" 2 "× curl" "none: comparison" -
  row "nothing changed, time" "1 GiB file and 1,000 data files installed and current" "$work/update-unchanged.txt" ms \
    "ms (sha256sum of the same files)" 2 "× sha256sum" "≤ 1.1 × sha256sum" 1.1
  row "nothing changed, requests" "file requests in the same runs" "$work/update-unchanged-requests.txt" requests \
    "requests" 0 "requests" "none in every run" 0 every
  row "broken transfer" "1 GiB file cut at 90 % by a relay, continued with a range request" "$work/update-broken.txt" ms \
    "GiB (the file)" 3 "GiB passed the relay" "≤ 1.15 GiB" 1.15
} >"$table"
write_block bench:update "$table"
fi

if [[ -s "$work/publish-patches.txt" ]]; then
table="$work/publish.md"
{
  echo "$(machine) load average $publish_load_before before and $publish_load_after after the runs. $runs runs each;" \
    "program and reference in alternating order, each run into a fresh site."
  echo
  header
  row "publish with patches" "2,000 files of 16 KiB, 1,000 changed, for two earlier versions: 2,000 patches, signed" \
    "$work/publish-patches.txt" ms "ms (sha256sum and zstd -9 --patch-from by hand)" 2 "× by hand" "≤ 1.0 × by hand" 1.0
  row "publish with patches, in all" "the same" "$work/publish-seconds.txt" ms "ms (the limit)" 2 s "≤ 10 s" 10
  row "patch bytes" "the 2,000 patches above" "$work/publish-bytes.txt" bytes "bytes (zstd -9 --patch-from)" 3 \
    "× zstd's" "≤ 1.0 × zstd's" 1.0
  row "publish without patches" "10,000 files of 16 KiB for one earlier version without its files, signed" \
    "$work/publish-plain.txt" ms "ms (sha256sum of the files)" 2 "× sha256sum" "≤ 1.2 × sha256sum" 1.2
  row "publish a 1 GiB patch" \
    "a 1 GiB file with 100 blocks of 4 KiB changed and the 2,000 files above, for one version with its files" \
    "$work/publish-big-time.txt" ms "ms (zstd -9 --patch-from on the 1 GiB pair)" 2 "× zstd" "≤ 1.0 × zstd" 1.0
  row "publish a 1 GiB patch, memory" "peak resident in the same $slow_runs runs" "$work/publish-big-memory.txt" MiB \
    "MiB (zstd -9 --patch-from)" 0 "MiB above zstd" "≤ zstd + 64 MiB a core, every run" $((64 * $(nproc))) every
} >"$table"
write_block bench:publish "$table"
fi
