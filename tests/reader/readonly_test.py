#!/usr/bin/env python3
"""A read-only install read by a user who cannot write it: the program, its reader host, the
editions and the simulator copied in the install's layout into a folder that only root owns,
made read-only, and read by every edition as the user nobody. Nothing may be added to the
install. Needs root (to become nobody) and setpriv; skipped with a message otherwise.

    readonly_test.py --program build/linux/tools/idcard
"""
import argparse
import contextlib
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


# What runs as nobody: setpriv's prefix, and an environment without the caller's.
AS_NOBODY = ["--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def can_run_as_nobody():
    return os.geteuid() == 0 and shutil.which("setpriv") is not None


@contextlib.contextmanager
def read_only_install(program, prefix):
    """A read-only copy of the install in a folder that only root owns, with the command prefix and
    environment to run its programs as nobody; removed again afterwards."""
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        os.chmod(work, 0o755)
        install = os.path.join(work, "opt-ridel")
        install_copy(program, install)
        make_read_only(install)
        env = {"PATH": "/usr/bin:/bin", "HOME": "/nonexistent", "LANG": "C.UTF-8"}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        yield install, [shutil.which("setpriv")] + AS_NOBODY, env
    finally:
        for folder, _, _ in os.walk(work):
            os.chmod(folder, stat.S_IRWXU)
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    args = ap.parse_args()
    if not can_run_as_nobody():
        print("SKIPPED: reading a read-only install as another user needs root and setpriv")
        return SKIP
    failures = []
    with read_only_install(args.program, "idcard-readonly-") as (install, as_nobody, env):
        before = listing(install)
        for edition in ("sdt", "qdx", "vantrel"):
            r = subprocess.run(as_nobody + [os.path.join(install, "tools", "idcard"), "--simulator", "--edition", edition],
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
    for f in failures:
        print("FAILED:", f)
    print(f"read-only install read as nobody: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
