#!/usr/bin/env python3
"""Reading a card from Python with ctypes through the SDT edition of ridel.

    python3 examples/read_card.py [DIST_TARGET_FOLDER] [PORT]

DIST_TARGET_FOLDER is a folder of dist/ (default: dist/linux-x86_64, or dist/windows-x86 on
Windows); the edition is loaded from its sdt/ folder after the simulated reader of its simulator/
folder. An application ships ridel with the real driver and decoder beside it instead, and loads
only ridel. The result files land beside the process's executable, here the Python interpreter:
run it from a copy of the interpreter in a folder of your own (on Linux python3 -m venv --copies
DIR; on Windows the embeddable distribution, since a venv's python.exe only starts the installed
interpreter).
The library hands out text in the system's ANSI code page: GBK on Chinese Windows and
always GBK on Linux.
"""
import ctypes
import os
import sys

IS_WINDOWS = os.name == "nt"
Library = ctypes.WinDLL if IS_WINDOWS else ctypes.CDLL  # stdcall on 32-bit Windows


def load(folder):
    names = (["sdtapi.dll", "WltRS.dll"] if IS_WINDOWS else ["libsdtapi.so", "libwltrs.so"])
    for name in names:
        path = os.path.join(folder, "simulator", name)
        if os.path.exists(path):
            # Loaded first, the driver and decoder satisfy ridel's own imports.
            Library(path, mode=getattr(ctypes, "RTLD_GLOBAL", 0))
    return Library(os.path.join(folder, "sdt", "ridel.dll" if IS_WINDOWS else "libridel.so"))


class CardError(Exception):
    pass


def read(ridel, port):
    """Prints the card on the reader at port (or the first USB reader found)."""
    def check(step, result):
        if result != 1:
            raise CardError("%s returned %d" % (step, result))

    check("OpenComm(%d)" % port, ridel.OpenComm(port))
    try:
        check("SelectCard()", ridel.SelectCard())
        result = ridel.ReadBaseInfo(1)
        if result == -8:
            raise CardError("ReadBaseInfo(1) returned -8: the result files cannot be written "
                            "beside the process's executable")
        check("ReadBaseInfo(1)", result)
        buffer = ctypes.create_string_buffer(134)  # holds every value with its zero byte

        def value(getter):
            length = getattr(ridel, getter)(buffer)
            return buffer.raw[:length].decode("gbk")

        for label, getter in [("name", "GetName"), ("sex", "GetSex"), ("nation", "GetFolk"),
                              ("birth", "GetBirth"), ("address", "GetAddr"),
                              ("id number", "GetIDNum"), ("authority", "GetDep"),
                              ("valid from", "GetBegin"), ("valid to", "GetEnd"),
                              ("photo", "GetPicPath")]:
            print("%-10s %s" % (label, value(getter)))
    finally:
        ridel.CloseComm()


def main():
    default = os.path.join("dist", "windows-x86" if IS_WINDOWS else "linux-x86_64")
    folder = sys.argv[1] if len(sys.argv) > 1 else default
    try:
        port = int(sys.argv[2]) if len(sys.argv) > 2 else 1001
    except ValueError:
        sys.exit("read_card.py: not a port number: %s" % sys.argv[2])
    # OSError: the library, its driver or its decoder cannot be loaded; AttributeError: an export
    # is missing, the library is not the SDT edition.
    try:
        read(load(folder), port)
    except (OSError, AttributeError, CardError) as e:
        sys.exit("read_card.py: %s" % e)


if __name__ == "__main__":
    main()
