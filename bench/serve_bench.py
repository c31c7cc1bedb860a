#!/usr/bin/env python3
"""The cost of idcard serve around the library: requests per second and median / p99 latency of
GET /api/v1/card for 1, 4 and 16 clients against the simulated reader, each client on a keep-alive
connection of its own (as a page's fetch() is). Also one client opening a connection per request.
A benchmark, not a test: it prints figures and fails only when the service does not answer.

    bench/serve_bench.py --program build/bench/tools/idcard [--seconds 3] [--edition sdt]
"""
import argparse
import http.client
import os
import statistics
import subprocess
import sys
import threading
import time


def start(command):
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
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
    args = ap.parse_args()
    proc, port = start([args.program, "serve", "--listen", "127.0.0.1:0", "--quiet",
                        "--edition", args.edition])
    ok = True
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
            print(f"  {what:40s} {rate:8.0f} requests/s   median {statistics.median(latencies):6.2f} ms"
                  f"   p99 {q[98]:6.2f} ms" + (f"   failures {len(failures)}" if failures else ""))
            ok = ok and not failures
    finally:
        proc.terminate()
        proc.wait(timeout=60)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
