#!/usr/bin/env python3
"""idcard serve's life cycle and what it leaves on disk, for every edition: the edition runs from a
private folder (only its user may enter it), no result file outlives a read, the system's stop
signals end the service cleanly (streams end, exit status 0, the private folder gone), and
afterwards no file anywhere the service wrote holds the card's name, ID number or photo. Runs the
native program, or the Windows one under Wine with --wrapper (Ctrl+C there is Wine's SIGINT).

    lifecycle_test.py --program build/linux/tools/idcard [--wrapper scripts/wine-run.sh]
"""
import argparse
import base64
import json
import os
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Checks, Service, get  # noqa: E402

ID_NUMBER = "44010619880808107X"
NAME = "陈志远"
RESULT_FILES = ["wz.txt", "xp.wlt", "zp.wlt", "zp.bmp", "NEWADDR.txt", "IINSNDN.bin", "wx.txt",
                "pic.wlt", "NewAdd.txt", "NewAdd1.txt", "WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp",
                "NEWADD.txt", "IINSNDN.Bin"]


def secrets(photo):
    """The card's data as it could lie in a file: text in UTF-8, GBK and UTF-16, the bitmap's
    pixels."""
    out = [ID_NUMBER.encode(), ID_NUMBER.encode("utf-16-le")]
    out += [NAME.encode(enc) for enc in ("utf-8", "gbk", "utf-16-le")]
    if photo:
        out.append(photo[54:54 + 512])
    return out


def files_holding(folders, data, since):
    """Files written since `since` that are result files or hold any of `data`."""
    found = []
    for folder in folders:
        for root, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(root, name)
                try:
                    if os.stat(path).st_mtime < since:
                        continue
                    with open(path, "rb") as f:
                        content = f.read()
                except OSError:
                    continue
                if name in RESULT_FILES or any(d in content for d in data):
                    found.append(path)
    return found


def private_folders(folders):
    return [os.path.join(root, d) for folder in folders for root, dirs, _ in os.walk(folder)
            for d in dirs if d.startswith("idcard-")]


def open_stream(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    s.sendall(f"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
    head = s.recv(4096)
    return s, head


def stream_ended(s, seconds=20):
    """Whether the service closed the stream: everything up to the end of the connection read."""
    s.settimeout(seconds)
    try:
        while s.recv(65536):
            pass
        return True
    except OSError:
        return False


def run_edition(c, command, edition, sig, env, watched, tools):
    since = time.time() - 1
    earlier = set(private_folders(watched))  # of runs that were killed
    service = Service(command, ["--edition", edition], env=env)
    photo = b""
    try:
        if len(command) == 1:  # natively: the folder and its mode
            folders = private_folders([env["TMPDIR"]])
            c.expect(len(folders) == 1, f"{edition}: one private folder: {folders}")
            for f in folders:
                mode = stat.S_IMODE(os.stat(f).st_mode)
                c.expect(mode == 0o700, f"{edition}: private folder mode {oct(mode)}")
        for _ in range(2):
            status, _, body = get(service.port, "/api/v1/card")
            c.expect(status == 200, f"{edition}: card {status}")
        photo = base64.b64decode(json.loads(body)["photo"]["base64"])
        left = [n for n in RESULT_FILES if os.path.exists(os.path.join(tools, n))]
        c.expect(not left, f"{edition}: result files left after the reads: {left}")
        stream, head = open_stream(service.port)
        c.expect(b" 200 " in head, f"{edition}: stream {head[:40]!r}")
        time.sleep(0.5)
        service.proc.send_signal(sig)
        c.expect(stream_ended(stream), f"{edition}: the stream ends when the service stops")
        try:
            code = service.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            code = "still running"
        c.expect(code == 0, f"{edition}: exit status after {sig!r}: {code}; {service.log[-3:]}")
    finally:
        if service.proc.poll() is None:
            service.stop()
    left = set(private_folders(watched)) - earlier
    c.expect(not left, f"{edition}: private folder left: {left}")
    held = files_holding(watched + [tools], secrets(photo), since)
    c.expect(not held, f"{edition}: files hold card data after the service stopped: {held}")


def vantrel_log_check(c, command, temp, profile):
    """Empty polls of the vantrel edition each add a line to its log: the log lies in the private
    folder and stays bounded."""
    env = dict(os.environ, TMPDIR=temp)
    service = Service(command, ["--edition", "vantrel", "--card", profile, "--poll-interval", "10"],
                      env=env)
    try:
        stream, head = open_stream(service.port)
        time.sleep(3)
        stream.close()
        logs = [os.path.join(f, "idcrerror.log") for f in private_folders([temp])]
        sizes = [os.path.getsize(p) for p in logs if os.path.exists(p)]
        c.expect(len(sizes) == 1 and 0 < sizes[0] <= 1 << 20, f"vantrel log in the private folder: {sizes}")
    finally:
        service.stop()


def wine_user_folders(program):
    """Where Windows programs under Wine keep their temporary folders: the users' folders of the
    prefix scripts/wine-run.sh uses."""
    folder = os.path.dirname(os.path.abspath(program))
    while folder != "/" and not os.path.exists(os.path.join(folder, "CMakeCache.txt")):
        folder = os.path.dirname(folder)
    prefix = os.environ.get("WINEPREFIX", os.path.join(folder, "wineprefix"))
    return [os.path.join(prefix, "drive_c", "users")]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--wrapper", default="")
    ap.add_argument("--no-card-profile", required=True)
    args = ap.parse_args()
    command = ([args.wrapper] if args.wrapper else []) + [args.program]
    tools = os.path.dirname(os.path.abspath(args.program))
    c = Checks()
    for name in RESULT_FILES:  # what reads of the command line may have left
        if os.path.exists(os.path.join(tools, name)):
            os.remove(os.path.join(tools, name))
    with tempfile.TemporaryDirectory() as temp:
        env = dict(os.environ, TMPDIR=temp)
        watched = [temp] + (wine_user_folders(args.program) if args.wrapper else [])
        signals = [signal.SIGINT] if args.wrapper else [signal.SIGINT, signal.SIGTERM, signal.SIGINT]
        for edition, sig in zip(("qdx", "sdt", "vantrel"), signals * 3):
            run_edition(c, command, edition, sig, env, watched, tools)
    if not args.wrapper:
        with tempfile.TemporaryDirectory() as temp:
            vantrel_log_check(c, command, temp, args.no_card_profile)
        # Where no folder for the reader process can be made, the service refuses to start, at
        # once, saying why.
        r = subprocess.run(command + ["serve", "--simulator", "--listen", "127.0.0.1:0", "--edition", "vantrel"],
                           env=dict(os.environ, TMPDIR="/nonexistent/idcard"), capture_output=True,
                           timeout=60)
        err = r.stderr.decode("utf-8", "replace")
        c.expect(r.returncode == 2 and "no temporary folder" in err, f"no temporary folder: {r.returncode} {err!r}")
    print(f"{c.count - len(c.failures)} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
