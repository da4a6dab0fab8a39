#!/usr/bin/env python3
"""Times the updater against references measured in the same run (curl, sha256sum, zstd, a minimal Qt
program) on update sites served by nginx on 127.0.0.1, writes the raw samples as JSON and renders the
tables into docs/PERFORMANCE.md. Every figure is a ratio or a difference against its reference,
because the machine is shared and absolute times move with the load.

    bench/run.py [runs]          runs per benchmark, default 5 (start-up runs three times as often)
    bench/run.py --smoke         tiny sizes, one run, no target judged, the docs left alone
    bench/run.py --render        renders docs/PERFORMANCE.md again from bench/results/*.json

Environment: BENCH_BUILD_DIR (default build/bench-release), BENCH_TICK_MS (default 1), BENCH_KEEP=1
keeps the temporary folder, BENCH_ONLY="manyfiles biglist startup durable window arrival latency
update publish" picks benchmarks, BENCH_ONE_WAY_MS (default 25), BENCH_SLOW_RUNS (default: runs)
the runs of the slowest rows (the changed update, the broken transfer, the large publish),
BENCH_LINE_RATE (default 12500k), BENCH_MANY_FILES (default 10000), BENCH_MANY_BLOCK (default
2000), BENCH_BIG_MIB (default 1024; smaller only while working on the bench: the tables name
1 GiB), BENCH_WAIT_QUIET=<minutes> waits until the 1-minute load average has stayed below 0.6 for
a minute.
"""
import contextlib
import datetime
import filecmp
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DOC = os.path.join(ROOT, "docs", "PERFORMANCE.md")
RESULTS = os.path.join(HERE, "results")
KIB, MIB, GIB = 1024, 1024 * 1024, 1024 * 1024 * 1024


# --- rows and targets, as data ----------------------------------------------------------------

@dataclass
class Row:
    key: str            # the samples' name in the results
    name: str
    work: str
    updater_unit: str
    reference_unit: str
    digits: int
    figure_unit: str
    target: str
    limit: float = None  # None: comparison only
    every: bool = False  # the target holds for the worst run, not the median


@dataclass
class Table:
    block: str          # the marked block of docs/PERFORMANCE.md
    benchmarks: tuple   # the BENCH_ONLY names that fill it
    rows: list = field(default_factory=list)


CURL8 = "ms (curl --parallel-max 8, whole process)"
TABLES = [
    Table("bench:manyfiles", ("manyfiles",), [
        Row("manyfiles-memory", "many small files, memory",
            "{count} files of 1 KiB, resident memory at every {block} files and at the end", "MiB (highest)",
            "MiB (list page)", 1, "MiB above the list page", "≤ list page + 64 MiB", 64),
        Row("manyfiles-pace", "many small files, pace", "the last {block} files against the first {block}",
            "ms (last block)", "ms (first block)", 2, "× first block", "≤ 1.5 × first block", 1.5),
        Row("manyfiles-cpu", "many small files, CPU per block", "as above, CPU time of all the updater's threads",
            "ms (last block)", "ms (first block)", 2, "× first block",
            "none: the pace without the other work's noise"),
    ]),
    Table("bench", ("startup", "biglist"), [
        Row("startup", "start-up", "exec to welcome page mapped (Xvfb)", "ms", "ms (minimal Qt window)", 2,
            "× minimal", "≤ 1.3 × minimal", 1.3),
        Row("biglist", "big list", "check of a {list} manifest until Next is enabled", "ms", "ms (curl fetch)", 1,
            "ms beyond two fetches", "< 1000 ms beyond the fetches", 1000),
    ]),
    Table("bench:durable", ("durable",), [
        Row("durable-large", "verified large file", "one {big} file with its digest, in place and flushed", "ms",
            "ms (curl -o)", 2, "× curl", "≤ 0.9 × curl", 0.9),
        Row("durable-plain-large", "large file, no digest", "the same file from a manifest without digests", "ms",
            "ms (curl -o)", 2, "× curl", "none: comparison"),
        Row("durable-careful-large", "careful peer, large", "curl to a temporary name, fdatasync, rename, folder flush",
            "ms", "ms (curl -o)", 2, "× curl", "none: reference"),
        Row("durable-current", "current large file", "{big} installed and current: read and hashed, no request", "ms",
            "ms (sha256sum)", 2, "× sha256sum", "≤ 1.1 × sha256sum", 1.1),
        Row("durable-many", "verified many files", "{many} new files of 4 KiB with their digests", "ms",
            "ms (one curl, {many} URLs)", 2, "× curl", "≤ 1.0 × curl", 1.0),
        Row("durable-plain-many", "many files, no digests", "the same from a manifest without digests", "ms",
            "ms (one curl, {many} URLs)", 2, "× curl", "none: comparison"),
        Row("durable-careful-many", "careful peer, many",
            "curl to temporary names, fdatasync each, rename each, folder flush", "ms", "ms (one curl, {many} URLs)", 2,
            "× curl", "none: reference"),
        Row("durable-replace", "verified replacing",
            "the same {many} files replacing installed copies of other contents",
            "ms", "ms (the same curl, replacing)", 2, "× curl", "≤ 1.0 × curl", 1.0),
        Row("durable-plain-replace", "replacing, no digests", "as above, from a manifest without digests", "ms",
            "ms (the same curl, replacing)", 2, "× curl", "none: comparison"),
        Row("durable-memory", "memory", "peak while downloading the verified {big} file", "MiB", "MiB (welcome page)",
            1, "MiB above welcome", "≤ welcome + 16 MiB in every run", 16, True),
    ]),
    Table("bench:window", ("window",), [
        Row("window-large", "window, verified large file",
            "one {big} file with its digest: Next press to the file in place",
            "ms", "ms (curl -o, whole process)", 2, "× curl", "≤ 0.9 × curl", 0.9),
        Row("window-many", "window, verified many files", "{many} new files of 4 KiB: Next press to the last in place",
            "ms", "ms (one curl, {many} URLs)", 2, "× curl", "≤ 1.0 × curl", 1.0),
        Row("window-replace", "window, verified replacing", "the same {many} files replacing installed copies", "ms",
            "ms (the same curl, replacing)", 2, "× curl", "≤ 1.0 × curl", 1.0),
        Row("window-memory", "window, memory", "peak of the real program in all the runs above", "MiB",
            "MiB (welcome page)", 1, "MiB above welcome", "≤ welcome + 16 MiB in every run", 16, True),
    ]),
    Table("bench:arrival", ("arrival",), [
        Row("arrival-large-files", "window, new large files",
            "{large_count} new files of {large_mib} MiB, no installed copies: Next press to the last in place, "
            "every file arrived in the one run", "ms", CURL8, 2, "× curl", "≤ 1.2 × curl with 8 connections", 1.2),
        Row("arrival-limited", "window, host limiting connections",
            "{limited_count} new files of {limited_mib} MiB from a host that allows 2 connections and answers 503 to "
            "the rest (nginx limit_conn 2, limit_conn_status 503, limit_rate {limited_rate}): every file arrived in "
            "the one run", "ms", "ms (curl --parallel-max 2, whole process)", 2, "× curl", "none: comparison"),
        Row("arrival-limited-503", "host limiting connections, 503 answers",
            "answers of 503 in nginx's log in the same runs", "answers", "answers", 0, "answers of 503",
            "none: comparison"),
        Row("arrival-limited-files", "host limiting connections, files in place",
            "files in place with the published bytes when the run ended", "files", "files (listed)", 0,
            "files missing", "none missing in every run", 0, True),
        Row("arrival-memory", "window, memory", "peak of the real program in all the runs above", "MiB",
            "MiB (welcome page)", 1, "MiB above welcome", "≤ welcome + 16 MiB in every run", 16, True),
    ]),
    Table("bench:latency", ("latency",), [
        Row("latency-http", "latency, verified many files",
            "{latency} files of 4 KiB with their digests, {rtt} ms round trip: Next press to the last in place", "ms",
            CURL8, 2, "× curl", "≤ 1.1 × curl with 8 connections", 1.1),
        Row("latency-serial", "latency, one by one",
            "the same runs against curl fetching the {latency} URLs one after another over one connection", "ms",
            "ms (curl one by one)", 2, "× curl", "none: reference"),
        Row("latency-round-trips", "latency, round trips", "the updater's time above counted in round trips", "ms",
            "ms (round trip)", 1, "round trips", "none: comparison"),
        Row("latency-connections", "latency, connections",
            "connections the relay accepted in a run, the check's included",
            "connections", "connections (curl --parallel-max 8)", 0, "connections", "none: comparison"),
        Row("latency-tls", "latency, HTTPS and HTTP/2", "the same {latency} files from nginx over TLS, speaking HTTP/2",
            "ms", "ms (curl --parallel-max 8, multiplexed)", 2, "× curl", "none: comparison"),
        Row("latency-tls-span", "latency, HTTP/2 after the first answer",
            "in nginx's log, from the first file answer sent to the last, in the updater's HTTPS runs", "ms",
            "ms (the same span for curl)", 0, "ms", "≤ 500 ms (10 round trips)", 500),
        Row("latency-tls-connections", "latency, HTTPS connections",
            "connections the relay accepted in an HTTPS run, the check's included", "connections",
            "connections (curl, multiplexed)", 0, "connections", "none: comparison"),
        Row("latency-memory", "latency, memory", "peak of the real program in all the runs above", "MiB",
            "MiB (welcome page)", 1, "MiB above welcome", "≤ welcome + 16 MiB in every run", 16, True),
    ]),
    Table("bench:update", ("update",), [
        Row("update-bytes", "changed update, bytes",
            "{program_mib} MiB program with 1 % changed, {data_files} data files with 10 changed: tarnwick-publish",
            "MB",
            "MB (the same update fetched whole)", 2, "% of whole", "≤ 3 % of whole", 3),
        Row("update-time", "changed update, time", "as above, at 12.5 MB/s", "ms", "ms (the same update fetched whole)",
            3, "× whole", "≤ 0.1 × whole", 0.1),
        Row("update-curl", "whole update, curl",
            "the update fetched whole: updater against one curl with the 1,001 URLs",
            "ms", "ms (curl)", 2, "× curl", "none: comparison"),
        Row("update-unchanged", "nothing changed, time",
            "{big} file and {data_files} data files installed and current", "ms",
            "ms (sha256sum of the same files)", 2, "× sha256sum", "≤ 1.1 × sha256sum", 1.1),
        Row("update-unchanged-requests", "nothing changed, requests", "file requests in the same runs", "requests",
            "requests", 0, "requests", "none in every run", 0, True),
        Row("update-broken", "broken transfer", "{big} file cut at 90 % by a relay, continued with a range request",
            "ms",
            "GiB (the file)", 3, "GiB passed the relay", "≤ 1.15 GiB", 1.15),
    ]),
    Table("bench:publish", ("publish",), [
        Row("publish-patches", "publish with patches",
            "{pub_files} files of 16 KiB, {pub_changed} changed, for two earlier versions: {pub_patches} patches, "
            "signed", "ms", "ms (sha256sum and zstd -9 --patch-from by hand)", 2, "× by hand", "≤ 1.0 × by hand", 1.0),
        Row("publish-seconds", "publish with patches, in all", "the same", "ms", "ms (the limit)", 2, "s", "≤ 10 s",
            10),
        Row("publish-bytes", "patch bytes", "the {pub_patches} patches above", "bytes",
            "bytes (zstd -9 --patch-from)", 3, "× zstd's", "≤ 1.0 × zstd's", 1.0),
        Row("publish-plain", "publish without patches",
            "{pub_plain} files of 16 KiB for one earlier version without its files, signed", "ms",
            "ms (sha256sum of the files)", 2, "× sha256sum", "≤ 1.2 × sha256sum", 1.2),
        Row("publish-large", "publish a large file patched",
            "a release whose {publish_big} file changed in 1 % of its 4 KiB blocks, patched against its earlier "
            "version (--shipped), signed", "ms", "ms (zstd -9 --patch-from, the same pair)", 2, "× zstd",
            "none: comparison"),
        Row("publish-large-memory", "publish a large file, memory", "peak resident memory in the same runs", "MiB",
            "MiB (zstd -9 --patch-from)", 2, "× zstd", "none: comparison"),
        Row("publish-large-bytes", "publish a large file, patch bytes", "the patch made in the same runs", "bytes",
            "bytes (zstd -9 --patch-from)", 3, "× zstd's", "none: comparison"),
    ]),
]


