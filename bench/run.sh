#!/usr/bin/env bash
# Times the updater against references measured in the same run (curl, a minimal Qt program) on
# update sites served by nginx on 127.0.0.1, and writes the table to stdout and to
# docs/PERFORMANCE.md. Every figure is a ratio or a difference against its reference, because
# the machine is shared and absolute times move with the load.
#   bench/run.sh [runs]        runs per benchmark, default 5 (start-up runs three times as often)
# Environment: BENCH_BUILD_DIR (default build/bench-release), BENCH_TICK_MS (default 1),
# BENCH_KEEP=1 keeps the temporary folder, BENCH_ONLY="manyfiles large many biglist startup durable" picks
# benchmarks (memory comes with large), BENCH_MANY_FILES (default 10000) and BENCH_MANY_BLOCK
# (default 2000) size the manyfiles benchmark.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
runs="${1:-5}"
build="${BENCH_BUILD_DIR:-$root/build/bench-release}"
tick_ms="${BENCH_TICK_MS:-1}"
doc="$root/docs/PERFORMANCE.md"

for tool in cmake nginx curl Xvfb; do
  command -v "$tool" >/dev/null || PATH="$PATH:/usr/sbin"
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/ensure-packages.sh installs it)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")"
chmod 755 "$work"
nginx_pid=""
xvfb_pid=""
cleanup() {
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  if [[ "${BENCH_KEEP:-0}" == 1 ]]; then echo "bench: kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

say() { echo "bench: $*" >&2; }
wanted() { [[ -z "${BENCH_ONLY:-}" || " $BENCH_ONLY " == *" $1 "* ]]; }
now_ns() { date +%s%N; }
ms_since() { awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.3f", (b - a) / 1e6 }'; }

# --- nginx on a free loopback port -------------------------------------------------------------
site="$work/site"
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
  }
}
EOF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" 2>"$work/nginx/start.err"
}
port=""
for _ in $(seq 1 30); do
  candidate=$((20000 + RANDOM % 40000))
  if start_nginx "$candidate"; then port="$candidate"; break; fi
done
[[ -n "$port" ]] || { say "nginx did not start:"; cat "$work/nginx/start.err" >&2; exit 1; }
nginx_pid="$(cat "$work/nginx/nginx.pid")"
base="http://127.0.0.1:$port/updater"
say "nginx on 127.0.0.1:$port"

# --- Release build, with the start-up site compiled into the real program ----------------------
say "building Release in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=OFF -DTARNWICK_BUILD_BENCH=ON \
  -DTARNWICK_UPDATE_SITE="$base/" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; exit 1; }
cmake --build "$build" -j2 >>"$work/cmake.log" 2>&1 || { tail -50 "$work/cmake.log" >&2; exit 1; }
driver="$build/bench/tarnwick-bench-driver"
minimal="$build/bench/tarnwick-bench-minimal"
mapwatch="$build/bench/tarnwick-bench-mapwatch"
noflush="$build/bench/libtarnwick-bench-noflush.so"

# --- update sites ------------------------------------------------------------------------------
manifest() {  # version file-list-with-<br> > check.update
  printf '<newupdater>0.2</newupdater>\r\n<ver>%s</ver>\r\n<file>%s</file>' "$1" "$2"
}
say "generating the update sites"
mkdir -p "$site/updater/0.3" "$site/updater/1.0" "$site/updater/2.0" "$site/updater/3.0" "$site/updater/4.0"
manifest "0.3" "readme.txt" >"$site/updater/0.3/check.update"
if wanted large; then
  head -c $((1024 * 1024 * 1024)) /dev/urandom >"$site/updater/1.0/big.bin"
  manifest "1.1" "big.bin" >"$site/updater/1.0/check.update"
fi
if wanted many; then
  (cd "$site/updater/2.0" && head -c $((2000 * 4096)) /dev/urandom | split -b 4096 -d -a 4 --additional-suffix=.dat - f)
  mapfile -t many_files < <(cd "$site/updater/2.0" && ls f*.dat)
  manifest "2.1" "$(IFS='|'; echo "${many_files[*]}" | sed 's/|/<br>/g')" >"$site/updater/2.0/check.update"
  for f in "${many_files[@]}"; do printf 'url = "%s/2.0/%s"\noutput = "%s"\n' "$base" "$f" "$f"; done >"$work/many.curl"
