#!/usr/bin/env python3
"""idcard.exe as a Windows service under Wine, driven by Wine's own service tool (sc create,
start, stop, delete) and by idcard's own `idcard service install / start / stop / uninstall`: the
service starts, answers GET /api/v1/card on loopback, stops cleanly on the service manager's stop
(its private folder gone, "stopped" in its log), and its log holds no card data. A start that
fails (the port taken) is reported with the service's exit status. Wine runs services inside its
own wineserver, so the test has a Wine prefix of its own, which it ends with wineserver -k.

    winservice_test.py --program build/windows-x64/tools/idcard.exe --wrapper scripts/wine-run.sh
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Checks, get  # noqa: E402

ID_NUMBER = "44010619880808107X"
NAME = "陈志远"
LOG = "idcard-service.log"  # beside the program, the service's default


def windows_path(path):
    """The path as Wine's programs see it: drive Z: is the root folder."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def build_folder(program):
    folder = os.path.dirname(os.path.abspath(program))
    while folder != "/" and not os.path.exists(os.path.join(folder, "CMakeCache.txt")):
        folder = os.path.dirname(folder)
    return folder


def without_randomization():
    """The command prefix that runs a program without address space randomization, as
    scripts/wine-run.sh runs Wine (Wine as packaged here has no preloader, and about one start in
    400 failed with it); none where the system refuses."""
    fixed = ["setarch", "-R"]
    try:
        works = subprocess.run(fixed + ["true"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        works = False
    return fixed if works else []


class Wine:
    def __init__(self, wrapper, prefix):
        self.wrapper = wrapper
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL="zh_CN.GBK",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.fixed = without_randomization()
        self.loader = next((p for p in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine"))
                            if p and os.path.exists(p)), "wine")

    def run(self, command):
        """(exit status, output). The output goes through a file, not a pipe: the service manager
        that the first program starts inherits it and keeps a pipe open for as long as it runs."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(self.fixed + command, env=self.env, stdout=out,
                                  stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                  timeout=180).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", "replace")

    def program(self, program, *args):
        """A Windows program through the tests' wrapper (which sets the prefix up on first use)."""
        return self.run([self.wrapper, program, *args])

    def sc(self, *args):
        return self.run([self.loader, "sc", *args])

    def server(self, flag):
        server = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
        subprocess.run([server, flag], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def keep(self):
        """Wine shuts its services down (a system shut-down to them) once no other Windows
        program runs: a command prompt waiting for input keeps one running until end()."""
        self.server("-p")
        self.keeper = subprocess.Popen(self.fixed + [self.loader, "cmd"], env=self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)

    def end(self):
        keeper = getattr(self, "keeper", None)
        if keeper:
            keeper.stdin.close()
            try:
                keeper.wait(timeout=60)
            except subprocess.TimeoutExpired:
                keeper.kill()
        self.server("-k")


def wait_for_card(port, seconds=60):
    """(status, body) of the first answer to GET /api/v1/card once the service listens."""
    until = time.monotonic() + seconds
    while True:
        try:
            status, _, body = get(port, "/api/v1/card")
            return status, body
        except OSError:
            if time.monotonic() > until:
                return None, b""
            time.sleep(0.5)


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


# Private folders of runs that were killed earlier, which the checks leave aside.
EARLIER = set()


def private_folders(prefix):
    drive = os.path.join(prefix, "drive_c")
    return sorted({os.path.join(root, d) for root, dirs, _ in os.walk(drive) for d in dirs
                   if d.startswith("idcard-")} - EARLIER)


def served_and_stopped(c, what, port, stop, prefix, log_path, log_from):
    status, body = wait_for_card(port)
    c.expect(status == 200 and ID_NUMBER.encode() in body, f"{what}: GET /api/v1/card: {status}")
    c.expect(len(private_folders(prefix)) == 1, f"{what}: one private folder while it runs: {private_folders(prefix)}")
    code, out = stop()
    c.expect(code == 0, f"{what}: stop: {code} {out!r}")
    # Wine's sc returns once it has asked; the service writes "stopped" once it has cleaned up.
    until = time.monotonic() + 60
    while True:
        log = b""
        if os.path.exists(log_path):
            with open(log_path, "rb") as f:
                log = f.read()[log_from:]
        if b"idcard serve: stopped" in log or time.monotonic() > until:
            break
        time.sleep(0.5)
    text = log.decode("utf-8", "replace")
    c.expect(not listening(port), f"{what}: no longer listening after the stop")
    c.expect(not private_folders(prefix), f"{what}: private folder left: {private_folders(prefix)} {text!r}")
    c.expect("listening on http://127.0.0.1:" in text and "GET /api/v1/card 200" in text and
             "idcard serve: stopped" in text, f"{what}: the log tells the start, the read and the clean stop: {text!r}")
    secrets = [ID_NUMBER.encode(), NAME.encode("utf-8"), NAME.encode("gbk")]
    c.expect(not any(s in log for s in secrets), f"{what}: card data in the log")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--wrapper", required=True)
    args = ap.parse_args()
    c = Checks()
    prefix = os.path.join(build_folder(args.program), "wineprefix-service")
    wine = Wine(args.wrapper, prefix)
    tools = os.path.dirname(os.path.abspath(args.program))
    log_path = os.path.join(tools, LOG)
    if os.path.exists(log_path):
        os.remove(log_path)
    try:
        code, out = wine.program(args.program, "--version")  # the prefix, made on first use
        c.expect(code == 0, f"idcard.exe --version under Wine: {code} {out!r}")
        wine.keep()
        EARLIER.update(private_folders(prefix))
        wine.sc("stop", "idcard")  # of an earlier run that was killed
        wine.sc("delete", "idcard")
        with tempfile.TemporaryDirectory() as temp:
            config = os.path.join(temp, "idcard.conf")
            port = free_port()
            with open(config, "w", encoding="utf-8") as f:
                f.write(f"# the test's service\nedition = vantrel\nsimulator = true\nlisten = 127.0.0.1:{port}\n")

            # Wine's own service tool.
            line = f"{windows_path(args.program)} service run --config {windows_path(config)}"
            code, out = wine.sc("create", "idcard", "binpath=", line)
            c.expect(code == 0, f"sc create: {code} {out!r}")
            code, out = wine.sc("start", "idcard")
            c.expect(code == 0, f"sc start: {code} {out!r}")
            served_and_stopped(c, "sc", port, lambda: wine.sc("stop", "idcard"), prefix, log_path, 0)
            code, out = wine.sc("delete", "idcard")
            c.expect(code == 0, f"sc delete: {code} {out!r}")

            # idcard's own commands; the port from the command line's configuration.
            log_from = os.path.getsize(log_path) if os.path.exists(log_path) else 0
            code, out = wine.program(args.program, "service", "install", "--config", config)
            c.expect(code == 0 and "installed" in out, f"service install: {code} {out!r}")
            code, out = wine.program(args.program, "service", "install", "--config", config)
            c.expect(code == 1 and "installed already" in out, f"installed twice: {code} {out!r}")
            code, out = wine.program(args.program, "service", "start")
            c.expect(code == 0 and "started" in out, f"service start: {code} {out!r}")
            served_and_stopped(c, "idcard service", port,
                               lambda: wine.program(args.program, "service", "stop"), prefix, log_path, log_from)

            # A start that fails: another program holds the port.
            with socket.socket() as holder:
                holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # past TIME_WAIT
                holder.bind(("127.0.0.1", port))
                holder.listen()
                code, out = wine.program(args.program, "service", "start")
                c.expect(code == 1 and "stopped at once (exit status 2)" in out,
                         f"start with the port taken: {code} {out!r}")
            code, out = wine.program(args.program, "service", "uninstall")
            c.expect(code == 0 and "uninstalled" in out, f"service uninstall: {code} {out!r}")
            code, out = wine.program(args.program, "service", "start")
            c.expect(code == 1 and "no service named idcard" in out, f"start after uninstall: {code} {out!r}")
            # A configuration refused at install, not at the service's start.
            with open(config, "a", encoding="utf-8") as f:
                f.write("edition = nope\n")
            code, out = wine.program(args.program, "service", "install", "--config", config)
            c.expect(code == 2 and "key 'edition'" in out, f"install with a bad configuration: {code} {out!r}")
    finally:
        wine.sc("stop", "idcard")
        wine.sc("delete", "idcard")
        wine.end()
        if os.path.exists(log_path):
            os.remove(log_path)
    print(f"{c.count - len(c.failures)} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
