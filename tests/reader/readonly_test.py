#!/usr/bin/env python3
"""A read-only install read by a user who cannot write it: the program, its reader host, the
editions and the simulator copied in the install's layout into a folder that only root owns,
made read-only, and read by every edition as the user nobody. Nothing may be added to the
install. Needs root (to become nobody) and setpriv; skipped with a message otherwise.

    readonly_test.py --program build/linux/tools/idcard
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile

SKIP = 77


def install_copy(program, into):
    """The install's layout (tools/, qdx/, sdt/, vantrel/, simulator/) with the build's files."""
    build = os.path.dirname(os.path.dirname(os.path.abspath(program)))
    wanted = {"tools": ["idcard", "idcard-reader"], "qdx": ["libridel.so"], "sdt": ["libridel.so"],
              "vantrel": ["libvantrel.so"], "simulator": ["libsdtapi.so", "libstdapi.so", "libwltrs.so"]}
    for folder, names in wanted.items():
        os.makedirs(os.path.join(into, folder))
        for name in names:
            shutil.copy2(os.path.join(build, folder, name), os.path.join(into, folder, name))


def make_read_only(root):
    for folder, dirs, files in os.walk(root):
        for name in files:
            os.chmod(os.path.join(folder, name), 0o555)
    for folder, dirs, files in os.walk(root, topdown=False):
        os.chmod(folder, 0o555)


def listing(root):
    return sorted(os.path.join(f, n) for f, _, names in os.walk(root) for n in names)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    args = ap.parse_args()
    setpriv = shutil.which("setpriv")
    if os.geteuid() != 0 or not setpriv:
        print("SKIPPED: reading a read-only install as another user needs root and setpriv")
        return SKIP
    work = tempfile.mkdtemp(prefix="idcard-readonly-")
    failures = []
    try:
        os.chmod(work, 0o755)
        install = os.path.join(work, "opt-ridel")
        install_copy(args.program, install)
        make_read_only(install)
        before = listing(install)
        env = {"PATH": "/usr/bin:/bin", "HOME": "/nonexistent", "LANG": "C.UTF-8"}
        for asan in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if asan in os.environ:
                env[asan] = os.environ[asan]
        for edition in ("sdt", "qdx", "vantrel"):
            r = subprocess.run([setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                os.path.join(install, "tools", "idcard"), "--edition", edition],
                               capture_output=True, timeout=120, env=env, cwd="/")
            out = r.stdout.decode("utf-8", "replace")
            err = r.stderr.decode("utf-8", "replace")
            if r.returncode != 0 or "44010619880808107X" not in out:
                failures.append(f"{edition} as nobody: exit {r.returncode}, {err!r}")
        if listing(install) != before:
            failures.append(f"files added to the install: {sorted(set(listing(install)) - set(before))}")
        leftovers = [n for n in os.listdir(tempfile.gettempdir()) if n.startswith("idcard-reader-")
                     and os.stat(os.path.join(tempfile.gettempdir(), n)).st_uid == 65534]
        if leftovers:
            failures.append(f"reader folders of nobody left: {leftovers}")
    finally:
        for folder, dirs, files in os.walk(work):
            os.chmod(folder, stat.S_IRWXU)
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAILED:", f)
    print(f"read-only install read as nobody: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
