#!/usr/bin/env python3
"""Runs a language package's probe against the simulated reader and checks what it read.

    check_packages.py [--windows] --dist DIST_TARGET --runtime-folder DIR --work DIR
                      -- COMMAND [ARG...]

COMMAND, given EDITION PORT [LIBRARY] as its last arguments, reads the card through the package
and prints "key=value" lines: the card's fields (dates as "date:YYYY-MM-DD" or "text:...", the
appended address as "text:..." or "none", the photo as "<length> <hex of its first 30 bytes>")
or, when a call fails, "error=<step>|<call>|<code>|<meaning>". Each case runs for each edition
with a card profile handed to the simulator through RIDEL_SIM_CARD: the sample card (once with
the library's path given, once found on the loader's path), an odd card, no card, no reader and
a failing decoder. The editions and the simulated reader are copied from DIST_TARGET into WORK, so
that the vantrel edition's log stays out of dist/. DIR is the folder of the probe's runtime
executable, where the editions write their result files: after every read it must hold no file
that was not there before, since the package removes what the edition wrote.

--windows: DIST_TARGET is a Windows one and COMMAND runs under Wine. Each edition is deployed as
an application deploys it, as ridel.dll (the vantrel edition too), and found through PATH when its
path is not given; the simulated reader goes beside the program, where the editions look for it.
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys

EDITIONS = ["qdx", "sdt", "vantrel"]
LIBRARY = {"qdx": "qdx/libridel.so", "sdt": "sdt/libridel.so", "vantrel": "vantrel/libvantrel.so"}
WINDOWS_LIBRARY = {"qdx": "qdx/ridel.dll", "sdt": "sdt/ridel.dll", "vantrel": "vantrel/vantrel.dll"}
SIMULATOR_DLLS = ["sdtapi.dll", "stdapi.dll", "WltRS.dll"]
ADDRESS = "广东省广州市天河区云杉东路一百六十八号锦华花园七栋二单元五零三房"
SAMPLE = {
    "name": "陈志远", "sex_code": "1", "sex": "男", "nation_code": "01",
    "birth": "date:1988-08-08", "address": ADDRESS, "id_number": "44010619880808107X",
    "authority": "广州市公安局天河分局", "valid_from": "date:2015-01-01",
    "valid_to": "date:2035-01-01", "appended_address": "text:广东省广州市海珠区榕荫南路二十二号",
}
SAMPLE_BY_EDITION = {
    "qdx": {"nation": "汉", "sam": "123456"},
    "sdt": {"nation": "汉族", "sam": "05112018041800036512001234569ABC"},
    "vantrel": {"nation": "汉", "sam": "0511-20180418-0000036512-0000123456"},
}
# A name filling its 15 characters, codes whose names differ between the editions, a birth date
# that is no date, a validity without end, no appended address and a SAM number of its own.
ODD_PROFILE = {"name": "司马长风欧阳明月上官云飞慕容雪", "sex": "9", "nation": "36",
               "birth": "19880230", "valid_to": "长期", "appended_address": None,
               "sam_id": "0512-20190101-0000000077-0000004242"}
ODD = dict(SAMPLE, name=ODD_PROFILE["name"], sex_code="9", nation_code="36",
           birth="text:19880230", valid_to="text:长期", appended_address="none")
ODD_BY_EDITION = {
    "qdx": {"sex": "未知", "nation": "毛南", "sam": "4242"},
    "sdt": {"sex": "未知", "nation": "毛南族", "sam": SAMPLE_BY_EDITION["sdt"]["sam"]},
    "vantrel": {"sex": "未明", "nation": "毛难", "sam": "0512-20190101-0000000077-0000004242"},
}
# The failing call of each edition: (step, call, code or None for any, words of the meaning).
FAILURES = {
    "no card": ({"card_on_reader": False}, {
        "qdx": ("authenticate", "Authenticate", 0, "no card"),
        "sdt": ("select", "SelectCard", 0, "no card"),
        "vantrel": ("authenticate", "Authenticate", 0, "no card")}),
    "no reader": ({"port": 7}, {
        "qdx": ("open", "InitComm", 0, "no reader"),
        "sdt": ("open", "OpenComm", -10, "no reader"),
        "vantrel": ("open", "InitComm", 0, "no reader")}),
    # Failures after the card was read: the files already written must go all the same.
    "SAM ID unreadable": ({"faults": {"status": {"GetSAMID": 65, "GetSAMIDToStr": 65}}}, {
        "qdx": ("open", "InitComm", 0, "no reader"),
        "sdt": ("sam", "GetSamID", 0, "SAM"),
        "vantrel": ("sam", "GetSAMIDToStr", 65, "SAM")}),
    "appended address unreadable": ({"faults": {"status": {"ReadNewAppMsg": 65}}}, {
        "qdx": ("appended address", "Read_Content", 0, "driver refused"),
        "sdt": ("appended address", "ReadBaseInfo", 65, "driver's status"),
        "vantrel": ("read", "Read_Content", 0, "driver refused")}),
    "decoder failure": ({"faults": {"decoder_result": -3}}, {
        "qdx": ("read", "Read_Content", 0, "decoder"),
        "sdt": ("read", "ReadBaseInfo", -3, "decoder"),
        "vantrel": ("read", "Read_Content", -3, "decoder")}),
}
PHOTO = (102, 126, 24, 38862)  # the simulated decoder's bitmap: width, height, bits, bytes


def wine_path(path):
    """A path of this machine as Wine's programs see it, on drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def library_path(args, edition):
    libs = os.path.join(args.work, "lib")
    if args.windows:
        return os.path.join(libs, edition, "ridel.dll")
    return os.path.join(libs, LIBRARY[edition])


