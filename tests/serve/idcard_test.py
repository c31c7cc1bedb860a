#!/usr/bin/env python3
"""The command line of idcard: what it refuses (exit 2 with a message naming the fault), --help and
--version, a library of another edition, a missing driver, a port taken, and a vantrel failure shown
with the edition's own log; that reads leave nothing beside idcard nor in the private place of its
reader processes, also when the output's reader leaves early or the output cannot be written;
`idcard service` run by hand and where there is no service manager. Runs
the native program, or the Windows one under Wine with --wrapper.

    idcard_test.py --program build/linux/tools/idcard --version-expected 1.1.0 --testdata tools/testdata
"""
import argparse
import concurrent.futures
import glob
import os
import shutil
import socket
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Checks  # noqa: E402

OPTIONS = ["--edition", "--library", "--port", "--mode", "--simulator", "--card", "--json", "--version", "--help",
           "--listen", "--allow-non-loopback", "--allow-host", "--allow-origin", "--poll-interval",
           "--quiet", "--log", "--config", "service install", "uninstall"]


def run(command, *args, env=None):
    r = subprocess.run(command + list(args), capture_output=True, timeout=120, env=env)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


# Runs at a time in the checks that share nothing: no file, folder or port between them. Each run
# is a process start (seconds under Wine) that mostly waits; two cores take a few side by side.
CONCURRENT_RUNS = 4


def run_all(command, argvs, env=None):
    """run() of each argument list, side by side: {tuple(argv): (exit status, out, err)}."""
    with concurrent.futures.ThreadPoolExecutor(CONCURRENT_RUNS) as pool:
        results = pool.map(lambda argv: run(command, *argv, env=env), argvs)
        return dict(zip(map(tuple, argvs), results))


