#!/usr/bin/env python3
"""The systemd user unit and the example configuration as they are shipped: systemd-analyze
verify accepts the unit (where it can run), and the unit's own command line, with its specifiers
filled in as the user manager fills them, starts the service from the example configuration,
serves a card and stops cleanly on SIGTERM, the signal systemd stops it with. A configuration it
refuses ends it with status 2, which the unit does not retry.

    unit_test.py --program build/linux/tools/idcard --unit idcard.service --config idcard.conf
"""
import argparse
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Checks, get  # noqa: E402


def unit_values(text, key):
    return [m.group(1).strip() for m in re.finditer(rf"^{key}=(.*)$", text, re.M)]


def verify(c, unit_path, env):
    tool = shutil.which("systemd-analyze")
    if not tool:
        print("skipped: systemd-analyze is not installed here, the unit file is not verified")
        return
    r = subprocess.run([tool, "--user", "verify", unit_path], env=env, capture_output=True, timeout=120)
    out = (r.stdout + r.stderr).decode("utf-8", "replace")
    if r.returncode != 0 and re.search(r"Failed to (connect|initialize|create|lookup)", out) \
            and "idcard.service" not in out:
        print(f"skipped: systemd-analyze cannot run here: {out.strip()}")
        return
    c.expect(r.returncode == 0 and not out.strip(), f"systemd-analyze verify: {r.returncode} {out!r}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--unit", required=True)
    ap.add_argument("--config", required=True)
    args = ap.parse_args()
    c = Checks()
    unit = open(args.unit, encoding="utf-8").read()
    with tempfile.TemporaryDirectory() as home:
        config_home = os.path.join(home, ".config")
        runtime = os.path.join(home, "run")
        os.mkdir(runtime, 0o700)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config_home, XDG_RUNTIME_DIR=runtime, TMPDIR=home)
        # The layout the unit expects: the release tree in ~/.local/lib/ridel (here the build
        # tree, which holds the same folders), the configuration in ~/.config/idcard/.
        os.makedirs(os.path.join(home, ".local", "lib"))
        os.symlink(os.path.dirname(os.path.dirname(os.path.abspath(args.program))),
                   os.path.join(home, ".local", "lib", "ridel"))
        for folder in ("idcard", os.path.join("systemd", "user")):
            os.makedirs(os.path.join(config_home, folder))
        unit_path = os.path.join(config_home, "systemd", "user", "idcard.service")
        shutil.copy(args.unit, unit_path)
        config = os.path.join(config_home, "idcard", "serve.conf")
        example = open(args.config, encoding="utf-8").read()
        c.expect("listen = 127.0.0.1:8089" in example, "the example configuration names the listen address")
        with open(config, "w", encoding="utf-8") as f:
            f.write(example.replace("listen = 127.0.0.1:8089", "listen = 127.0.0.1:0"))

        verify(c, unit_path, env)

        starts = unit_values(unit, "ExecStart")
        c.expect(len(starts) == 1, f"one ExecStart: {starts}")
        command = [a.replace("%h", home).replace("%E", config_home) for a in shlex.split(starts[0])]
        c.expect(unit_values(unit, "RestartPreventExitStatus") == ["2"], "a refused configuration is not retried")
        proc = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            line = proc.stdout.readline().decode("utf-8", "replace")
            c.expect("listening on http://127.0.0.1:" in line and "edition sdt, reader port 1001" in line,
                     f"the unit's command serves: {line!r}")
            # No driver beside the edition nor on the search path: the simulated reader, said on
            # the start line.
            c.expect("no reader's driver" in line and "reading the simulated reader" in line
                     and "libsdtapi.so" in line, f"the start line says the simulator is read: {line!r}")
            if "127.0.0.1:" in line:
                port = int(line.split("127.0.0.1:")[1].split("/")[0])
                status, _, body = get(port, "/api/v1/card")
                c.expect(status == 200 and b"44010619880808107X" in body, f"card: {status}")
            proc.send_signal(signal.SIGTERM)
            code = proc.wait(timeout=60)
            c.expect(code == 0, f"stopped by SIGTERM: exit {code}")
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        left = [d for d in os.listdir(home) if d.startswith("idcard-")]
        c.expect(not left, f"private folder left: {left}")

        with open(config, "a", encoding="utf-8") as f:
            f.write("prot = 1001\n")
        r = subprocess.run(command, env=env, capture_output=True, timeout=60)
        err = r.stderr.decode("utf-8", "replace")
        c.expect(r.returncode == 2 and "key 'prot'" in err and "serve.conf:" in err,
                 f"a bad configuration: exit {r.returncode}, {err!r}")
    print(f"{c.count - len(c.failures)} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
