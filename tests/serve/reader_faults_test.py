#!/usr/bin/env python3
"""idcard serve over a reader process that hangs or crashes, in every edition: the answer comes
within the reader timeout plus a second with the service's own error, the next read succeeds once
the fault is gone (the profile replaced between reads: a new reader process reads it anew), the
event stream reports each fault and goes on, and the service's process stays the same throughout.
Then (natively) 100 hang and crash rounds with nothing leaking: file descriptors, memory, child
processes, reader folders; and a reader process that cannot start at all. Runs the native
program, or the Windows one under Wine with --wrapper.

    reader_faults_test.py --program build/linux/tools/idcard [--wrapper scripts/wine-run.sh]
"""
import argparse
import json
import os
import shutil
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Checks, Service, get  # noqa: E402

ID_NUMBER = "44010619880808107X"
TIMEOUT = 2  # --reader-timeout, seconds
# The entry point every edition's full read calls, and the faults put on it.
ENTRY = "ReadBaseMsg"
HANG = {"faults": {"hang": {ENTRY: 0}}}
CRASH = {"faults": {"crash": {ENTRY: True}}}
NO_FAULT = {}


def write_profile(path, profile):
    """Replaces the profile at once: a reader process starting meanwhile reads the old or the new
    one, never half of one."""
    with open(path + ".new", "w", encoding="utf-8") as f:
        json.dump(profile, f)
    os.replace(path + ".new", path)


def timed_get(port, path="/api/v1/card"):
    started = time.monotonic()
    status, headers, body = get(port, path)
    return status, headers, body, time.monotonic() - started


def error_of(body):
    try:
        return json.loads(body).get("error") or {}
    except ValueError:
        return {}


def expect_fault(c, what, port, status, kind):
    got, _, body, took = timed_get(port)
    e = error_of(body)
    c.expect(got == status and e.get("kind") == kind,
             f"{what}: {status} {kind} expected, got {got} {body[:200]!r}")
    c.expect(took <= TIMEOUT + 1, f"{what}: answered after {took:.1f} s")
    c.expect(e.get("step") == "read" and "Read" in (e.get("call") or ""),
             f"{what}: the step and call named: {e}")
    c.expect(ID_NUMBER.encode() not in body, f"{what}: card data in an error")


def faults_of_edition(c, command, edition, temp, env):
    """Hang, then crash, then no fault: three reader processes, one service."""
    profile = os.path.join(temp, f"{edition}.json")
    write_profile(profile, HANG)
    service = Service(command, ["--edition", edition, "--card", profile,
                                "--reader-timeout", str(TIMEOUT)], env=env)
    try:
        expect_fault(c, f"{edition} hang", service.port, 504, "reader_timeout")
        write_profile(profile, CRASH)
        expect_fault(c, f"{edition} crash", service.port, 502, "reader_crashed")
        write_profile(profile, NO_FAULT)
        status, _, body, _ = timed_get(service.port)
        c.expect(status == 200 and ID_NUMBER.encode() in body,
                 f"{edition}: the read after the faults: {status} {body[:200]!r}")
        c.expect(service.proc.poll() is None, f"{edition}: the service ended")
    finally:
        service.stop()


def label(block):
    """An event's type; an error event's with its kind: "error:reader_timeout"."""
    kind, data = "", b""
    for line in block.split(b"\n"):
        if line.startswith(b"event: "):
            kind = line[7:].decode()
        if line.startswith(b"data: "):
            data = line[6:]
    if kind == "error":
        kind += ":" + str(error_of(data).get("kind"))
    return kind


class EventReader:
    """The labels of an event stream's events, window by window; an event cut by a window's end
    is read whole in the next one."""

    def __init__(self, sock):
        self.sock = sock
        self.text = b""

    def read(self, until, stop_at=None):
        """The labels of the events that arrive before `until` (time.monotonic()); with `stop_at`,
        up to the first event of that label, if it comes sooner."""
        labels = []
        while time.monotonic() < until:
            while b"\n\n" in self.text:
                block, self.text = self.text.split(b"\n\n", 1)
                if label(block):
                    labels.append(label(block))
                    if labels[-1] == stop_at:
                        return labels
            self.sock.settimeout(max(0.05, until - time.monotonic()))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                break
            self.text += chunk
        return labels


def events_go_on(c, command, temp, env):
    """The event stream over a hanging, then crashing reader: an error event for each, then the
    card once the fault is gone."""
    profile = os.path.join(temp, "events.json")
    write_profile(profile, HANG)
    service = Service(command, ["--card", profile, "--reader-timeout", str(TIMEOUT)], env=env)
    try:
        s = socket.create_connection(("127.0.0.1", service.port), timeout=20)
        s.sendall(f"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:{service.port}\r\n\r\n".encode())
        # Each fault's window ends with its error event: what the checks look at comes no sooner
        # for waiting out the rest. The last window is waited out whole, for events after the card.
        events = EventReader(s)
        seen = events.read(time.monotonic() + TIMEOUT + 2, stop_at="error:reader_timeout")
        write_profile(profile, CRASH)
        seen += events.read(time.monotonic() + TIMEOUT + 2, stop_at="error:reader_crashed")
        write_profile(profile, NO_FAULT)
        seen += events.read(time.monotonic() + TIMEOUT + 3)
        s.close()
        c.expect(seen[:1] == ["error:reader_timeout"] and "error:reader_crashed" in seen
                 and seen[-1] == "card" and seen.count("card") == 1,
                 f"events over a hanging, then crashing reader: {seen}")
        c.expect(service.proc.poll() is None, "events: the service ended")
    finally:
        service.stop()


# ---- Natively: what a long run of faults leaves ---------------------------------------------------