class PrivatePlace:
    """Where idcard's reader processes make their folders: natively a runtime folder of this
    test's own (XDG_RUNTIME_DIR), under Wine the prefix's temporary folders."""

    def __init__(self, program, wrapper, scratch):
        self.env = dict(os.environ)
        if wrapper:
            root = os.path.dirname(os.path.abspath(program))
            while root != "/" and not os.path.exists(os.path.join(root, "CMakeCache.txt")):
                root = os.path.dirname(root)
            prefix = os.environ.get("WINEPREFIX", os.path.join(root, "wineprefix"))
            self.patterns = [os.path.join(prefix, "drive_c", "users", "*", "Temp"),
                             os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local", "Temp")]
        else:
            runtime = os.path.join(scratch, "idcard-runtime")
            shutil.rmtree(runtime, ignore_errors=True)
            os.makedirs(runtime, mode=0o700)
            self.env["XDG_RUNTIME_DIR"] = runtime
            self.patterns = [runtime]

    def watched(self):
        """Whether the place is there to be watched (else no check of it could fail)."""
        return any(glob.glob(p) for p in self.patterns)

    def reader_folders(self):
        return [f for p in self.patterns for f in glob.glob(os.path.join(p, "idcard-reader-*"))]


def nothing_left_checks(c, command, program, place):
    """Reads of every edition leave nothing beside idcard and no reader folder; so do a reader of
    the output that leaves at once and an output that cannot be written, which are failures
    with one line on standard error."""
    c.expect(place.watched(), f"the reader processes' place is not found: {place.patterns}")
    tools = os.path.dirname(os.path.abspath(program))
    before = sorted(os.listdir(tools))
    for argv in (["--edition", "sdt"], ["--edition", "qdx"], ["--edition", "qdx", "--mode", "6"],
                 ["--edition", "vantrel", "--json"], ["--edition", "sdt", "--mode", "3"]):
        code, out, err = run(command, "--simulator", *argv, env=place.env)
        c.expect(code == 0 and ("44010619880808107X" in out or "--mode" in argv),
                 f"idcard {' '.join(argv)}: exit {code}, {err!r}")
        if argv[-1] == "6":
            c.expect("id_number         44010619880808107X" in out and ".txt," in out,
                     f"qdx mode 6 reads the card from its SAM-named files: {out!r}")
    p = subprocess.Popen(command + ["--simulator", "--json"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=place.env)
    p.stdout.close()
    err = p.stderr.read().decode("utf-8", "replace")
    code = p.wait(timeout=120)
    c.expect(code != 0 and err.count("\n") == 1 and "output" in err,
             f"output's reader gone: exit {code}, {err!r}")
    if os.path.exists("/dev/full"):
        for argv in (["--json"], []):
            with open("/dev/full", "wb") as full:
                r = subprocess.run(command + ["--simulator"] + argv, stdout=full, stderr=subprocess.PIPE, timeout=120,
                                   env=place.env)
            err = r.stderr.decode("utf-8", "replace")
            c.expect(r.returncode != 0 and err.count("\n") == 1 and "output" in err,
                     f"idcard {' '.join(argv)} > /dev/full: exit {r.returncode}, {err!r}")
    after = sorted(os.listdir(tools))
    c.expect(before == after, f"files beside idcard after its reads: {sorted(set(after) - set(before))}")
    c.expect(not place.reader_folders(), f"reader folders left: {place.reader_folders()}")


def library_of(program, edition):
    """The edition's library in the layout idcard loads from."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(program)))
    windows = program.endswith(".exe")
    name = {"vantrel": "vantrel.dll" if windows else "libvantrel.so"}.get(
        edition, "ridel.dll" if windows else "libridel.so")
    return os.path.join(root, edition, name)


def missing_driver_check(c, command, program, scratch, place):
    """A layout without the simulated reader or a driver: idcard names the missing driver, for
    every edition, and leaves no reader folder behind."""
    layout = os.path.join(scratch, "idcard-without-driver")
    shutil.rmtree(layout, ignore_errors=True)
    os.makedirs(os.path.join(layout, "tools"))
    copy = os.path.join(layout, "tools", os.path.basename(program))
    shutil.copy2(program, copy)
    reader = os.path.join(os.path.dirname(program), "idcard-reader" + (".exe" if program.endswith(".exe") else ""))
    shutil.copy2(reader, os.path.join(layout, "tools"))
    # The SDT edition links the driver: natively the build's copy finds the build's simulator
    # through its build run path, so only the Windows one can miss it here.
    for edition in ("qdx", "sdt", "vantrel") if program.endswith(".exe") else ("qdx", "vantrel"):
        os.makedirs(os.path.join(layout, edition))
        shutil.copy2(library_of(program, edition), os.path.join(layout, edition))
        code, _, err = run(command[:-1] + [copy], "--edition", edition, env=place.env)
        c.expect(code == 2 and "sdtapi.dll" in err and "missing" in err and edition in err
                 and err.count("\n") == 1,
                 f"{edition}: missing driver: exit {code}, {err!r}")
        c.expect(not place.reader_folders(), f"{edition}: reader folders left: {place.reader_folders()}")
    shutil.rmtree(layout, ignore_errors=True)


def driver_line(out):
    """The driver file a read names."""
    lines = [line for line in out.splitlines() if line.startswith("driver ")]
    return lines[0][len("driver"):].strip() if lines else ""


def desk_driver_check(c, command, program, scratch, place, desk):
    """A reader maker's driver and decoder beside the edition (the tests' desk driver, whose card
    is not the simulator's): idcard reads through them in the folder given with --library, though
    the simulator lies in its own folder, and names the driver's file; --simulator reads the
    simulator's card; with no driver anywhere the simulator is read and the first line says so."""
    windows = program.endswith(".exe")
    driver = "sdtapi.dll" if windows else "libsdtapi.so"
    layout = os.path.join(scratch, "idcard-desk")
    shutil.rmtree(layout, ignore_errors=True)
    editions = ("qdx", "sdt", "vantrel")
    libraries = {}
    for edition in editions:
        folder = os.path.join(layout, edition)
        os.makedirs(folder)
        libraries[edition] = shutil.copy2(library_of(program, edition), folder)
        for name in (driver, "WltRS.dll" if windows else "libwltrs.so"):
            shutil.copy2(os.path.join(desk, name), folder)
    # The editions' reads share no folder: they run side by side; the reader folders are looked
    # for once all have ended.
    argvs = lambda edition: ([["--edition", edition, "--library", libraries[edition]],  # noqa: E731
                              ["--edition", edition, "--library", libraries[edition], "--simulator"],
                              ["--edition", edition]])
    ran = run_all(command, [argv for edition in editions for argv in argvs(edition)], env=place.env)
    for edition in editions:
        desk_read, simulator_read, default_read = (ran[tuple(argv)] for argv in argvs(edition))
        code, out, err = desk_read
        used = driver_line(out)
        c.expect(code == 0 and "DESK HOLDER" in out and "44010619880808107X" not in out and err == "",
                 f"{edition}: the desk's driver beside the edition: exit {code}, {out!r}, {err!r}")
        c.expect(used.endswith(driver) and "idcard-desk" in used and edition in used,
                 f"{edition}: the read names the desk's driver: {used!r}")
        code, out, err = simulator_read
        used = driver_line(out)
        c.expect(code == 0 and "44010619880808107X" in out and "DESK" not in out and err == ""
                 and "simulator" in used and "idcard-desk" not in used,
                 f"{edition}: --simulator beside the desk's driver: exit {code}, {out!r}, {err!r}")
        code, out, err = default_read
        first = err.splitlines()[0] if err else ""
        c.expect(code == 0 and "44010619880808107X" in out and "no reader's driver" in first
                 and "simulated reader" in first and err.count("\n") == 1
                 and "simulator" in driver_line(out),
                 f"{edition}: no driver anywhere: the simulator, said first: exit {code}, {err!r}")
    c.expect(not place.reader_folders(), f"desk reads: reader folders left: {place.reader_folders()}")
    shutil.rmtree(layout, ignore_errors=True)


def port_taken_check(c, command):
    """A port another program listens on: the system's error in words, on Windows as on Linux."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        code, _, err = run(command, "serve", "--listen", f"127.0.0.1:{port}")
    c.expect(code == 2 and f"cannot listen on 127.0.0.1:{port}: Address already in use" in err,
             f"port taken: exit {code}, {err!r}")


def service_by_hand_cases(windows):
    """`idcard service` where the service manager is not the caller: `service run` started by hand
    says how the service is started (Windows), and where there is no service manager every action
    says where the background service is found instead. One line each, with the exit status of a
    configuration that cannot work (run) or of a refusal (the other actions). Windows' standard
    error is in text mode: its lines end in CR LF."""
    if windows:
        cases = [(["service", "run"], 2,
                  "idcard service run: not started by the service manager (idcard service start "
                  "starts the service)\r\n")]
    else:
        refusal = "there is no Windows service manager on this system (Linux: the systemd user unit)\n"
        cases = [(["service", "run"], 2, "idcard service run: " + refusal)]
        cases += [(["service", action], 1, "idcard service: " + refusal)
                  for action in ("install", "uninstall", "start", "stop")]
    return cases


def service_by_hand_checks(c, cases, ran):
    """The cases of service_by_hand_cases() against their runs."""
    for argv, status, expected in cases:
        code, out, err = ran[tuple(argv)]
        c.expect(code == status and out == "" and err == expected,
                 f"idcard {' '.join(argv)}: exit {code}, {out!r}, {err!r}; expected {status}, {expected!r}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--wrapper", default="")
    ap.add_argument("--version-expected", required=True)
    ap.add_argument("--testdata", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--desk", required=True, help="the folder of the tests' desk driver and decoder")
    args = ap.parse_args()
    command = ([args.wrapper] if args.wrapper else []) + [args.program]
    c = Checks()

    refusals = [(["--mode", "0"], "bad mode"), (["--mode", "-1"], "bad mode"),
                (["--edition", "qdx", "--mode", "7"], "bad mode 7 for the qdx edition"),
                (["--mode", "6"], "bad mode 6 for the sdt edition"),
                (["--edition", "vantrel", "--mode", "4"], "bad mode 4 for the vantrel edition"),
                (["--port", "0"], "bad port"), (["--port", "1017"], "bad port"),
                (["--port", "99999"], "bad port"), (["--port", "abc"], "bad port"),
                (["--edition", "foo"], "unknown edition"), (["--frobnicate"], "unknown option"),
                (["--listen", "127.0.0.1:0"], "--listen is not for idcard: it is for idcard serve"),
                (["--port"], "needs a value"),
                (["serve", "--json"], "--json is not for idcard serve (the service always answers JSON)"),
                (["doctor", "--allow-origin", "*"], "--allow-origin is not for idcard doctor"),
                (["serve", "--allow-origin", "*"], "bad origin '*'"),
                (["serve", "--listen", "127.0.0.1:99999"], "bad listen address '127.0.0.1:99999'"),
                (["serve", "--poll-interval", "5"], "bad poll interval"),
                (["--edition", "qdx", "--library", library_of(args.program, "sdt")],
                 "is the sdt edition, not the qdx edition"),
                (["--edition", "sdt", "--library", library_of(args.program, "vantrel")],
                 "is the vantrel edition, not the sdt edition"),
                (["--edition", "vantrel", "--library", library_of(args.program, "qdx")],
                 "is the qdx edition, not the vantrel edition"),
                (["--library", "no-such-ridel.dll"], "not found"),
                (["--card", os.path.join(args.testdata, "malformed.json")], "card profile")]
    if args.wrapper:
        # Under Wine each start costs seconds: the parsing of the options is the same code there,
        # what depends on the system is the loading of libraries.
        refusals = [r for r in refusals if "--library" in r[0] or r[0] in (["--mode", "0"], ["--port", "99999"])]
    # The runs up to the reads' checks share nothing (no reader folder is watched while they run):
    # they run side by side, and are checked in order once all have ended.
    vantrel_failure = ["--edition", "vantrel", "--card", os.path.join(args.testdata, "no-card.json")]
    sdt_failure = ["--edition", "sdt", "--card", os.path.join(args.testdata, "no-card.json")]
    service_cases = service_by_hand_cases(args.program.endswith(".exe"))
    ran = run_all(command, [argv for argv, _ in refusals] + [["--version"], ["--help"], vantrel_failure, sdt_failure]
                  + [argv for argv, _, _ in service_cases])
    for argv, text in refusals:
        code, _, err = ran[tuple(argv)]
        c.expect(code == 2 and text in err and err.count("\n") == 1,
                 f"idcard {' '.join(argv)}: exit {code}, {err!r}, expected 2 and {text!r}")

    code, out, _ = ran[("--version",)]
    c.expect(code == 0 and out.strip() == f"idcard {args.version_expected}", f"--version: {code} {out!r}")
    code, out, _ = ran[("--help",)]
    c.expect(code == 0 and all(o in out for o in OPTIONS),
             f"--help lists every option: missing {[o for o in OPTIONS if o not in out]}")

    # A failed vantrel read shows what the edition logged, though its log went with its folder.
    code, _, err = ran[tuple(vantrel_failure)]
    c.expect(code == 1 and "authenticate: Authenticate() returned 0" in err and "log says" in err
             and "StartFindIDCard" in err, f"vantrel failure: exit {code}, {err!r}")
    code, _, err = ran[tuple(sdt_failure)]
    c.expect(code == 1 and "no card" in err and "log" not in err, f"sdt failure: exit {code}, {err!r}")

    service_by_hand_checks(c, service_cases, ran)

    place = PrivatePlace(args.program, args.wrapper, args.scratch)
    missing_driver_check(c, command, args.program, args.scratch, place)
    nothing_left_checks(c, command, args.program, place)
    desk_driver_check(c, command, args.program, args.scratch, place, args.desk)
    port_taken_check(c, command)
    print(f"{c.count - len(c.failures)} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
