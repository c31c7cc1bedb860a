#!/usr/bin/env python3
"""Checks who includes what in the source tree:

- nothing under the lower floors (simulator/, driver/, common/, platform/, recording/) or an
  edition (qdx/, sdt/, vantrel/) includes a file of tools/;
- a folder of floors 0-2 and the simulator include the project's files only from the folders
  below them that they may use (MAY_INCLUDE): the recording format, for one, nothing of the
  simulator that replays it;
- an edition includes no file of another edition, its folder or its public header;
- nothing but platform/ includes <windows.h> or <dlfcn.h>.

Usage: include_graph.py <source root>   prints each breach and fails when there is one
       include_graph.py --self-test     checks that a tree with every kind of breach is caught
"""
import os
import re
import sys
import tempfile

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".inc", ".rc")
SKIPPED = {".git", "build", "node_modules", "dist"}
# Each edition's folder and its public header in include/.
EDITIONS = {"qdx": "ridel_qdx.h", "sdt": "ridel_sdt.h", "vantrel": "vantrel.h"}
# The folders of floors 0-2 and the simulator (the lower floors), and the project folders each may
# include from (itself included), as docs/architecture.md gives them. A quoted include with a
# folder names a file of the project.
MAY_INCLUDE = {
    "platform": {"platform", "include"},
    "driver": {"driver", "platform"},
    "common": {"common", "platform", "driver"},
    "recording": {"recording", "platform", "driver", "common"},
    "simulator": {"simulator", "recording", "platform", "driver", "common"},
}
SYSTEM_ONLY = {"windows.h", "dlfcn.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)


def top(path):
    return path.split("/", 1)[0]


def breaches_of(relative, text):
    """The breaches of one file, given its path from the root (with /) and its text."""
    found = []
    folder = top(relative) if "/" in relative else ""
    for match in INCLUDE.finditer(text):
        quote, name = match.group(1), match.group(2).strip().replace("\\", "/")
        line = text.count("\n", 0, match.start()) + 1
        where = f"{relative}:{line}: "
        if os.path.basename(name).lower() in SYSTEM_ONLY and folder != "platform":
            found.append(where + f"includes <{name}>, which only platform/ may")
        if quote != '"':
            continue
        first = top(name)
        if (folder in MAY_INCLUDE or folder in EDITIONS) and first == "tools":
            found.append(where + f'includes "{name}" from tools/, a floor above it')
        elif folder in MAY_INCLUDE and "/" in name and first not in MAY_INCLUDE[folder]:
            allowed = ", ".join(f"{f}/" for f in sorted(MAY_INCLUDE[folder]))
            found.append(where + f'includes "{name}" from {first}/; {folder}/ may include only {allowed}')
        if folder in EDITIONS:
            for other, header in EDITIONS.items():
                if other == folder:
                    continue
                if first == other or name in (f"include/{header}", header):
                    found.append(where + f'includes "{name}" of the {other} edition')
    return found


def check(root):
    found = []
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = sorted(s for s in subfolders if s not in SKIPPED)
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as f:
                found += breaches_of(relative, f.read())
    return found


def self_test():
    # Each file breaks one rule (or none), and says how many breaches it holds.
    tree = {
        "simulator/a.cpp": ('#include "tools/recorder/recorder.h"\n', 1),
        "recording/b.h": ('#include "tools/cli/config.h"\n', 1),
        "recording/b2.cpp": ('#include "recording/b.h"\n#include "driver/call_numbers.h"\n'
                             '#include "common/record.h"\n#include "platform/platform.h"\n'
                             '#include <nlohmann/json.hpp>\n', 0),
        "recording/b3.h": ('#include "simulator/simulator.h"\n#include "qdx/state.h"\n', 2),
        "driver/c2.h": ('#include "common/record.h"\n#include "driver/entry_points.h"\n', 1),
        "common/d2.h": ('#include "recording/recording.h"\n', 1),
        "platform/e2.cpp": ('#include "include/ridel_version.h"\n#include "driver/sdtapi.h"\n', 1),
        "simulator/a2.cpp": ('#include "recording/recording.h"\n#include "simulator/state.h"\n', 0),
        "simulator/a3.cpp": ('#include "qdx/state.h"\n#include "include/ridel_qdx.h"\n', 2),
        "driver/c.h": ('#  include "tools/x.h"\n', 1),
        "common/d.cpp": ('#include "common/record.h"\n#include <string>\n', 0),
        "platform/e.cpp": ("#include <windows.h>\n#include <dlfcn.h>\n", 0),
        "platform/win32/f.cpp": ("#include <Windows.h>\n", 0),
        "tools/g.cpp": ('#include <windows.h>\n#include "qdx/state.h"\n', 1),
        "tests/h.cpp": ("#include <dlfcn.h>\n", 1),
        "qdx/i.cpp": ('#include "sdt/state.h"\n#include "include/vantrel.h"\n', 2),
        "sdt/j.cpp": ('#include "sdt/state.h"\n#include "include/ridel_sdt.h"\n', 0),
        "vantrel/k.cpp": ('#include "tools/editions/edition.h"\n#include "qdx/result_files.h"\n', 2),
        "examples/l.c": ('#include "ridel_qdx.h"\n#include <windows.h>\n', 1),
        "build/m.cpp": ("#include <windows.h>\n", 0),
    }
    failures = []
    with tempfile.TemporaryDirectory() as root:
        for relative, (text, _) in tree.items():
            path = os.path.join(root, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        found = check(root)
    for relative, (_, expected) in tree.items():
        got = [b for b in found if b.startswith(relative + ":")]
        if len(got) != expected:
            failures.append(f"{relative}: {len(got)} breaches found, {expected} expected: {got}")
    return failures


def main():
    if sys.argv[1:] == ["--self-test"]:
        failures = self_test()
    elif len(sys.argv) == 2:
        failures = check(sys.argv[1])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