def fd_count(pid):
    """The service's open descriptors once it is quiet: right after an answer it may still be
    closing the connection or the ended reader process's pipes, so the least of a few looks over
    a second counts. A leak grows with every round and shows all the same."""
    least = len(os.listdir(f"/proc/{pid}/fd"))
    for _ in range(20):
        time.sleep(0.05)
        least = min(least, len(os.listdir(f"/proc/{pid}/fd")))
    return least


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def children(pid):
    """The service's child processes, zombies included."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append((int(entry), fields[0]))
    return found


def folders_in(*places):
    return [os.path.join(p, n) for p in places for n in os.listdir(p)
            if os.path.isdir(os.path.join(p, n))]


def leak_rounds(c, command, temp, env, rounds=100):
    """Every tenth round a hang, the others a crash; each is followed by a new reader process."""
    profile = os.path.join(temp, "leaks.json")
    write_profile(profile, CRASH)
    service = Service(command, ["--card", profile, "--reader-timeout", str(TIMEOUT), "--quiet"],
                      env=env)
    pid = service.proc.pid
    try:
        before = after = None
        for i in range(rounds):
            hang = i % 10 == 4
            write_profile(profile, HANG if hang else CRASH)
            status, _, body, _ = timed_get(service.port)
            c.expect(status == (504 if hang else 502), f"leaks: round {i}: {status} {body[:200]!r}")
            if hang:
                # A hang after a crash: the call started a new reader process, and its timeout
                # is still the whole --reader-timeout.
                message = error_of(body).get("message", "")
                c.expect(f"within {TIMEOUT * 1000} ms" in message, f"leaks: round {i}: {message!r}")
            # Both after a crash, when no reader process runs: once the service's buffers and the
            # allocator warmed up, and after the last round.
            if i == 9:
                before = (fd_count(pid), rss_kib(pid))
            if i == rounds - 1:
                after = (fd_count(pid), rss_kib(pid))
        write_profile(profile, NO_FAULT)
        status, _, _, _ = timed_get(service.port)
        c.expect(status == 200, f"leaks: the read after {rounds} rounds: {status}")
        c.expect(after[0] <= before[0], f"leaks: file descriptors {before[0]} -> {after[0]}")
        c.expect(after[1] - before[1] < 16 * 1024, f"leaks: VmRSS {before[1]} -> {after[1]} KiB")
        kids = children(pid)
        c.expect(len(kids) <= 1 and all(state != "Z" for _, state in kids),
                 f"leaks: child processes {kids}")
        left = folders_in(env["TMPDIR"], env["XDG_RUNTIME_DIR"])
        c.expect(len(left) <= 1, f"leaks: reader folders {left}")
        c.expect(service.proc.poll() is None and service.proc.pid == pid, "leaks: the service ended")
    finally:
        service.stop()
    c.expect(not folders_in(env["TMPDIR"], env["XDG_RUNTIME_DIR"]),
             "leaks: a reader folder outlived the service")


def no_reader(c, command, temp, env):
    """A reader process that cannot start: 503 no_reader with the reason, then at once 503 with
    Retry-After until the wait is over; once the library is back, the read succeeds."""
    library = os.path.join(temp, "libridel.so")
    build = os.path.dirname(os.path.dirname(os.path.abspath(command[-1])))
    shutil.copy2(os.path.join(build, "sdt", "libridel.so"), library)
    profile = os.path.join(temp, "noreader.json")
    write_profile(profile, CRASH)
    service = Service(command, ["--library", library, "--card", profile, "--reader-timeout",
                                str(TIMEOUT)], env=env)
    try:
        expect_fault(c, "no reader: crash", service.port, 502, "reader_crashed")
        os.rename(library, library + ".away")
        status, headers, body, _ = timed_get(service.port)
        e = error_of(body)
        c.expect(status == 503 and e.get("kind") == "no_reader" and "libridel.so" in e.get("message", ""),
                 f"no reader: {status} {body[:300]!r}")
        c.expect(headers.get("retry-after") == "1", f"no reader: Retry-After {headers.get('retry-after')}")
        status, headers, body, took = timed_get(service.port)
        c.expect(status == 503 and took < 0.5 and error_of(body).get("kind") == "no_reader",
                 f"no reader, within the wait: {status} after {took:.2f} s")
        os.rename(library + ".away", library)
        write_profile(profile, NO_FAULT)
        time.sleep(1.2)
        status, _, _, _ = timed_get(service.port)
        c.expect(status == 200, f"no reader: the read once the library is back: {status}")
    finally:
        service.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--wrapper", default="")
    ap.add_argument("--only", choices=["editions", "events", "leaks", "no-reader"],
                    help="one part alone")
    args = ap.parse_args()
    command = ([args.wrapper] if args.wrapper else []) + [args.program]
    part = lambda name: args.only in (None, name)  # noqa: E731
    c = Checks()
    with tempfile.TemporaryDirectory() as temp:
        runtime = os.path.join(temp, "runtime")
        scratch = os.path.join(temp, "tmp")
        os.mkdir(runtime, 0o700)
        os.mkdir(scratch, 0o700)
        env = dict(os.environ, TMPDIR=scratch, XDG_RUNTIME_DIR=runtime)
        if part("editions"):
            for edition in ("qdx", "sdt", "vantrel"):
                faults_of_edition(c, command, edition, temp, env)
        if part("events"):
            events_go_on(c, command, temp, env)
        if not args.wrapper and part("leaks"):
            leak_rounds(c, command, temp, env)
        if not args.wrapper and part("no-reader"):
            no_reader(c, command, temp, env)
    print(f"{c.count - len(c.failures)} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