def run_probe(args, edition, profile, with_path):
    profile_path = os.path.join(args.work, "profile.json")
    with open(profile_path, "w", encoding="utf-8") as f:
        json.dump(profile, f, ensure_ascii=False)
    libs = os.path.join(args.work, "lib")
    library = library_path(args, edition)
    if args.windows:
        env = dict(os.environ, RIDEL_SIM_CARD=wine_path(profile_path),
                   WINEPATH=wine_path(os.path.dirname(library)))
        library = wine_path(library)
    else:
        env = dict(os.environ, RIDEL_SIM_CARD=profile_path, LC_ALL="C.UTF-8",
                   LD_LIBRARY_PATH=os.path.dirname(library) + ":" +
                   os.path.join(libs, "simulator"))
    command = args.command + [edition, "1001"] + ([library] if with_path else [])
    before = set(os.listdir(args.runtime_folder))
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                         check=False)
    left = sorted(set(os.listdir(args.runtime_folder)) - before)
    for name in left:
        os.remove(os.path.join(args.runtime_folder, name))
    output = run.stdout.decode("utf-8", errors="replace")
    values = dict(line.split("=", 1) for line in output.splitlines() if "=" in line)
    problems = ["result files left beside the runtime: %s" % ", ".join(left)] if left else []
    return run, values, problems


def photo_problem(value):
    length, _, head = value.partition(" ")
    data = bytes.fromhex(head)
    if len(data) < 30 or data[:2] != b"BM":
        return "photo is not a bitmap: %r" % value
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if (width, abs(height), bits, int(length)) != PHOTO:
        return "photo is %d x %d x %d, %s bytes; expected %r" % (width, height, bits, length,
                                                                 PHOTO)
    return None


def check_card(values, expected):
    problems = []
    for key, want in expected.items():
        if want is None:
            continue
        if values.get(key) != want:
            problems.append("%s: %r, expected %r" % (key, values.get(key), want))
    if "photo" not in values:
        problems.append("no photo")
    else:
        problem = photo_problem(values["photo"])
        if problem:
            problems.append(problem)
    return problems


def check_error(values, failure):
    step, call, code, words = failure
    if "error" not in values:
        return ["read a card where %s(...) should have failed" % call]
    got = values["error"].split("|", 3)
    if len(got) != 4:
        return ["error line %r is not step|call|code|meaning" % values["error"]]
    problems = []
    if got[0] != step or got[1] != call:
        problems.append("failed at %s %s, expected %s %s" % (got[0], got[1], step, call))
    if code is not None and got[2] != str(code):
        problems.append("%s returned %s, expected %d" % (call, got[2], code))
    if words not in got[3]:
        problems.append("meaning %r does not say %r" % (got[3], words))
    message = values.get("message", "")
    for part in (step, call, got[2], got[3]):
        if part not in message:
            problems.append("message %r does not name %r" % (message, part))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dist", required=True)
    parser.add_argument("--runtime-folder", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()
    libs = os.path.join(args.work, "lib")
    shutil.rmtree(libs, ignore_errors=True)
    if args.windows:
        for edition in EDITIONS:
            os.makedirs(os.path.join(libs, edition))
            shutil.copy(os.path.join(args.dist, WINDOWS_LIBRARY[edition]),
                        library_path(args, edition))
        for name in SIMULATOR_DLLS:
            shutil.copy(os.path.join(args.dist, "simulator", name), args.runtime_folder)
    else:
        for folder in ["qdx", "sdt", "vantrel", "simulator"]:
            shutil.copytree(os.path.join(args.dist, folder), os.path.join(libs, folder),
                            symlinks=True)

    cases = []
    for edition in EDITIONS:
        sample = dict(SAMPLE, **SAMPLE_BY_EDITION[edition])
        cases.append(("sample card, library by path", edition, {}, True,
                      lambda v, e=sample: check_card(v, e)))
        cases.append(("sample card, library on the loader's path", edition, {}, False,
                      lambda v, e=sample: check_card(v, e)))
        odd = dict(ODD, **ODD_BY_EDITION[edition])
        cases.append(("odd card", edition, ODD_PROFILE, False, lambda v, e=odd: check_card(v, e)))
        for name, (profile, failures) in FAILURES.items():
            cases.append((name, edition, profile, False,
                          lambda v, f=failures[edition]: check_error(v, f)))
    failed = 0
    for name, edition, profile, with_path, check in cases:
        run, values, problems = run_probe(args, edition, profile, with_path)
        if run.returncode not in (0, 3):
            problems.append("exit status %d: %s" % (
                run.returncode, run.stderr.decode("utf-8", errors="replace").strip()))
        problems += check(values)
        print("%s: %s, %s" % ("FAILED" if problems else "ok", edition, name))
        for problem in problems:
            print("  " + problem)
        failed += bool(problems)
    print("check_packages: %s: %d of %d cases failed" % (" ".join(args.command), failed,
                                                        len(cases)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
