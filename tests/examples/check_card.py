#!/usr/bin/env python3
"""Runs an example program and checks that it printed the simulated reader's sample card.

    check_card.py --form sdt|vantrel --photo FILE [--result-file FILE]... [--encoding ENC]
                  -- COMMAND [ARG...]

The example must exit with 0 and print one line per field, "<label> <value>", for the labels
name, sex, nation, birth, address, id number, authority, valid from, valid to and photo. A value
may end in " (N bytes)", N being its length in GBK, which is checked too. --form says how the
edition presents the fields (the SDT edition spells out the nation and dashes the dates). The
printed photo path must name FILE (a Wine path on drive Z: counts), a 24-bit bitmap of the
decoder's size. FILE and every --result-file are removed before the run and must exist after it,
so that nothing left by an earlier run passes. The example's output is read in ENC (default
UTF-8); it runs with LC_ALL=C.UTF-8 unless something under it sets the locale itself.
"""
import argparse
import os
import re
import struct
import subprocess
import sys

# The built-in card of simulator/sample_card.cpp: sex code 1, nation code 01, dates YYYYMMDD.
CARD = {
    "name": "陈志远",
    "sex": "男",
    "address": "广东省广州市天河区云杉东路一百六十八号锦华花园七栋二单元五零三房",
    "id number": "44010619880808107X",
    "authority": "广州市公安局天河分局",
}
FORMS = {
    "sdt": {"nation": "汉族", "birth": "1988-08-08",
            "valid from": "2015-01-01", "valid to": "2035-01-01"},
    "vantrel": {"nation": "汉", "birth": "19880808",
                "valid from": "20150101", "valid to": "20350101"},
}
LABELS = ["name", "sex", "nation", "birth", "address", "id number", "authority",
          "valid from", "valid to", "photo"]
LINE = re.compile(r"^(%s) +(.*?)(?: \((\d+) bytes\))?$" % "|".join(LABELS))
# The simulated decoder's bitmap.
PHOTO_WIDTH, PHOTO_HEIGHT, PHOTO_BITS = 102, 126, 24


def local_path(printed):
    """The printed path as a path of this machine: Wine's drive Z: is the root folder."""
    wine = re.match(r"^[Zz]:(\\.*)$", printed)
    return wine.group(1).replace("\\", "/") if wine else printed


def bitmap_problem(path):
    with open(path, "rb") as f:
        header = f.read(30)
    if len(header) < 30 or header[:2] != b"BM":
        return "is not a bitmap"
    width, height = struct.unpack_from("<ii", header, 18)
    bits = struct.unpack_from("<H", header, 28)[0]
    if (width, abs(height), bits) != (PHOTO_WIDTH, PHOTO_HEIGHT, PHOTO_BITS):
        return "is %d x %d at %d bits, not %d x %d at %d" % (
            width, abs(height), bits, PHOTO_WIDTH, PHOTO_HEIGHT, PHOTO_BITS)
    return None


def check(output, form, photo):
    """The problems found in the example's output, as a list of lines."""
    expected = dict(CARD, **FORMS[form])
    seen = {}
    problems = []
    for line in output.splitlines():
        match = LINE.match(line.rstrip("\r"))
        if not match:
            continue
        label, value, count = match.groups()
        if label in seen:
            problems.append("%s printed twice" % label)
        seen[label] = value
        if count is not None and int(count) != len(value.encode("gbk")):
            problems.append("%s: %s bytes reported for %r" % (label, count, value))
    for label in LABELS:
        if label not in seen:
            problems.append("%s not printed" % label)
        elif label != "photo" and seen[label] != expected[label]:
            problems.append("%s: %r, expected %r" % (label, seen[label], expected[label]))
    if "photo" in seen:
        printed = local_path(seen["photo"])
        if not (os.path.exists(printed) and os.path.exists(photo)
                and os.path.samefile(printed, photo)):
            problems.append("photo: %r, expected the bitmap at %s" % (seen["photo"], photo))
        else:
            problem = bitmap_problem(photo)
            if problem:
                problems.append("photo: %s %s" % (photo, problem))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--form", choices=sorted(FORMS), required=True)
    parser.add_argument("--photo", required=True)
    parser.add_argument("--result-file", action="append", default=[])
    parser.add_argument("--encoding", default="utf-8")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    for path in [args.photo] + args.result_file:
        if os.path.exists(path):
            os.remove(path)
    env = dict(os.environ, LC_ALL="C.UTF-8")
    run = subprocess.run(args.command, stdout=subprocess.PIPE, env=env, check=False)
    output = run.stdout.decode(args.encoding, errors="replace")
    sys.stdout.write(output)
    problems = [] if run.returncode == 0 else ["exit status %d" % run.returncode]
    problems += check(output, args.form, args.photo)
    problems += ["%s was not written" % path for path in args.result_file
                 if not os.path.exists(path)]
    for problem in problems:
        print("check_card: %s" % problem, file=sys.stderr)
    print("check_card: %s %s" % (" ".join(args.command), "FAILED" if problems else "ok"),
          file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
