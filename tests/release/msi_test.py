#!/usr/bin/env python3
"""The Windows installer under Wine, as a desk's administrator uses it:
  - msiexec /i ... /qn installs idcard.exe, the editions and, on request, the simulated reader
    under Program Files, registers the service with the command line `idcard service install`
    registers (its configuration idcard.conf beside the program) and starts it;
  - with the administrator's idcard.conf (another port) the service answers GET /api/v1/reader;
  - a repair brings back a deleted file and keeps the administrator's idcard.conf;
  - an upgrade to a higher version keeps idcard.conf, leaves one product registered and its
    service answering with that configuration;
  - msiexec /x ... /qn leaves no file, no service and no registry entry behind.
Wine runs services inside its wineserver and shuts them down once no other program runs: a command
prompt keeps one running (as in the service's own test). Wine's msiexec cannot repair with /f, so
the repair is the same reinstall by its properties (REINSTALL=ALL REINSTALLMODE=omus).

    msi_test.py --msi ridel-1.1.0-windows-x64.msi --upgrade ridel-1.1.1-windows-x64.msi \\
        --version 1.1.0 --upgrade-version 1.1.1 --conf <release>/tools/idcard.conf \\
        --wrapper scripts/wine-run.sh --prefix build/windows-x64/wineprefix-msi
"""
import argparse
import json
import os
import re
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "serve"))
from http_test import Checks, get  # noqa: E402
from winservice_test import Wine, free_port, listening, windows_path  # noqa: E402

SERVICE = "idcard"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE
PRODUCT_KEY = r"HKLM\Software\ridel"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
FOLDER = r"C:\Program Files\ridel"
# What the installer puts there with the simulated reader.
FILES = ["README.md", "LICENSE", "CHANGELOG.md", "tools/idcard.exe", "tools/idcard.conf",
         "qdx/ridel.dll", "sdt/ridel.dll", "vantrel/vantrel.dll", "simulator/sdtapi.dll",
         "simulator/stdapi.dll", "simulator/WltRS.dll"]


class Desk(Wine):
    def __init__(self, wrapper, prefix):
        super().__init__(wrapper, prefix)
        self.prefix = prefix
        self.folder = os.path.join(prefix, "drive_c", "Program Files", "ridel")

    def setup(self):
        if not os.path.isdir(os.path.join(self.prefix, "drive_c")):
            self.run([self.loader, "wineboot", "--init"])
            self.server("-w")

    def msiexec(self, *args):
        return self.run([self.loader, "msiexec", *args, "/qn"])

    def reg(self, *args):
        return self.run([self.loader, "reg", "query", *args])

    def value(self, key, name):
        """The data of a registry value, or None."""
        code, out = self.reg(key, "/v", name)
        match = re.search(r"^\s*%s\s+REG_\w+\s+(.*?)\s*$" % re.escape(name), out, re.M)
        return match.group(1) if code == 0 and match else None

    def products(self):
        """The installed products of ours: {product code: display version}."""
        code, out = self.reg(UNINSTALL_KEY)
        found = {}
        for key in re.findall(r"^(HKEY_LOCAL_MACHINE\\.*\{[0-9A-F-]+\})\s*$", out, re.M | re.I):
            name = self.value(key, "DisplayName") or ""
            if name.startswith("ridel "):
                found[key.rsplit("\\", 1)[1]] = self.value(key, "DisplayVersion")
        return found

    def program(self, *args):
        return super().program(os.path.join(self.folder, "tools", "idcard.exe"), *args)

    def path(self, relative):
        return os.path.join(self.folder, relative)


def reader_answers(port, seconds=60):
    """(status, document) of GET /api/v1/reader once the service listens, or (None, None)."""
    until = time.monotonic() + seconds
    while True:
        try:
            status, _, body = get(port, "/api/v1/reader")
            return status, json.loads(body or b"null")
        except (OSError, ValueError):
            if time.monotonic() > until:
                return None, None
            time.sleep(0.5)


def configure(desk, port):
    """The administrator's change: another port and the vantrel edition, read through the
    simulated reader installed with it (the test machine has no reader)."""
    path = desk.path("tools/idcard.conf")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = re.sub(r"^listen = .*$", f"listen = 127.0.0.1:{port}", text, flags=re.M)
    text = re.sub(r"^edition = .*$", "edition = vantrel", text, flags=re.M)
    text = re.sub(r"^# simulator = true$", "simulator = true", text, flags=re.M)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return text