# --- figures ------------------------------------------------------------------------------------

def median(values):
    v = sorted(values)
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2


def spread(values, digits):
    return f"{median(values):.{digits}f} ({min(values):.{digits}f}–{max(values):.{digits}f})"


def verdict(row, samples, judge):
    if row.limit is None:
        return "comparison only"
    if not judge:
        return "not judged (smoke)"
    figures = [s[2] for s in samples]
    figure = max(figures) if row.every else median(figures)
    return "met" if figure <= row.limit else "not met"


def render_row(row, samples, words, judge):
    fill = lambda text: text.format(**words)
    u, c, f = ([s[i] for s in samples] for i in range(3))
    return (f"| {row.name} | {fill(row.work)} | {spread(u, 1)} {fill(row.updater_unit)} | {spread(c, 1)} "
            f"{fill(row.reference_unit)} | {spread(f, row.digits)} {row.figure_unit} | {row.target} | "
            f"{verdict(row, samples, judge)} |")


HEADER = ("| benchmark | work | updater: median (min–max) | reference: median (min–max) | figure: median (min–max) "
          "| target | result |\n|---|---|---|---|---|---|---|")


def render_table(table, result):
    m = result["machine"]
    tree = f"commit {result['commit']}" + (" with uncommitted changes" if result["dirty"] else "")
    lines = [f"Measured {result['measured']} at {tree} on {m['cpus']} CPUs ({m['cpu']}), {m['memory_mib']} MiB memory, "
             f"{m['kernel']}; load average {result['load_before']} before and {result['load_after']} after the runs. "
             f"{result['note']}", "", HEADER]
    samples = result["samples"]
    lines += [render_row(r, samples[r.key], result["words"],
    result["judged"]) for r in table.rows if samples.get(r.key)]
    for extra in result.get("after", []):
        lines += ["", extra]
    return "\n".join(lines)


def write_block(doc_text, block, table_text):
    begin, end = f"<!-- {block}:begin -->", f"<!-- {block}:end -->"
    if begin not in doc_text:
        doc_text += f"\n{begin}\n{end}\n"
    head, rest = doc_text.split(begin, 1)
    _, tail = rest.split(end, 1)
    return f"{head}{begin}\n{table_text}\n{end}{tail}"


def render(results, doc_path):
    text = open(doc_path).read() if os.path.exists(doc_path) else "# Performance\n"
    for table in TABLES:
        result = results.get(table.block)
        if result:
            text = write_block(text, result.get("block", table.block), render_table(table, result))
    with open(doc_path + ".tmp", "w") as out:
        out.write(text)
    os.replace(doc_path + ".tmp", doc_path)


def stored_results(folder):
    results = {}
    if os.path.isdir(folder):
        for name in sorted(os.listdir(folder)):
            if name.endswith(".json"):
                with open(os.path.join(folder, name)) as f:
                    result = json.load(f)
                results[result["table"]] = result
    return results


# --- processes and servers ----------------------------------------------------------------------

def say(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def load():
    return " ".join(open("/proc/loadavg").read().split()[:3])


def run(argv, cwd=None, env=None, out=subprocess.DEVNULL):
    """Runs a program and fails the bench with its error output when it fails."""
    p = subprocess.run(argv, cwd=cwd, env=env, stdout=out, stderr=subprocess.PIPE, text=out is not None)
    if p.returncode != 0:
        raise SystemExit(f"bench: {' '.join(map(str, argv))} failed ({p.returncode}):\n{p.stderr}")
    return p.stdout if out == subprocess.PIPE else None


def values(text):
    """The key=value lines the bench's programs print; lines with spaces are records of their own (block=...)."""
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line and " " not in line)


def timed(action):
    start = time.perf_counter()
    action()
    return (time.perf_counter() - start) * 1000


def child_usage(argv, cwd=None):
    """Wall time (ms) and peak resident memory (MiB) of one child process."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    ms = (time.perf_counter() - start) * 1000
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"bench: {' '.join(argv)} failed:\n{child.stderr.read().decode()}")
    return ms, usage.ru_maxrss / 1024


def same(a, b):
    if not filecmp.cmp(a, b, shallow=False):
        raise SystemExit(f"bench: {a} differs from the published file {b}")


def random_file(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = min(left, 16 * MIB)
            f.write(os.urandom(chunk))
            left -= chunk


def split_random(folder, prefix, count, size, digits):
    os.makedirs(folder, exist_ok=True)
    names = []
    for i in range(count):
        name = f"{prefix}{i:0{digits}d}.dat"
        with open(os.path.join(folder, name), "wb") as f:
            f.write(os.urandom(size))
        names.append(name)
    return names


def rewrite_blocks(path, fraction_blocks, pick):
    """Rewrites the given share of a file's 4 KiB blocks at scattered places, as a release changes a program."""
    count = os.path.getsize(path) // 4096
    with open(path, "r+b") as f:
        for block in pick.sample(range(count), max(1, int(count * fraction_blocks))):
            f.seek(block * 4096)
            f.write(os.urandom(4096))


