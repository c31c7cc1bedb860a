#!/usr/bin/env python3
"""A read-only install served by an ordinary user: the install's layout copied into a folder only
root owns, made read-only, and `idcard serve` run there as the user nobody; GET /api/v1/card
answers 200 with the card, and nothing is added to the install. Needs root (to become nobody) and
setpriv; skipped with a message otherwise.

    readonly_serve_test.py --program build/linux/tools/idcard
"""
import argparse
import json
import os
import shutil
import stat
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "reader"))
from http_test import Service, get  # noqa: E402
from readonly_test import SKIP, install_copy, listing, make_read_only  # noqa: E402

ID_NUMBER = "44010619880808107X"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    args = ap.parse_args()
    setpriv = shutil.which("setpriv")
    if os.geteuid() != 0 or not setpriv:
        print("SKIPPED: serving a read-only install as another user needs root and setpriv")
        return SKIP
    work = tempfile.mkdtemp(prefix="idcard-readonly-serve-")
    failures = []
    try:
        os.chmod(work, 0o755)
        install = os.path.join(work, "opt-ridel")
        install_copy(args.program, install)
        make_read_only(install)
        before = listing(install)
        env = {"PATH": "/usr/bin:/bin", "HOME": "/nonexistent", "LANG": "C.UTF-8"}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        command = [setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                   os.path.join(install, "tools", "idcard")]
        for edition in ("sdt", "qdx", "vantrel"):
            service = Service(command, ["--edition", edition], env=env)
            try:
                status, _, body = get(service.port, "/api/v1/card")
                card = json.loads(body).get("card") or {} if status == 200 else {}
                if status != 200 or card.get("id_number") != ID_NUMBER:
                    failures.append(f"{edition} served as nobody: {status} {body[:200]!r}")
            finally:
                service.stop()
            if service.proc.returncode != 0:
                failures.append(f"{edition}: exit status {service.proc.returncode}: {service.log[-3:]}")
        if listing(install) != before:
            failures.append(f"files added to the install: {sorted(set(listing(install)) - set(before))}")
    finally:
        for folder, _, _ in os.walk(work):
            os.chmod(folder, stat.S_IRWXU)
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAILED:", f)
    print(f"read-only install served as nobody: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
