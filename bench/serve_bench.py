#!/usr/bin/env python3
"""The cost of idcard serve around the library: requests per second and median / p99 latency of
GET /api/v1/card for 1, 4 and 16 clients against the simulated reader, each client on a keep-alive
connection of its own (as a page's fetch() is). Also one client opening a connection per request.
Beside it, in the same run, the library's own card cycle (ridel_bench's cycle/<edition>, from a
copy in memory as bench/run.sh runs it), and what the service adds at the median. The service's
reader folder lies in memory (XDG_RUNTIME_DIR, as in a desktop session), the program on disk.
A benchmark, not a test: it prints figures and fails only when the service does not answer.

    bench/serve_bench.py --program build/bench/tools/idcard [--seconds 3] [--edition sdt]
"""
import argparse
import http.client
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def memory_folder():
    """A private folder in memory where there is one, else in the temporary folder."""
    return tempfile.mkdtemp(prefix="ridel-serve-bench.",
                            dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)


def library_median_us(bench, edition, folder):
    """The median wall time of the library's card cycle, in microseconds, or None."""
    if not os.path.exists(bench):
        return None
    copy = os.path.join(folder, "ridel_bench")
    shutil.copy2(bench, copy)
    r = subprocess.run([copy, f"--benchmark_filter=^cycle/{edition}/",
                        "--benchmark_enable_random_interleaving=false"],
                       capture_output=True, timeout=600)
    # The console line of the median: "cycle/sdt/.../real_time_median   2123 us   207 us   15".
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        fields = re.sub(r"\x1b\[[0-9;]*m", "", line).split()
        if len(fields) >= 3 and fields[0].endswith("_median"):
            scale = {"ns": 1e-3, "us": 1, "ms": 1e3, "s": 1e6}.get(fields[2])
            return float(fields[1]) * scale if scale else None
    return None


def start(command, env=None):
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    line = proc.stdout.readline().decode("utf-8", "replace")
    if "listening on http://127.0.0.1:" not in line:
        proc.kill()
        raise SystemExit(f"serve_bench: the service did not start: {line!r} "
                         f"{proc.stderr.read().decode('utf-8', 'replace')!r}")
    return proc, int(line.split("127.0.0.1:")[1].split("/")[0])


def one_read(conn):
    conn.request("GET", "/api/v1/card")
    resp = conn.getresponse()
    resp.read()
    if resp.status != 200:
        raise RuntimeError(f"status {resp.status}")


def run(port, clients, seconds, reconnect=False):
    """(requests per second, latencies in ms, failures) of `clients` clients for `seconds`."""
    latencies, failures, lock = [], [], threading.Lock()
    barrier = threading.Barrier(clients + 1)
    until = [0.0]

    def client():
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        mine = []
        barrier.wait()
        try:
            while time.perf_counter() < until[0]:
                t = time.perf_counter()
                if reconnect:
                    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                one_read(conn)
                if reconnect:
                    conn.close()
                mine.append((time.perf_counter() - t) * 1000)
        except (OSError, http.client.HTTPException, RuntimeError) as e:
            with lock:
                failures.append(repr(e))
        with lock:
            latencies.extend(mine)
        conn.close()

    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    started = time.perf_counter()
    until[0] = started + seconds
    barrier.wait()
    for t in threads:
        t.join()
    return len(latencies) / (time.perf_counter() - started), latencies, failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--edition", default="sdt")
    ap.add_argument("--seconds", type=float, default=3)
    ap.add_argument("--clients", default="1,4,16")
    ap.add_argument("--bench", help="ridel_bench (default: bench/ridel_bench of the program's build)")
    args = ap.parse_args()
    bench = args.bench or os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(args.program))),
                                       "bench", "ridel_bench")
    folder = memory_folder()
    library_before = library_median_us(bench, args.edition, folder)
    env = dict(os.environ, XDG_RUNTIME_DIR=os.environ.get("XDG_RUNTIME_DIR", folder))
    proc, port = start([args.program, "serve", "--simulator", "--listen", "127.0.0.1:0", "--quiet",
                        "--edition", args.edition], env)
    ok = True
    service_median = None
    try:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        for _ in range(50):  # warm up: the library's first reads, the sockets
            one_read(conn)
        conn.close()
        print(f"idcard serve, GET /api/v1/card, {args.edition} edition, simulated reader, "
              f"{args.seconds:g} s each (python {sys.version.split()[0]}, {os.cpu_count()} cores):")
        cases = [(int(n), False) for n in args.clients.split(",")] + [(1, True)]
        for clients, reconnect in cases:
            rate, latencies, failures = run(port, clients, args.seconds, reconnect)
            what = f"{clients:2d} client{'s' if clients > 1 else ' '}" + (
                ", a connection per request" if reconnect else ", keep-alive")
            if len(latencies) < 2:
                print(f"  {what}: no answers {failures[:3]}")
                ok = False
                continue
            q = statistics.quantiles(latencies, n=100)
            if clients == 1 and not reconnect:
                service_median = statistics.median(latencies)
            print(f"  {what:40s} {rate:8.0f} requests/s   median {statistics.median(latencies):6.2f} ms"
                  f"   p99 {q[98]:6.2f} ms" + (f"   failures {len(failures)}" if failures else ""))
            ok = ok and not failures
    finally:
        proc.terminate()
        proc.wait(timeout=60)
    library_after = library_median_us(bench, args.edition, folder)
    shutil.rmtree(folder, ignore_errors=True)
    libraries = [t for t in (library_before, library_after) if t is not None]
    if service_median is not None and libraries:
        library = statistics.mean(libraries) / 1000
        print(f"  the library alone (cycle/{args.edition}, median of the runs before and after): "
              f"{library:6.3f} ms")
        print(f"  the service adds per read (1 client, keep-alive, median): "
              f"{service_median - library:6.3f} ms (goal: at most 1 ms)")
    else:
        print(f"  the library alone: not measured ({bench} missing or failed)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