def answers(c, what, port):
    status, doc = reader_answers(port)
    c.expect(status == 200 and isinstance(doc, dict) and doc.get("reader") == "ready"
             and doc.get("edition") == "vantrel",
             f"{what}: GET /api/v1/reader on the configured port: {status} {doc}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--msi", required=True)
    ap.add_argument("--upgrade", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--upgrade-version", required=True)
    ap.add_argument("--conf", required=True, help="the idcard.conf the installer ships")
    ap.add_argument("--wrapper", required=True)
    ap.add_argument("--prefix", required=True)
    args = ap.parse_args()
    c = Checks()
    desk = Desk(args.wrapper, os.path.abspath(args.prefix))
    msi, upgrade = windows_path(args.msi), windows_path(args.upgrade)
    with open(args.conf, encoding="utf-8") as f:
        shipped_conf = f.read()
    port = free_port()
    try:
        desk.setup()
        desk.keep()
        # What a run that was killed left behind.
        for code in desk.products():
            desk.msiexec("/x", code)

        # Install, with the simulated reader.
        code, out = desk.msiexec("/i", msi, "ADDLOCAL=Service,Simulator")
        c.expect(code == 0, f"msiexec /i: {code} {out!r}")
        missing = [f for f in FILES if not os.path.isfile(desk.path(f))]
        c.expect(not missing, f"installed files missing: {missing}")
        with open(desk.path("tools/idcard.conf"), encoding="utf-8") as f:
            c.expect(f.read() == shipped_conf, "the installed idcard.conf is the shipped one")
        exe, conf = FOLDER + r"\tools\idcard.exe", FOLDER + r"\tools\idcard.conf"
        # idcard service install's command line. Windows Installer quotes the program's path;
        # Wine's leaves it as it is, which Wine's service manager starts all the same.
        image = desk.value(SERVICE_KEY, "ImagePath")
        c.expect(image in (f'"{exe}" service run --config "{conf}"',
                           f'{exe} service run --config "{conf}"'),
                 f"the service's command line is idcard service install's: {image!r}")
        c.expect(desk.value(SERVICE_KEY, "Start") == "0x2", "the service starts with the system")
        c.expect(desk.value(PRODUCT_KEY + r"\idcard", "Version") == args.version,
                 "the installed version in the registry")
        c.expect(list(desk.products().values()) == [args.version],
                 f"one product installed: {desk.products()}")

        # The administrator configures it; the service runs with that configuration.
        edited = configure(desk, port)
        desk.program("service", "stop")
        code, out = desk.program("service", "start")
        c.expect(code == 0, f"idcard service start after the change: {code} {out!r}")
        answers(c, "installed", port)

        # A repair restores a lost edition and keeps the configuration.
        os.remove(desk.path("qdx/ridel.dll"))
        code, out = desk.msiexec("/i", msi, "REINSTALL=ALL", "REINSTALLMODE=omus")
        c.expect(code == 0, f"repair: {code} {out!r}")
        c.expect(os.path.isfile(desk.path("qdx/ridel.dll")), "the repair restores qdx/ridel.dll")
        with open(desk.path("tools/idcard.conf"), encoding="utf-8") as f:
            c.expect(f.read() == edited, "the repair keeps the administrator's idcard.conf")
        answers(c, "repaired", port)

        # An upgrade keeps the configuration and replaces the product. Wine's installer does not
        # carry the features of the installed version over (Windows does): named again here, as
        # a deployment names them for every version.
        code, out = desk.msiexec("/i", upgrade, "ADDLOCAL=Service,Simulator")
        c.expect(code == 0, f"upgrade: {code} {out!r}")
        with open(desk.path("tools/idcard.conf"), encoding="utf-8") as f:
            c.expect(f.read() == edited, "the upgrade keeps the administrator's idcard.conf")
        c.expect(list(desk.products().values()) == [args.upgrade_version],
                 f"the upgrade replaces the product: {desk.products()}")
        c.expect(desk.value(PRODUCT_KEY + r"\idcard", "Version") == args.upgrade_version,
                 "the upgraded version in the registry")
        c.expect(desk.value(SERVICE_KEY, "ImagePath") == image, "the service is still registered")
        answers(c, "upgraded", port)

        # Uninstall: nothing stays.
        code, out = desk.msiexec("/x", upgrade)
        c.expect(code == 0, f"msiexec /x: {code} {out!r}")
        left = []
        if os.path.exists(desk.folder):
            left = [os.path.relpath(os.path.join(r, f), desk.folder)
                    for r, _, files in os.walk(desk.folder) for f in files] or ["(the folder)"]
        c.expect(not left, f"files left in Program Files\\ridel: {left}")
        c.expect(desk.reg(SERVICE_KEY)[0] != 0, "the service is removed")
        c.expect(desk.reg(PRODUCT_KEY)[0] != 0, f"{PRODUCT_KEY} is removed")
        c.expect(not desk.products(), f"no product left registered: {desk.products()}")
        c.expect(not listening(port), "nothing listens on the service's port")
    finally:
        for code in desk.products():
            desk.msiexec("/x", code)
        desk.end()
    print(f"{c.count - len(c.failures)} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