fi
manifest "3.1" "$(seq -f 'data/file%05g.dat' 1 10000 | paste -sd'|' | sed 's/|/<br>/g')" >"$site/updater/3.0/check.update"
# manyfiles: small files of distinct random contents, so no layer can serve one from another.
many_count="${BENCH_MANY_FILES:-10000}"
many_block="${BENCH_MANY_BLOCK:-2000}"
many_digits=$(( ${#many_count} > 5 ? ${#many_count} : 5 ))
(( many_block > 0 && many_count >= many_block )) || { say "BENCH_MANY_FILES must hold at least one block"; exit 2; }
if wanted manyfiles; then
  (cd "$site/updater/4.0" && head -c $((many_count * 1024)) /dev/urandom |
    split -b 1024 -d -a "$many_digits" --additional-suffix=.dat - s)
  manifest "4.1" "$(cd "$site/updater/4.0" && ls s*.dat | paste -sd'|' | sed 's/|/<br>/g')" >"$site/updater/4.0/check.update"
fi

app_folder() {  # folder version: a fresh application folder with only Preferences.ini
  rm -rf "$1" && mkdir -p "$1" && printf '[Settings]\r\nVersion=%s\r\n' "$2" >"$1/Preferences.ini"
}
value() { sed -n "s/^$1=//p" "$2"; }
run_driver() {  # mode folder [LD_PRELOAD] > key=value lines
  env ${3:+LD_PRELOAD="$3"} "$driver" "$1" "$base/" "$2" "$tick_ms" 2>"$work/driver.err" ||
    { cat "$work/driver.err" >&2; exit 1; }
}
# The same download once more with the file flushes switched off, for the comparison rows.
unflushed_ratio() {  # version reference-ms file
  app_folder "$dl" "$1"; sync
  run_driver download "$dl" "$noflush" >"$work/out"
  awk -v u="$(value download_ms "$work/out")" -v c="$2" 'BEGIN { printf "%.1f %.1f %.3f\n", u, c, u / c }' >>"$3"
  say "  $(basename "$3" .txt): $(tail -1 "$3")"
}

# Results: one line per run "updater reference figure" in $work/<bench>.txt.
dl="$work/download"

# manyfiles goes first: on a file system that skips recently freed inodes (ext4 without a
# journal does, for about a minute), creating files soon after the other benchmarks deleted
# theirs would slow its first blocks and flatter the comparison with its last. For the same
# reason each run writes into a fresh folder and none is deleted before the script ends.
# Results: manyfiles-memory.txt "peak list growth" (MiB), manyfiles-pace.txt and -cpu.txt "last
# first ratio" (wall and CPU ms), manyfiles-blocks.txt "block ms cpu-ms rss-MiB growth-MiB" per
# block and run.
if wanted manyfiles; then
say "manyfiles: $many_count files of 1 KiB, blocks of $many_block ($runs runs)"
say "  load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
many_load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
last_name="$(printf "s%0${many_digits}d.dat" $((many_count - 1)))"
for i in $(seq 1 "$runs"); do
  folder="$work/manyfiles-$i"
  mkdir -p "$folder" && printf '[Settings]\r\nVersion=4.0\r\n' >"$folder/Preferences.ini"
  sync
  "$driver" manyfiles "$base/" "$folder" "$tick_ms" "$many_block" >"$work/out" 2>"$work/driver.err" ||
    { cat "$work/driver.err" >&2; exit 1; }
  for f in "$(printf "s%0${many_digits}d.dat" 0)" "$last_name"; do
    cmp -s "$folder/$f" "$site/updater/4.0/$f" || { say "downloaded file $f differs"; exit 1; }
  done
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
many_load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
say "  load average after: $many_load_after"
fi

# The 1 GiB benchmark goes last of the downloads: freeing its copies keeps the disk busy for a while.
if wanted biglist; then
say "big list ($runs runs)"
for i in $(seq 1 "$runs"); do
  app_folder "$dl" 3.0
  fetch_s=$(curl -sSf -o /dev/null -w '%{time_total}' "$base/3.0/check.update")
  run_driver check "$dl" >"$work/out"
  [[ "$(value items "$work/out")" == 10000 ]] || { say "the list does not hold 10,000 entries"; exit 1; }
  # The check fetches the manifest twice (step 1 and the file list) and waits two ticks.
  awk -v u="$(value check_ms "$work/out")" -v f="$fetch_s" -v t="$tick_ms" \
    'BEGIN { printf "%.1f %.1f %.1f\n", u, f * 1000, u - 2 * f * 1000 - 2 * t }' >>"$work/biglist.txt"; say "  biglist: $(tail -1 "$work/biglist.txt")"
done
fi

if wanted many; then
say "many files ($runs runs)"
for i in $(seq 1 "$runs"); do
  app_folder "$dl" 2.0; sync
  t0=$(now_ns); (cd "$dl" && curl -sSf --config "$work/many.curl"); curl_ms=$(ms_since "$t0")
  app_folder "$dl" 2.0; sync
  run_driver download "$dl" >"$work/out"
  upd_ms=$(value download_ms "$work/out")
  cmp -s "$dl/f1999.dat" "$site/updater/2.0/f1999.dat" || { say "downloaded file differs"; exit 1; }
  awk -v u="$upd_ms" -v c="$curl_ms" 'BEGIN { printf "%.1f %.1f %.3f\n", u, c, u / c }' >>"$work/many.txt"; say "  many: $(tail -1 "$work/many.txt")"
  unflushed_ratio 2.0 "$curl_ms" "$work/many-noflush.txt"
done
fi

if wanted large; then
say "large file ($runs runs)"
for i in $(seq 1 "$runs"); do
  app_folder "$dl" 1.0; sync
  t0=$(now_ns); curl -sSf -o "$dl/big.bin" "$base/1.0/big.bin"; curl_ms=$(ms_since "$t0")
  app_folder "$dl" 1.0; sync
  run_driver download "$dl" >"$work/out"
  upd_ms=$(value download_ms "$work/out")
  cmp -s "$dl/big.bin" "$site/updater/1.0/big.bin" || { say "downloaded file differs"; exit 1; }
  awk -v u="$upd_ms" -v c="$curl_ms" 'BEGIN { printf "%.1f %.1f %.3f\n", u, c, u / c }' >>"$work/large.txt"; say "  large: $(tail -1 "$work/large.txt")"
  awk -v w="$(value welcome_kib "$work/out")" -v p="$(value peak_kib "$work/out")" \
    'BEGIN { printf "%.1f %.1f %.1f\n", p / 1024, w / 1024, (p - w) / 1024 }' >>"$work/memory.txt"; say "  memory: $(tail -1 "$work/memory.txt")"
  unflushed_ratio 1.0 "$curl_ms" "$work/large-noflush.txt"
done
app_folder "$dl" 1.0
fi

if wanted startup; then
startup_runs=$((runs * 3))
say "start-up ($startup_runs runs)"
exec 3>"$work/display"
# -noreset: the server would otherwise reset, refusing connections, whenever a program leaves.
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 1 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { say "Xvfb did not start"; cat "$work/xvfb.log" >&2; exit 1; }
startup="$work/startup"
app_folder "$startup" 0.3
cp "$build/src/tarnwick-updater" "$startup/"
mkdir -m 700 -p "$work/runtime"
watch() {  # title program > milliseconds
  env DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
    "$mapwatch" "$1" 20000 "$2" >"$work/map.out" || { say "no window from $2"; exit 1; }
  value mapped_ms "$work/map.out"
}
watch "Minimal Window" "$minimal" >/dev/null  # warm the caches both programs share
watch "Tarnwick Updater" "$startup/tarnwick-updater" >/dev/null
for i in $(seq 1 "$startup_runs"); do
  ref_ms=$(watch "Minimal Window" "$minimal")
  upd_ms=$(watch "Tarnwick Updater" "$startup/tarnwick-updater")
  awk -v u="$upd_ms" -v c="$ref_ms" 'BEGIN { printf "%.1f %.1f %.3f\n", u, c, u / c }' >>"$work/startup.txt"; say "  startup: $(tail -1 "$work/startup.txt")"
done
fi

# durable: the durable-download goals against curl in the same run, the updater's file flushes
# on. Every run writes into fresh folders and none is deleted before the script ends: on this
# machine's journal-less ext4, creating files soon after deleting thousands is slow. The
# careful peer is curl writing to a temporary name, then fdatasync, rename and a flush of the
# folder, the way a program that keeps a replaced file whole across a power loss must work.
# Results: durable-<row>.txt "updater reference figure".
if wanted durable; then
say "durable downloads ($runs runs)"
[[ -f "$site/updater/1.0/big.bin" ]] || { head -c $((1024 * 1024 * 1024)) /dev/urandom >"$site/updater/1.0/big.bin"
  manifest "1.1" "big.bin" >"$site/updater/1.0/check.update"; }
if [[ ! -f "$work/many.curl" ]]; then
  (cd "$site/updater/2.0" && head -c $((2000 * 4096)) /dev/urandom | split -b 4096 -d -a 4 --additional-suffix=.dat - f)
  mapfile -t many_files < <(cd "$site/updater/2.0" && ls f*.dat)
  manifest "2.1" "$(IFS='|'; echo "${many_files[*]}" | sed 's/|/<br>/g')" >"$site/updater/2.0/check.update"
  for f in "${many_files[@]}"; do printf 'url = "%s/2.0/%s"\noutput = "%s"\n' "$base" "$f" "$f"; done >"$work/many.curl"
fi
sed 's/^output = "\(.*\)"$/output = ".\1.part"/' "$work/many.curl" >"$work/many-careful.curl"
old="$work/durable-old"  # the installed copies the "replacing" rows overwrite: other bytes, same names
mkdir -p "$old" && (cd "$old" && head -c $((2000 * 4096)) /dev/urandom | split -b 4096 -d -a 4 --additional-suffix=.dat - f)
fresh() {  # name version [old] > a new application folder, flushed
  local folder="$work/durable-$1-$i"
  mkdir -p "$folder" && printf '[Settings]\r\nVersion=%s\r\n' "$2" >"$folder/Preferences.ini"
  [[ -z "${3:-}" ]] || cp "$old"/f*.dat "$folder/"
  sync; echo "$folder"
}
timed() { local t0; t0=$(now_ns); "$@" >/dev/null; ms_since "$t0"; }
careful_large() { curl -sSf -o "$1/.big.bin.part" "$base/1.0/big.bin" && sync -d "$1/.big.bin.part" &&
  mv "$1/.big.bin.part" "$1/big.bin" && sync "$1"; }
careful_many() { (cd "$1" && curl -sSf --config "$work/many-careful.curl" && sync -d .f*.part &&
  perl -e 'for (@ARGV) { (my $t = $_) =~ s/^\.(.*)\.part$/$1/; rename $_, $t or die }' .f*.part && sync .); }
updater() { run_driver download "$1" >"$work/out"; value download_ms "$work/out"; }
ratio() { awk -v u="$2" -v c="$3" 'BEGIN { printf "%.1f %.1f %.3f\n", u, c, u / c }' >>"$work/durable-$1.txt"
  say "  $1: $(tail -1 "$work/durable-$1.txt")"; }
for i in $(seq 1 "$runs"); do
  d=$(fresh curl-large 1.0); c=$(timed curl -sSf -o "$d/big.bin" "$base/1.0/big.bin")
  d=$(fresh large 1.0); u=$(updater "$d")
  cmp -s "$d/big.bin" "$site/updater/1.0/big.bin" || { say "downloaded file differs"; exit 1; }
  ratio large "$u" "$c"
  awk -v w="$(value welcome_kib "$work/out")" -v p="$(value peak_kib "$work/out")" \
    'BEGIN { printf "%.1f %.1f %.1f\n", p / 1024, w / 1024, (p - w) / 1024 }' >>"$work/durable-memory.txt"
  d=$(fresh careful-large 1.0); ratio careful-large "$(timed careful_large "$d")" "$c"
  d=$(fresh curl-many 2.0); c=$(cd "$d" && timed curl -sSf --config "$work/many.curl")
  d=$(fresh many 2.0); u=$(updater "$d")
  cmp -s "$d/f1999.dat" "$site/updater/2.0/f1999.dat" || { say "downloaded file differs"; exit 1; }
  ratio many "$u" "$c"
  d=$(fresh careful-many 2.0); ratio careful-many "$(timed careful_many "$d")" "$c"
  d=$(fresh curl-replace 2.0 old); c=$(cd "$d" && timed curl -sSf --config "$work/many.curl")
  d=$(fresh replace 2.0 old); u=$(updater "$d")
  cmp -s "$d/f0000.dat" "$site/updater/2.0/f0000.dat" || { say "replaced file differs"; exit 1; }
  ratio replace "$u" "$c"
done
fi

# --- the table ---------------------------------------------------------------------------------
# column of file -> "median (min–max)"
stat() {
  sort -g -k"$2","$2" "$1" | awk -v c="$2" -v d="$3" '{ v[NR] = $c } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%." d "f (%." d "f–%." d "f)", m, v[1], v[NR] }'
}
median() {
  sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
met() {
  [[ "$2" == - ]] && { echo "comparison only"; return; }
  awk -v m="$(median "$1" 3)" -v l="$2" 'BEGIN { print (m <= l) ? "met" : "not met" }'
}
row() {  # name work file updater-unit reference-unit figure-unit target limit
  [[ -s "$3" ]] || return 0
  printf '| %s | %s | %s %s | %s %s | %s %s | %s | %s |\n' "$1" "$2" "$(stat "$3" 1 1)" "$4" "$(stat "$3" 2 1)" "$5" \
    "$(stat "$3" 3 "$6")" "$7" "$8" "$(met "$3" "$9")"
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

if [[ -s "$work/large.txt" || -s "$work/many.txt" || -s "$work/biglist.txt" || -s "$work/startup.txt" ]]; then
table="$work/table.md"
{
  echo "$(machine) load average $(cut -d' ' -f1-3 /proc/loadavg)" \
    "at the end. $runs runs each ($((runs * 3)) for start-up); check tick shortened to $tick_ms ms."
  echo
  header
  row "large file" "one 1 GiB file" "$work/large.txt" ms "ms (curl -o)" 2 "× curl" "≤ 1.10 × curl" 1.10
  row "large file, flushes off" "as above, fsync/fdatasync made no-ops" "$work/large-noflush.txt" ms "ms (curl, same run)" 2 \
    "× curl" "none: shows what the flushes cost" -
  row "many files" "2,000 files of 4 KiB" "$work/many.txt" ms "ms (one curl, reused connection)" 2 "× curl" "≤ 1.5 × curl" 1.5
  row "many files, flushes off" "as above, fsync/fdatasync made no-ops" "$work/many-noflush.txt" ms "ms (curl, same run)" 2 \
    "× curl" "none: shows what the flushes cost" -
  row "memory" "peak while downloading 1 GiB" "$work/memory.txt" MiB "MiB (welcome page)" 1 "MiB above welcome" "≤ welcome + 32 MiB" 32
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
  echo "$(machine) load average $many_load_before before and $many_load_after after the runs. $runs run$( ((runs == 1)) || echo s)."
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
  echo "$(machine) load average $(cut -d' ' -f1-3 /proc/loadavg) at the end. $runs runs each; file flushes on."
  echo
  header
  row "durable large file" "one 1 GiB file, in place and flushed" "$work/durable-large.txt" ms "ms (curl -o)" 2 "× curl" "≤ 0.9 × curl" 0.9
  row "careful peer, large" "curl to a temporary name, fdatasync, rename, folder flush" "$work/durable-careful-large.txt" \
    ms "ms (curl -o)" 2 "× curl" "none: reference" -
  row "durable many files" "2,000 new files of 4 KiB" "$work/durable-many.txt" ms "ms (one curl, 2,000 URLs)" 2 "× curl" \
    "≤ 1.0 × curl" 1.0
  row "careful peer, many" "curl to temporary names, fdatasync each, rename each, folder flush" \
    "$work/durable-careful-many.txt" ms "ms (one curl, 2,000 URLs)" 2 "× curl" "none: reference" -
  row "durable replacing" "the same 2,000 files replacing installed copies" "$work/durable-replace.txt" ms \
    "ms (the same curl, replacing)" 2 "× curl" "≤ 1.0 × curl" 1.0
  row "memory, durable" "peak while downloading 1 GiB" "$work/durable-memory.txt" MiB "MiB (welcome page)" 1 \
    "MiB above welcome" "≤ welcome + 16 MiB" 16
} >"$table"
write_block bench:durable "$table"
fi
