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
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "reader"))
from http_test import Service, get  # noqa: E402
from readonly_test import SKIP, can_run_as_nobody, listing, read_only_install  # noqa: E402

ID_NUMBER = "44010619880808107X"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    args = ap.parse_args()
    if not can_run_as_nobody():
        print("SKIPPED: serving a read-only install as another user needs root and setpriv")
        return SKIP
    failures = []
    with read_only_install(args.program, "idcard-readonly-serve-") as (install, as_nobody, env):
        before = listing(install)
        command = as_nobody + [os.path.join(install, "tools", "idcard")]
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
    for f in failures:
        print("FAILED:", f)
    print(f"read-only install served as nobody: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