def wait_for_file(path, what, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return
        time.sleep(0.05)
    raise SystemExit(f"bench: {what} did not start")


def free_port_server(start, attempts=30):
    """Tries random loopback ports until the start function succeeds on one."""
    for _ in range(attempts):
        port = random.randint(20000, 59999)
        if start(port):
            return port
    raise SystemExit("bench: no free loopback port for a server")


NGINX_HTTP = """user {user};
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/logs/error.log warn;
events {{ worker_connections 256; }}
http {{
  access_log off;
  log_format bytes '$request_uri $status $body_bytes_sent $bytes_sent $msec';
  log_format protocol '$server_protocol $request_uri $status $msec';
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  keepalive_timeout 120s;
  default_type application/octet-stream;
  client_body_temp_path {dir}/body;
  proxy_temp_path {dir}/proxy;
  fastcgi_temp_path {dir}/fastcgi;
  uwsgi_temp_path {dir}/uwsgi;
  scgi_temp_path {dir}/scgi;
  limit_conn_zone $binary_remote_addr zone=address:1m;
{server}
}}
"""


@contextlib.contextmanager
def nginx(folder, server):
    """nginx on a free loopback port; server(port) gives the server block."""
    os.makedirs(os.path.join(folder, "logs"), exist_ok=True)
    user = subprocess.run(["id", "-un"], stdout=subprocess.PIPE, text=True).stdout.strip()
    conf = os.path.join(folder, "nginx.conf")

    def start(port):
        with open(conf, "w") as f:
            f.write(NGINX_HTTP.format(user=user, dir=folder, server=server(port)))
        return subprocess.run(["nginx", "-p", folder, "-c", conf, "-e", f"{folder}/logs/error.log"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0

    port = free_port_server(start)
    pid = int(open(os.path.join(folder, "nginx.pid")).read())
    try:
        yield port
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGTERM)


@contextlib.contextmanager
def xvfb(work):
    read, write = os.pipe()
    # -noreset: the server would otherwise reset, refusing connections, whenever a program leaves.
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-noreset", "-screen", "0",
                               "1280x1024x24"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                              stderr=open(os.path.join(work, "xvfb.log"), "w"))
    os.close(write)
    with os.fdopen(read) as f:
        display = f.readline().strip()
    if not display:
        raise SystemExit("bench: Xvfb did not start")
    runtime = os.path.join(work, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, DISPLAY=f":{display}", QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime)
    try:
        yield env
    finally:
        server.terminate()
        server.wait()


@contextlib.contextmanager
def relay(work, name, site_ports, *options):
    ports_file = os.path.join(work, f"{name}.ports")
    with contextlib.suppress(FileNotFoundError):
        os.remove(ports_file)
    process = subprocess.Popen([sys.executable, os.path.join(HERE, "relay", "relay.py"), "--ports", ports_file,
                                *map(str, options), *map(str, site_ports)])
    wait_for_file(ports_file, f"the relay {name}")
    try:
        yield [int(p) for p in open(ports_file).read().split()]
    finally:
        process.send_signal(signal.SIGTERM)
        process.wait()


class Log:
    """An nginx access log read from a mark on, so a run sees only its own requests."""

    def __init__(self, path):
        self.path = path

    def mark(self):
        return sum(1 for _ in open(self.path)) if os.path.exists(self.path) else 0

    def since(self, mark):
        if not os.path.exists(self.path):
            return []
        return [line.split() for line in open(self.path).read().splitlines()[mark:]]


# --- the bench ----------------------------------------------------------------------------------

class Bench:
    def __init__(self, runs, smoke, only):
        self.runs = runs
        self.smoke = smoke
        self.only = only
        env = os.environ
        self.slow_runs = int(env.get("BENCH_SLOW_RUNS", runs))
        self.tick_ms = int(env.get("BENCH_TICK_MS", 1))
        self.line_rate = env.get("BENCH_LINE_RATE", "12500k")
        self.one_way_ms = int(env.get("BENCH_ONE_WAY_MS", 25))
        # nginx lets the first second's worth of an answer go at once, so only a slow line keeps the limited
        # host's connections busy long enough for its limit to answer 503.
        self.limited_rate = env.get("BENCH_LIMITED_RATE", "1m")
        if smoke:
            self.big = 4 * MIB
            self.many_count, self.many_block = 40, 20
            self.many = 20
            self.latency = 10
            self.program = 1 * MIB
            self.data_files = 20
            self.publish_files, self.publish_plain = 20, 40
            self.publish_big = 8 * MIB
            self.large_count, self.large_size = 3, 1 * MIB
            self.limited_count, self.limited_size = 4, 256 * KIB
        else:
            self.big = int(env.get("BENCH_BIG_MIB", 1024)) * MIB
            self.many_count = int(env.get("BENCH_MANY_FILES", 10000))
            self.many_block = int(env.get("BENCH_MANY_BLOCK", 2000))
            self.many = 2000
            self.latency = 200
            self.program = 100 * MIB
            self.data_files = 1000
            self.publish_files, self.publish_plain = 2000, 10000
            self.publish_big = GIB
            self.large_count, self.large_size = 10, 5 * MIB
            self.limited_count, self.limited_size = 12, 2 * MIB
        if self.many_block <= 0 or self.many_count < self.many_block:
            raise SystemExit("bench: BENCH_MANY_FILES must hold at least one block")
        self.results = {}

    def wanted(self, name):
        return not self.only or name in self.only

    def both(self, i, first, second):
        """The two measurements of a row in alternating order, so neither always meets the other's write-back."""
        if i % 2:
            first(), second()
        else:
            second(), first()

    def record(self, key, updater, reference, figure=None):
        sample = [round(updater, 3), round(reference, 3), round(updater / reference if figure is None else figure, 4)]
        self.samples.setdefault(key, []).append(sample)
        say(f"  {key}: {sample[0]} {sample[1]} {sample[2]}")

    def fresh(self, name, version, i, copies=()):
        """A new application folder. Folders of small files are kept until the bench ends: on this machine's
        journal-less ext4, creating files soon after deleting thousands is slow."""
        folder = os.path.join(self.work, f"{name}-{i}")
        os.makedirs(folder)
        with open(os.path.join(folder, "Preferences.ini"), "w", newline="") as f:
            f.write(f"[Settings]\r\nVersion={version}\r\n")
        for source in copies:
            if os.path.isdir(source):
                for n in os.listdir(source):
                    shutil.copy(os.path.join(source, n), folder)
            else:
                shutil.copy(source, folder)
        os.sync()
        return folder

    def updater_folder(self, name, version, i, copies=()):
        return self.fresh(name, version, i, (*copies, self.program_path))

    def done_with_big(self, folder, version="1.0"):
        same(os.path.join(folder, "big.bin"), self.site_file(version, "big.bin"))
        os.remove(os.path.join(folder, "big.bin"))
        os.sync()

    def site_file(self, version, name):
        return os.path.join(self.site, "updater", version, name)

    # --- sites ---

    def publish(self, version, folder, earlier, shipped=None):
        run([self.publisher, "--site", os.path.join(self.site, "updater"), "--release", version, folder, "--shipped",
             earlier + (f"={shipped}" if shipped else ""), "-s", self.key, "-q"])

    def release(self, name):
        folder = os.path.join(self.work, "release", name)
        os.makedirs(folder)
        return folder

    def manifest(self, folder, version, names):
        with open(os.path.join(folder, "check.update"), "w", newline="") as f:
            f.write(f"<newupdater>0.2</newupdater>\r\n<ver>{version}</ver>\r\n<file>{'<br>'.join(names)}</file>")

    def plain_copy(self, source, target, published):
        """The same files without digests or patches, as hard links: the digest-free comparison rows."""
        src, dst = self.site_file(source, ""), self.site_file(target, "")
        os.makedirs(dst)
        names = sorted(n for n in os.listdir(src) if not n.startswith("check.update") and not n.endswith(".zst-patch"))
        for n in names:
            os.link(os.path.join(src, n), os.path.join(dst, n))
        self.manifest(dst, published, names)

    def curl_config(self, name, base, version, names, output=lambda n: n):
        path = os.path.join(self.work, f"{name}.curl")
        with open(path, "w") as f:
            for n in names:
                f.write(f'url = "{base}{version}/{n}"\noutput = "{output(n)}"\n')
        return path

    def size_list(self, name, names, size):
        path = os.path.join(self.work, f"{name}.list")
        with open(path, "w") as f:
            f.writelines(f"{size} {n}\n" for n in names)
        return path

    def make_sites(self):
        say("generating the update sites")
        run(["minisign", "-G", "-W", "-p", os.path.join(self.work, "key.pub"), "-s", self.key])
        for v in ("0.3", "3.0"):
            os.makedirs(self.site_file(v, ""))
        self.manifest(self.site_file("0.3", ""), "0.3", ["readme.txt"])
        self.manifest(self.site_file("3.0", ""), "3.1", [f"data/file{i:05d}.dat" for i in range(1, 10001)])
        if self.wanted("durable") or self.wanted("window") or self.wanted("update"):
            # 1.0: one large file with its digest; 1.2: the same without; 8.0: the same again, listed for an
            # installation that has it (current) or fetched through the breaking relay.
            big = self.release("big")
            random_file(os.path.join(big, "big.bin"), self.big)
            self.publish("1.1", big, "1.0")
            self.plain_copy("1.0", "1.2", "1.3")
            self.publish("8.1", big, "8.0")
        if self.wanted("durable") or self.wanted("window"):
            many = self.release("many")
            self.many_files = split_random(many, "f", self.many, 4096, 4)
            self.publish("2.1", many, "2.0")
            self.plain_copy("2.0", "2.2", "2.3")
            self.many_curl = self.curl_config("many", self.base, "2.0", self.many_files)
            self.many_list = self.size_list("many", self.many_files, 4096)
            # The installed copies the "replacing" rows overwrite: other bytes, same names.
            self.old = os.path.join(self.work, "durable-old")
            split_random(self.old, "f", self.many, 4096, 4)
        if self.wanted("arrival"):
            # 10.0: large new files on plain nginx; 11.0: files from the host that limits connections.
            large = self.release("large")
            self.large_files = split_random(large, "g", self.large_count, self.large_size, 2)
            self.publish("10.1", large, "10.0")
            self.large_curl = self.curl_config("large", self.base, "10.0", self.large_files)
            self.large_list = self.size_list("large", self.large_files, self.large_size)
            limited = self.release("limited")
            self.limited_files = split_random(limited, "h", self.limited_count, self.limited_size, 2)
            self.publish("11.1", limited, "11.0")
            self.limited_curl = self.curl_config("limited", self.base, "11.0", self.limited_files)
            self.limited_list = self.size_list("limited", self.limited_files, self.limited_size)
        if self.wanted("latency"):
            latency = self.release("latency")
            self.latency_files = split_random(latency, "l", self.latency, 4096, 3)
            self.publish("9.1", latency, "9.0")
            self.latency_curl = self.curl_config("latency", self.delayed_site, "9.0", self.latency_files)
            self.latency_tls_curl = self.curl_config("latency-tls", self.delayed_tls_site, "9.0", self.latency_files)
            self.latency_list = self.size_list("latency", self.latency_files, 4096)
        if self.wanted("update"):
            self.make_update_sites()
        if self.wanted("manyfiles"):
            self.many_digits = max(5, len(str(self.many_count)))
            small = self.release("small")
            split_random(small, "s", self.many_count, 1024, self.many_digits)
            self.publish("4.1", small, "4.0")
        if self.wanted("publish"):
            self.make_publish_releases()

    def make_update_sites(self):
        """An update as releases make them: the installed version (shipped/) has a program of random bytes and data
        files of 16 KiB; the new one rewrites 1 % of the program's 4 KiB blocks at scattered places and one block in
        10 data files. 5.0 publishes it with digests and patches, 6.0 the same files without either (fetched
        whole), 7.0 lists files already installed (the large file and the new data files)."""
        self.shipped = os.path.join(self.work, "shipped")
        changed = self.release("changed")
        os.makedirs(self.shipped)
        random_file(os.path.join(self.shipped, "program.bin"), self.program)
        split_random(self.shipped, "d", self.data_files, 16384, 4)
        for n in os.listdir(self.shipped):
            shutil.copy(os.path.join(self.shipped, n), changed)
        pick = random.Random(20261207)
        rewrite_blocks(os.path.join(changed, "program.bin"), 0.01, pick)
        for index in pick.sample(range(self.data_files), 10):
            with open(os.path.join(changed, f"d{index:04d}.dat"), "r+b") as f:
                f.seek(pick.randrange(4) * 4096)
                f.write(os.urandom(4096))
        self.update_names = sorted(os.listdir(changed))
        say("  making the patches")
        self.publish("5.1", changed, "5.0", self.shipped)
        self.plain_copy("5.0", "6.0", "6.1")
        self.update_curl = self.curl_config("update", self.base, "6.0", self.update_names)
        current = self.release("current")
        os.link(os.path.join(self.work, "release", "big", "big.bin"), os.path.join(current, "big.bin"))
        for n in self.update_names:
            if n.startswith("d"):
                os.link(os.path.join(changed, n), os.path.join(current, n))
        self.publish("7.1", current, "7.0")

    def make_publish_releases(self):
        """A release of small files for two earlier versions that shipped the same files, half changed since (one
        1 KiB block each); many small files for an earlier version without its files; and a large file changed in
        1 % of its blocks, against its earlier version."""
        self.pub_shipped = [os.path.join(self.work, "pub-shipped", v) for v in ("1", "2")]
        split_random(self.pub_shipped[0], "p", self.publish_files, 16384, 4)
        shutil.copytree(self.pub_shipped[0], self.pub_shipped[1])
        self.pub_release = self.release("publish")
        names = sorted(os.listdir(self.pub_shipped[0]))
        for n in names:
            shutil.copy(os.path.join(self.pub_shipped[0], n), self.pub_release)
        self.pub_changed = names[: len(names) // 2]
        for n in self.pub_changed:
            with open(os.path.join(self.pub_release, n), "r+b") as f:
                f.seek(random.randrange(16) * 1024)
                f.write(os.urandom(1024))
        self.pub_plain = self.release("publish-plain")
        split_random(self.pub_plain, "q", self.publish_plain, 16384, 5)
        if self.slow_runs:
            self.pub_big_old = os.path.join(self.work, "pub-big-old")
            os.makedirs(self.pub_big_old)
            random_file(os.path.join(self.pub_big_old, "big.bin"), self.publish_big)
            self.pub_big_new = self.release("publish-big")
            shutil.copy(os.path.join(self.pub_big_old, "big.bin"), self.pub_big_new)
            rewrite_blocks(os.path.join(self.pub_big_new, "big.bin"), 0.01, random.Random(20261208))

    # --- programs ---

    def driver(self, mode, folder, site=None, *more):
        return values(run([self.driver_path, mode, site or self.base, folder, str(self.tick_ms), *map(str, more)],
                          out=subprocess.PIPE))

    def whole_process(self, folder, *argv):
        """The reference of the window rows: a program's whole run in the folder, in ms."""
        return float(values(run([self.arrival, "process", folder, "300000", *argv], out=subprocess.PIPE))["exit_ms"])

    def in_window(self, folder, size_list, memory_key, prefix=(), program=None):
        """The real program on Xvfb, Next pressed through XTEST, timed to the last file in place (ms)."""
        program = program or os.path.join(folder, "tarnwick-updater")
        out = values(run([*prefix, self.arrival, "window", folder, size_list, "300000", program], env=self.display,
                         out=subprocess.PIPE))
        welcome, peak = int(out["welcome_kib"]) / 1024, int(out["peak_kib"]) / 1024
        self.record(memory_key, peak, welcome, peak - welcome)
        return float(out["arrived_ms"])

    # --- benchmarks, one function each ---

    def bench_manyfiles(self):
        """Goes first: on a file system that skips recently freed inodes (ext4 without a journal does, for about a
        minute), creating files soon after other benchmarks deleted theirs would slow its first blocks."""
        say(f"manyfiles: {self.many_count} files of 1 KiB, blocks of {self.many_block} ({self.runs} runs)")
        name = lambda i: f"s{i:0{self.many_digits}d}.dat"
        blocks = []
        for i in range(1, self.runs + 1):
            folder = self.fresh("manyfiles", "4.0", i)
            text = run([self.driver_path, "manyfiles", self.base, folder, str(self.tick_ms), str(self.many_block)],
                       out=subprocess.PIPE)
            for n in (name(0), name(self.many_count - 1)):
                same(os.path.join(folder, n), self.site_file("4.0", n))
            top = values(text)
            listed = int(top["list_rss_kib"])
            rows = [dict(kv.split("=") for kv in line.split())
                    for line in text.splitlines() if line.startswith("block=")]
            ms = [float(r["block_ms"]) for r in rows]
            cpu = [float(r["cpu_ms"]) for r in rows]
            peak = max([int(r["rss_kib"]) for r in rows] + [int(top["end_rss_kib"])])
            for n, r in enumerate(rows, 1):
                blocks.append([n, float(r["block_ms"]), float(r["cpu_ms"]), int(r["rss_kib"]) / 1024,
                               (int(r["rss_kib"]) - listed) / 1024])
            self.record("manyfiles-memory", peak / 1024, listed / 1024, (peak - listed) / 1024)
            self.record("manyfiles-pace", ms[-1], ms[0])
            self.record("manyfiles-cpu", cpu[-1], cpu[0])
        self.table_rows = [self.block_table(blocks)]
        self.table_note = f"{self.runs} run{'s' if self.runs > 1 else ''}; digests listed."

    def block_table(self, blocks):
        lines = ["| files done | block time: median (min–max) | files/s (median) | CPU time: median (min–max) | "
                 "resident: median (min–max) | above the list page: median |", "|---|---|---|---|---|---|"]
        for n in sorted({b[0] for b in blocks}):
            these = [b for b in blocks if b[0] == n]
            col = lambda c: [b[c] for b in these]
            lines.append(f"| {n * self.many_block:,} | {spread(col(1), 0)} ms | "
                         f"{self.many_block * 1000 / median(col(1)):.0f} | {spread(col(2), 0)} ms | "
                         f"{spread(col(3), 1)} MiB | {median(col(4)):.1f} MiB |")
        return "\n".join(lines)

    def bench_biglist(self):
        say(f"big list ({self.runs} runs)")
        for i in range(1, self.runs + 1):
            folder = self.fresh("biglist", "3.0", i)
            fetch_s = float(run(["curl", "-sSf", "-o", "/dev/null", "-w", "%{time_total}",
            f"{self.base}3.0/check.update"],
                                out=subprocess.PIPE))
            out = self.driver("check", folder)
            if out["items"] != "10000":
                raise SystemExit("bench: the list does not hold 10,000 entries")
            # The check fetches the manifest twice (step 1 and the file list) and waits two ticks.
            u = float(out["check_ms"])
            self.record("biglist", u, fetch_s * 1000, u - 2 * fetch_s * 1000 - 2 * self.tick_ms)

    def bench_startup(self):
        runs = self.runs * 3
        say(f"start-up ({runs} runs)")
        folder = self.fresh("startup", "0.3", 0, (self.program_path,))

        def watch(title, program):
            out = values(run([self.mapwatch, title, "20000", program], env=self.display, out=subprocess.PIPE))
            return float(out["mapped_ms"])

        updater = os.path.join(folder, "tarnwick-updater")
        watch("Minimal Window", self.minimal), watch("Tarnwick Updater", updater)  # warm the caches both share
        for _ in range(runs):
            c = watch("Minimal Window", self.minimal)
            self.record("startup", watch("Tarnwick Updater", updater), c)

    def bench_durable(self):
        """Verified downloads in the bench driver (the real window offscreen, in-process) against curl; the same
        without digests; and the careful peer: curl writing to a temporary name, then fdatasync, rename and a flush
        of the folder, the way a program that keeps a replaced file whole across a power loss must work."""
        say(f"durable downloads ({self.runs} runs)")
        big_url = f"{self.base}1.0/big.bin"
        careful_config = self.curl_config("many-careful", self.base, "2.0", self.many_files, lambda n: f".{n}.part")
        r = {}

        def updater(folder):
            r["out"] = self.driver("download", folder)
            return float(r["out"]["download_ms"])

        def careful_large(folder):
            part = os.path.join(folder, ".big.bin.part")
            run(["curl", "-sSf", "-o", part, big_url])
            run(["sync", "-d", part])
            os.rename(part, os.path.join(folder, "big.bin"))
            run(["sync", folder])

        def careful_many(folder):
            run(["curl", "-sSf", "--config", careful_config], cwd=folder)
            parts = [f".{n}.part" for n in self.many_files]
            run(["sync", "-d", *parts], cwd=folder)
            for n in self.many_files:
                os.rename(os.path.join(folder, f".{n}.part"), os.path.join(folder, n))
            run(["sync", folder])

        curl_many = lambda folder: run(["curl", "-sSf", "--config", self.many_curl], cwd=folder)
        with open(self.site_file("1.0", "big.bin"), "rb") as f:  # the current-copy rows read it from the page cache
            while f.read(16 * MIB):
                pass
        last, first = self.many_files[-1], self.many_files[0]
        for i in range(1, self.runs + 1):
            def curl_large():
                d = self.fresh("curl-large", "1.0", i)
                r["c"] = timed(lambda: run(["curl", "-sSf", "-o", os.path.join(d, "big.bin"), big_url]))
                self.done_with_big(d)

            def updater_large():
                d = self.fresh("large", "1.0", i)
                r["u"] = updater(d)
                self.done_with_big(d)

            self.both(i, curl_large, updater_large)
            self.record("durable-large", r["u"], r["c"])
            welcome, peak = int(r["out"]["welcome_kib"]) / 1024, int(r["out"]["peak_kib"]) / 1024
            self.record("durable-memory", peak, welcome, peak - welcome)
            d = self.fresh("plain-large", "1.2", i)
            u = updater(d)
            self.done_with_big(d, "1.2")
            self.record("durable-plain-large", u, r["c"])
            d = self.fresh("careful-large", "1.0", i)
            u = timed(lambda: careful_large(d))
            self.done_with_big(d)
            self.record("durable-careful-large", u, r["c"])

            # The installed copy already is the published file: the updater only reads and hashes it.
            d = self.fresh("current", "8.0", i)
            os.link(self.site_file("1.0", "big.bin"), os.path.join(d, "big.bin"))

            def current_updater():
                mark = self.log.mark()
                r["u"] = updater(d)
                r["requests"] = sum(1 for line in self.log.since(mark) if not line[0].endswith("/check.update"))

            self.both(i, lambda: r.update(c=timed(lambda: run(["sha256sum", os.path.join(d, "big.bin")]))),
                      current_updater)
            if r["requests"]:
                raise SystemExit(f"bench: the current copy was fetched ({r['requests']} requests)")
            self.record("durable-current", r["u"], r["c"])

            def many_curl(name, copies=()):
                d = self.fresh(name, "2.0", i, copies)
                r["c"] = timed(lambda: curl_many(d))

            def many_updater(name, check, copies=()):
                d = self.fresh(name, "2.0", i, copies)
                r["u"] = updater(d)
                same(os.path.join(d, check), self.site_file("2.0", check))

            self.both(i, lambda: many_curl("curl-many"), lambda: many_updater("many", last))
            self.record("durable-many", r["u"], r["c"])
            self.record("durable-plain-many", updater(self.fresh("plain-many", "2.2", i)), r["c"])
            d = self.fresh("careful-many", "2.0", i)
            self.record("durable-careful-many", timed(lambda: careful_many(d)), r["c"])

            self.both(i, lambda: many_curl("curl-replace", (self.old,)),
                      lambda: many_updater("replace", first, (self.old,)))
            self.record("durable-replace", r["u"], r["c"])
            self.record("durable-plain-replace", updater(self.fresh("plain-replace", "2.2", i, (self.old,))), r["c"])
        self.table_note = f"{self.runs} runs each; updater and reference in alternating order."

    def bench_window(self):
        """The real program as the user meets it, from a fresh folder on Xvfb, against curl's whole process on the
        same site and disk."""
        say(f"window downloads ({self.runs} runs)")
        big_list = self.size_list("big", ["big.bin"], self.big)
        r = {}
        for i in range(1, self.runs + 1):
            def curl_large():
                d = self.fresh("window-curl-large", "1.0", i)
                r["c"] = self.whole_process(d, self.curl, "-sSf", "-o", "big.bin", f"{self.base}1.0/big.bin")
                self.done_with_big(d)

            def updater_large():
                d = self.updater_folder("window-large", "1.0", i)
                r["u"] = self.in_window(d, big_list, "window-memory")
                self.done_with_big(d)

            self.both(i, curl_large, updater_large)
            self.record("window-large", r["u"], r["c"])
            for key, copies, check in (("many", (), self.many_files[-1]), ("replace", (self.old,), self.many_files[0])):
                def curl_many():
                    d = self.fresh(f"window-curl-{key}", "2.0", i, copies)
                    r["c"] = self.whole_process(d, self.curl, "-sSf", "--config", self.many_curl)

                def updater_many():
                    d = self.updater_folder(f"window-{key}", "2.0", i, copies)
                    r["u"] = self.in_window(d, self.many_list, "window-memory")
                    same(os.path.join(d, check), self.site_file("2.0", check))

                self.both(i, curl_many, updater_many)
                self.record(f"window-{key}", r["u"], r["c"])
        self.table_note = f"{self.runs} runs each; updater and reference in alternating order."

    def bench_arrival(self):
        """Releases and hosts under which updates once failed: large new files that every connection is busy with
        ahead of their turn, and a host that answers 503 beyond 2 connections. A file that failed would never have
        its full size under its own name, so arriving within the run means every file was Done."""
        say(f"arrival: large new files and a host limiting connections ({self.runs} runs)")
        eight = ["-sSf", "--no-progress-meter", "--parallel", "--parallel-max", "8"]
        two = ["-sSf", "--no-progress-meter", "--parallel", "--parallel-max", "2"]
        r = {}
        for i in range(1, self.runs + 1):
            def curl_large():
                d = self.fresh("arrival-curl-large", "10.0", i)
                r["c"] = self.whole_process(d, self.curl, *eight, "--config", self.large_curl)

            def updater_large():
                d = self.updater_folder("arrival-large", "10.0", i)
                r["u"] = self.in_window(d, self.large_list, "arrival-memory")
                for n in self.large_files:
                    same(os.path.join(d, n), self.site_file("10.0", n))

            self.both(i, curl_large, updater_large)
            self.record("arrival-large-files", r["u"], r["c"])

            def curl_limited():
                d = self.fresh("arrival-curl-limited", "11.0", i)
                mark = self.log.mark()
                r["c"] = self.whole_process(d, self.curl, *two, "--config", self.limited_curl)
                r["c503"] = sum(1 for line in self.log.since(mark) if line[1] == "503")

            def updater_limited():
                d = self.updater_folder("arrival-limited", "11.0", i)
                mark = self.log.mark()
                r["u"] = self.in_window(d, self.limited_list, "arrival-memory")
                r["u503"] = sum(1 for line in self.log.since(mark) if line[1] == "503")
                r["in_place"] = sum(filecmp.cmp(os.path.join(d, n), self.site_file("11.0", n), shallow=False)
                                    for n in self.limited_files)

            self.both(i, curl_limited, updater_limited)
            self.record("arrival-limited", r["u"], r["c"])
            self.record("arrival-limited-503", r["u503"], r["c503"], r["u503"])
            self.record("arrival-limited-files", r["in_place"], self.limited_count, self.limited_count - r["in_place"])
        self.table_note = (f"{self.runs} runs each; updater and reference in alternating order; the limited host's "
                           f"answers held to {self.limited_rate} bytes a second each.")

    def bench_latency(self):
        """The real window with every chunk held by the relay, against curl's whole process through the same relay:
        eight connections at once, and one connection with one file after another; then the same over HTTPS, where
        nginx speaks HTTP/2 and curl multiplexes its eight transfers over one connection."""
        say(f"latency: {self.latency} files of 4 KiB, {self.one_way_ms} ms each way ({self.runs} runs)")
        rtt = 2 * self.one_way_ms
        opened = Log(self.opened)
        eight = ["-sSf", "--no-progress-meter", "--parallel", "--parallel-max", "8"]
        # The program's HTTPS runs see the test authority among the system's, in a mount namespace of their own.
        trusting = ["unshare", "-m", "sh", "-c", 'mount --bind "$1" /etc/ssl/certs && shift && exec "$@"', "trusting",
                    os.path.join(self.ca, "trusted")]
        protocols = set()
        r = {}

        def span(mark):
            times = [float(line[3]) for line in self.tls_log.since(mark) if "/updater/9.0/l" in line[1]]
            return (max(times) - min(times)) * 1000

        def delayed_window(name, program, prefix=()):
            d = self.fresh(name, "9.0", i)
            shutil.copy(program, os.path.join(d, "tarnwick-updater"))
            os.sync()
            ms = self.in_window(d, self.latency_list, "latency-memory", prefix)
            for n in self.latency_files:
                same(os.path.join(d, n), self.site_file("9.0", n))
            return ms

        for i in range(1, self.runs + 1):
            def curl_http():
                d = self.fresh("latency-curl", "9.0", i)
                m = opened.mark()
                r["c"] = self.whole_process(d, self.curl, *eight, "--config", self.latency_curl)
                r["cn"] = len(opened.since(m))

            def updater_http():
                m = opened.mark()
                r["u"] = delayed_window("latency", self.delayed_program)
                r["un"] = len(opened.since(m))

            self.both(i, curl_http, updater_http)
            d = self.fresh("latency-curl-serial", "9.0", i)
            s = self.whole_process(d, self.curl, "-sSf", "--config", self.latency_curl)
            self.record("latency-http", r["u"], r["c"])
            self.record("latency-serial", r["u"], s)
            self.record("latency-round-trips", r["u"], rtt, r["u"] / rtt)
            self.record("latency-connections", r["un"], r["cn"], r["un"])

            def curl_tls():
                d = self.fresh("latency-curl-tls", "9.0", i)
                m, t = opened.mark(), self.tls_log.mark()
                r["c"] = self.whole_process(d, self.curl, *eight, "--cacert", os.path.join(self.ca, "ca.pem"),
                                            "--config", self.latency_tls_curl)
                r["cn"], r["cspan"] = len(opened.since(m)), span(t)

            def updater_tls():
                m, t = opened.mark(), self.tls_log.mark()
                r["u"] = delayed_window("latency-tls", self.delayed_tls_program, trusting)
                r["un"], r["uspan"] = len(opened.since(m)), span(t)
                protocols.update(line[0] for line in self.tls_log.since(t) if "/updater/9.0/l" in line[1])

            self.both(i, curl_tls, updater_tls)
            self.record("latency-tls", r["u"], r["c"])
            self.record("latency-tls-span", r["uspan"], r["cspan"], r["uspan"])
            self.record("latency-tls-connections", r["un"], r["cn"], r["un"])
        self.table_note = (f"{self.runs} runs each; updater and reference in alternating order; every chunk held "
                           f"{self.one_way_ms} ms each way ({rtt} ms round trip) by `bench/relay/relay.py --delay-ms`.")
        self.table_rows = [f"The updater's file requests over HTTPS arrived as {' and '.join(sorted(protocols))} in "
                           f"nginx's log."]

    def bench_update(self):
        """Updates that cost only what changed. Bytes are the answers' bytes as nginx sent them ($bytes_sent: headers
        included), for every request of the run, manifests included."""
        say(f"updates ({self.runs} runs; {self.slow_runs} of the changed update and of the broken transfer)")
        bytes_of = lambda mark: sum(int(line[3]) for line in self.log.since(mark))
        installed_old = lambda name, version, i: self.fresh(name, version, i, (self.shipped,))
        r = {}
        for i in range(1, self.runs + 1):
            if i <= self.slow_runs:
                d = installed_old("patched", "5.0", i)
                mark = self.log.mark()
                u = float(self.driver("download", d)["download_ms"])
                ub = bytes_of(mark)
                for n in self.update_names:
                    same(os.path.join(d, n), self.site_file("5.0", n))
                d = installed_old("whole", "6.0", i)
                mark = self.log.mark()
                c = float(self.driver("download", d)["download_ms"])
                cb = bytes_of(mark)
                same(os.path.join(d, "program.bin"), self.site_file("5.0", "program.bin"))
                d = installed_old("curl-whole", "6.0", i)
                cc = timed(lambda: run(["curl", "-sSf", "--config", self.update_curl], cwd=d))
                self.record("update-bytes", ub / 1e6, cb / 1e6, 100 * ub / cb)
                self.record("update-time", u, c)
                self.record("update-curl", c, cc)

            # Nothing changed: the large file and the data files are installed and current.
            d = self.fresh("unchanged", "7.0", i)
            names = sorted(n for n in os.listdir(self.site_file("7.0", "")) if n == "big.bin" or n.endswith(".dat"))
            for n in names:
                os.link(self.site_file("7.0", n), os.path.join(d, n))

            def unchanged_updater():
                mark = self.log.mark()
                r["u"] = float(self.driver("download", d)["download_ms"])
                r["requests"] = sum(1 for line in self.log.since(mark) if not line[0].endswith("/check.update"))

            self.both(i, lambda: r.update(c=timed(lambda: run(["sha256sum", *names], cwd=d))), unchanged_updater)
            self.record("update-unchanged", r["u"], r["c"])
            self.record("update-unchanged-requests", r["requests"], 0, r["requests"])

            if i <= self.slow_runs:
                # A transfer broken at 90 % of the large file by the relay, and continued.
                d = self.fresh("broken", "8.0", i)
                report = os.path.join(self.work, "relay.report")
                with relay(self.work, "broken", [self.port], "--break-after", self.big * 9 // 10 + 1024,
                           "--report", report) as (relay_port,):
                    ms = float(self.driver("download", d, f"http://127.0.0.1:{relay_port}/updater/")["download_ms"])
                passed = values(open(report).read().replace(" ", "\n"))
                if passed["broken"] != "1":
                    raise SystemExit("bench: the relay broke no transfer")
                self.done_with_big(d, "8.0")
                self.record("update-broken", ms, self.big / GIB, int(passed["bytes"]) / GIB)
        self.table_note = (f"{self.runs} runs ({self.slow_runs} of the changed update and of the broken transfer); the "
                           f"update's site limited to {self.line_rate} bytes a second.")

    def bench_publish(self):
        """tarnwick-publish against the same work done by hand with the tools a publisher has: one sha256sum over the
        release's and the shipped files, and zstd -9 --patch-from for each changed file of each earlier version (a
        process each: --patch-from takes one reference). Each run publishes into a fresh site."""
        say(f"publishing ({self.runs} runs; {self.slow_runs} of the large file)")
        r = {}

        def by_hand(folder):
            os.makedirs(folder)
            files = [os.path.join(f, n) for f in (self.pub_release, *self.pub_shipped) for n in sorted(os.listdir(f))]
            with open(os.path.join(folder, "sums"), "w") as out:
                subprocess.run(["sha256sum", *files], stdout=out, check=True)
            for v, shipped in enumerate(self.pub_shipped, 1):
                for n in self.pub_changed:
                    run(["zstd", "-q", "-9", f"--patch-from={os.path.join(shipped, n)}",
                    os.path.join(self.pub_release, n),
                         "-o", os.path.join(folder, f"{v}-{n}.zst-patch")])

        def patch_bytes(folder):
            return sum(os.path.getsize(os.path.join(root, n)) for root, _, names in os.walk(folder)
                       for n in names if n.endswith(".zst-patch"))

        for i in range(1, self.runs + 1):
            site = os.path.join(self.work, f"pub-site-{i}", "updater")
            hand = os.path.join(self.work, f"by-hand-{i}")
            self.both(i, lambda: r.update(c=timed(lambda: by_hand(hand))),
                      lambda: r.update(u=timed(lambda: run([
                          self.publisher, "--site", site, "--release", "0.3", self.pub_release, "-s", self.key, "-q",
                          "--shipped", f"0.1={self.pub_shipped[0]}", "--shipped", f"0.2={self.pub_shipped[1]}"]))))
            for v in ("0.1", "0.2"):
                patches = sum(1 for n in os.listdir(os.path.join(site, v)) if n.endswith(".zst-patch"))
                if patches != len(self.pub_changed):
                    raise SystemExit(f"bench: {v} has {patches} patches instead of {len(self.pub_changed)}")
            self.record("publish-patches", r["u"], r["c"])
            self.record("publish-seconds", r["u"], 10000, r["u"] / 1000)
            self.record("publish-bytes", patch_bytes(site), patch_bytes(hand))
            plain = os.path.join(self.work, f"pub-plain-{i}", "updater")
            files = [os.path.join(self.pub_plain, n) for n in sorted(os.listdir(self.pub_plain))]
            self.both(i, lambda: r.update(c=timed(lambda: run(["sha256sum", *files]))),
                      lambda: r.update(u=timed(lambda: run([self.publisher, "--site", plain, "--release", "0.3",
                                                            self.pub_plain, "--shipped", "0.2", "-s", self.key,
                                                            "-q"]))))
            self.record("publish-plain", r["u"], r["c"])

            if i <= self.slow_runs:
                big_site = os.path.join(self.work, f"pub-big-site-{i}", "updater")
                patch = os.path.join(self.work, f"pub-big-{i}.zst-patch")
                old, new = os.path.join(self.pub_big_old, "big.bin"), os.path.join(self.pub_big_new, "big.bin")

                def publisher():
                    r["u"], r["um"] = child_usage([self.publisher, "--site", big_site, "--release", "2.0",
                                                   self.pub_big_new, "--shipped", f"1.0={self.pub_big_old}", "-s",
                                                   self.key, "-q"])

                def zstd():
                    r["c"], r["cm"] = child_usage(["zstd", "-q", "-9", f"--patch-from={old}", new, "-o", patch])

                self.both(i, zstd, publisher)
                self.record("publish-large", r["u"], r["c"])
                self.record("publish-large-memory", r["um"], r["cm"])
                self.record("publish-large-bytes", patch_bytes(os.path.join(big_site, "1.0")), os.path.getsize(patch))
                shutil.rmtree(os.path.dirname(big_site))
                os.remove(patch)
        self.table_note = (f"{self.runs} runs each; program and reference in alternating order, each run into a "
                           "fresh site.")

    # --- the whole run ---

    def words(self):
        return {"big": f"{self.big // GIB} GiB" if self.big >= GIB else f"{self.big // MIB} MiB",
                "many": f"{self.many:,}", "latency": f"{self.latency:,}", "rtt": 2 * self.one_way_ms,
                "count": f"{self.many_count:,}", "block": f"{self.many_block:,}", "list": "10,000-file",
                "data_files": f"{self.data_files:,}", "pub_files": f"{self.publish_files:,}",
                "pub_changed": f"{self.publish_files // 2:,}",
                "pub_patches": f"{self.publish_files:,}", "pub_plain": f"{self.publish_plain:,}",
                "program_mib": self.program // MIB, "line_rate": self.line_rate, "limited_rate": self.limited_rate,
                "publish_big": f"{self.publish_big // GIB} GiB" if self.publish_big >= GIB else
                f"{self.publish_big // MIB} MiB",
                "large_count": self.large_count, "large_mib": self.large_size / MIB,
                "limited_count": self.limited_count, "limited_mib": self.limited_size / MIB}

    def machine(self):
        cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "")
        memory = next(int(l.split()[1]) for l in open("/proc/meminfo") if l.startswith("MemTotal"))
        u = os.uname()
        return {"cpus": os.cpu_count(), "cpu": cpu, "memory_mib": memory // 1024, "kernel": f"{u.sysname} {u.release}"}

    def measure(self, table, results):
        names = [n for n in table.benchmarks if self.wanted(n)]
        if not names:
            return
        self.samples, self.table_rows, notes = {}, [], []
        before = load()
        for name in names:
            self.table_note = ""
            getattr(self, f"bench_{name}")()
            notes.append(self.table_note)
        if table.block == "bench":
            notes = [f"{self.runs} runs each ({self.runs * 3} for start-up); check tick shortened to "
                     f"{self.tick_ms} ms."]
        git = lambda *a: subprocess.run(["git", "-C", ROOT, *a], stdout=subprocess.PIPE, text=True)
        block = f"bench:manyfiles-{self.many_count}" if table.block == "bench:manyfiles" else table.block
        results[table.block] = {
            "table": table.block, "block": block, "judged": not self.smoke,
            "measured": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "commit": git("rev-parse", "--short", "HEAD").stdout.strip() or "unknown",
            "dirty": git("diff", "--quiet", "HEAD", "--", "src", "bench", "CMakeLists.txt").returncode != 0,
            "machine": self.machine(), "load_before": before, "load_after": load(), "runs": self.runs,
            "note": " ".join(n for n in notes if n), "words": self.words(), "samples": self.samples,
            "after": self.table_rows}

    def build(self, build_dir):
        say(f"building Release in {build_dir}")
        log = open(os.path.join(self.work, "cmake.log"), "w")
        for argv in (["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DTARNWICK_BUILD_TESTS=OFF",
                      "-DTARNWICK_BUILD_BENCH=ON", f"-DTARNWICK_UPDATE_SITE={self.base}",
                      f"-DTARNWICK_BENCH_DELAYED_SITE={self.delayed_site}",
                      f"-DTARNWICK_BENCH_DELAYED_TLS_SITE={self.delayed_tls_site}"],
                     # Two jobs at most: the machine is shared.
                     ["cmake", "--build", build_dir, "-j2"]):
            if subprocess.run(argv, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
                raise SystemExit(f"bench: the build failed; see {log.name}")
        tool = lambda *p: os.path.join(build_dir, *p)
        self.driver_path, self.minimal = tool("bench", "tarnwick-bench-driver"), tool("bench", "tarnwick-bench-minimal")
        self.mapwatch, self.arrival = tool("bench", "tarnwick-bench-mapwatch"), tool("bench", "tarnwick-bench-arrival")
        self.program_path, self.publisher = tool("src", "tarnwick-updater"), tool("src", "tarnwick-publish")
        self.delayed_program = tool("bench", "tarnwick-bench-updater-delayed")
        self.delayed_tls_program = tool("bench", "tarnwick-bench-updater-delayed-tls")

    def make_authority(self):
        """A test authority made for this run; only the program's runs see it trusted, through /etc/ssl/certs replaced
        in a mount namespace of their own, so nothing changes on the machine."""
        ca = self.ca = os.path.join(self.work, "ca")
        trusted = os.path.join(ca, "trusted")
        os.makedirs(trusted)
        key = lambda name, cn, *more: run(["openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                           "-nodes", "-keyout", f"{ca}/{name}.key", "-subj", f"/CN={cn}", *more])
        key("ca", "Tarnwick bench authority", "-x509", "-days", "2", "-out", f"{ca}/ca.pem")
        key("site", "127.0.0.1", "-out", f"{ca}/site.csr")
        with open(f"{ca}/ext", "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\n")
        run(["openssl", "x509", "-req", "-in", f"{ca}/site.csr", "-CA", f"{ca}/ca.pem", "-CAkey", f"{ca}/ca.key",
             "-days", "2", "-out", f"{ca}/site.pem", "-extfile", f"{ca}/ext"])
        run(["cp", "-a", "/etc/ssl/certs/.", trusted])
        # A new bundle in place of the copy: the copy may be a link into the system's.
        bundle = os.path.join(trusted, "ca-certificates.crt")
        text = open("/etc/ssl/certs/ca-certificates.crt").read() + open(f"{ca}/ca.pem").read()
        os.remove(bundle)
        with open(bundle, "w") as f:
            f.write(text)
        shutil.copy(f"{ca}/ca.pem", os.path.join(trusted, "tarnwick-bench-authority.pem"))
        run(["openssl", "rehash", trusted])

    def main(self, build_dir, results_dir, doc_path):
        with contextlib.ExitStack() as stack:
            self.work = tempfile.mkdtemp(prefix="tarnwick-bench.", dir=os.environ.get("TMPDIR", "/tmp"))
            os.chmod(self.work, 0o755)
            if os.environ.get("BENCH_KEEP") == "1":
                stack.callback(say, f"kept {self.work}")
            else:
                stack.callback(shutil.rmtree, self.work, True)
            self.site = os.path.join(self.work, "site")
            self.key = os.path.join(self.work, "key.sec")
            os.makedirs(os.path.join(self.site, "updater"))
            access = os.path.join(self.work, "nginx", "logs", "access.log")
            self.log = Log(access)
            # 5.x and 6.x come over a line of about 100 Mbit/s; 11.x is a host that limits connections.
            self.port = stack.enter_context(nginx(os.path.join(self.work, "nginx"), lambda port: f"""
  server {{
    listen 127.0.0.1:{port};
    root {self.site};
    location ~ ^/updater/[56]\\.[0-9]/ {{ access_log {access} bytes; limit_rate {self.line_rate}; }}
    location ~ ^/updater/(7|8|10)\\.[0-9]/ {{ access_log {access} bytes; }}
    location ~ ^/updater/11\\.[0-9]/ {{
      access_log {access} bytes;
      limit_rate {self.limited_rate};
      limit_conn address 2;
      limit_conn_status 503;
    }}
  }}"""))
            self.base = f"http://127.0.0.1:{self.port}/updater/"
            say(f"nginx on 127.0.0.1:{self.port}")
            self.delayed_site = self.delayed_tls_site = ""
            if self.wanted("latency"):
                # The relay's ports are compiled into the copies of the program the latency rows run, so the relay
                # starts before the build and stays until the bench ends.
                self.make_authority()
                tls_access = os.path.join(self.work, "nginx-tls", "logs", "access.log")
                self.tls_log = Log(tls_access)
                tls_port = stack.enter_context(nginx(os.path.join(self.work, "nginx-tls"), lambda port: f"""
  http2_max_requests 1000000;
  server {{
    listen 127.0.0.1:{port} ssl http2;
    access_log {tls_access} protocol;
    ssl_certificate {self.ca}/site.pem;
    ssl_certificate_key {self.ca}/site.key;
    root {self.site};
  }}"""))
                self.opened = os.path.join(self.work, "delay.opened")
                plain, tls = stack.enter_context(relay(self.work, "delay", [self.port, tls_port], "--delay-ms",
                                                       self.one_way_ms, "--opened", self.opened))
                self.delayed_site = f"http://127.0.0.1:{plain}/updater/"
                self.delayed_tls_site = f"https://127.0.0.1:{tls}/updater/"
                say(f"nginx over TLS on 127.0.0.1:{tls_port}; {self.one_way_ms} ms each way through "
                    f"{self.delayed_site} and {self.delayed_tls_site}")
            self.build(build_dir)
            self.curl = shutil.which("curl")
            self.make_sites()
            wait_quiet()
            if any(self.wanted(n) for n in ("startup", "window", "arrival", "latency")):
                self.display = stack.enter_context(xvfb(self.work))
            results = {}
            for table in TABLES:
                self.measure(table, results)
            os.makedirs(results_dir, exist_ok=True)
            for name, result in results.items():
                with open(os.path.join(results_dir, name.replace(":", "-") + ".json"), "w") as f:
                    json.dump(result, f, indent=1)
                    f.write("\n")
            if doc_path:
                render(stored_results(results_dir), doc_path)
                say(f"tables written to {doc_path}")
            for table in TABLES:
                if table.block in results:
                    print(render_table(table, results[table.block]) + "\n")


def wait_quiet():
    minutes = os.environ.get("BENCH_WAIT_QUIET")
    if not minutes:
        return
    say(f"waiting for a quiet machine (1-minute load below 0.6 for a minute, at most {minutes} minutes)")
    quiet = 0
    for _ in range(int(minutes) * 2):
        quiet = quiet + 1 if float(load().split()[0]) < 0.6 else 0
        if quiet >= 3:
            say(f"  quiet: load {load()}")
            return
        time.sleep(30)
    say(f"  never quiet; running anyway at load {load()}")


def main(argv):
    # The site is on loopback, which no proxy should see; curl would otherwise go through one.
    for name in ("http_proxy", "https_proxy", "no_proxy", "all_proxy"):
        os.environ.pop(name, None)
        os.environ.pop(name.upper(), None)
    os.environ["PATH"] += ":/usr/sbin"
    if argv[1:] == ["--render"]:
        render(stored_results(RESULTS), DOC)
        return
    smoke = argv[1:] == ["--smoke"]
    for tool in ("cmake", "nginx", "curl", "Xvfb", "sha256sum", "zstd", "minisign", "openssl", "unshare"):
        if not shutil.which(tool):
            raise SystemExit(f"bench: {tool} is missing (scripts/ensure-packages.sh installs it)")
    only = os.environ.get("BENCH_ONLY", "").split()
    runs = 1 if smoke else int(argv[1]) if len(argv) > 1 else 5
    bench = Bench(runs, smoke, only)
    if smoke:
        # The smoke run checks that every benchmark still runs; its figures go nowhere near the docs.
        build_dir = os.environ.get("BENCH_BUILD_DIR", os.path.join(ROOT, "build", "bench-smoke"))
        with tempfile.TemporaryDirectory(prefix="tarnwick-bench-smoke.") as out:
            shutil.copy(DOC, os.path.join(out, "PERFORMANCE.md"))
            bench.main(build_dir, out, os.path.join(out, "PERFORMANCE.md"))
        say("smoke run passed")
    else:
        bench.main(os.environ.get("BENCH_BUILD_DIR", os.path.join(ROOT, "build", "bench-release")), RESULTS, DOC)


if __name__ == "__main__":
    main(sys.argv)
