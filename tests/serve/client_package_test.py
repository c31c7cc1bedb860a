#!/usr/bin/env python3
"""The JavaScript client as a package: the TypeScript compiler from the npm registry (installed with
`npm ci` from the committed lock file into the build folder) type-checks its declarations against
a page's use of them; the package the build made offline (ridel-card-<version>.tgz, the release
file) holds the client's files, the project's LICENSE and a README that documents every export and
error class of the declarations, with the project's version.

    client_package_test.py --client tools/client --work build/linux/client-package \\
        --package build/linux/client/ridel-card-1.1.0.tgz --license LICENSE --version-expected 1.1.0
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        print(f"FAIL: {' '.join(command)} exited with {result.returncode}:\n"
              f"{result.stdout}{result.stderr}")
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--package", required=True)
    ap.add_argument("--license", required=True)
    ap.add_argument("--version-expected", required=True)
    args = ap.parse_args()
    client = os.path.abspath(args.client)
    work = os.path.abspath(args.work)
    failures = []

    # The compiler, exactly as the lock file pins it.
    compiler = os.path.join(work, "typescript")
    os.makedirs(compiler, exist_ok=True)
    for name in ("package.json", "package-lock.json"):
        shutil.copy(os.path.join(HERE, "typescript", name), compiler)
    if run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], compiler).returncode:
        return 1
    config = {
        "compilerOptions": {
            "strict": True, "noEmit": True, "target": "es2022", "module": "es2022",
            "moduleResolution": "bundler", "lib": ["es2022", "dom"], "types": [],
            "noUnusedLocals": False, "skipLibCheck": False,
        },
        "files": [os.path.join(HERE, "client_types_test.ts"), os.path.join(client, "index.d.ts")],
    }
    with open(os.path.join(work, "tsconfig.json"), "w") as f:
        json.dump(config, f)
    tsc = os.path.join(compiler, "node_modules", "typescript", "bin", "tsc")
    if run(["node", tsc, "-p", os.path.join(work, "tsconfig.json")], work).returncode:
        failures.append("the declarations do not type-check")

    # The package the build made without the network.
    tarball = os.path.abspath(args.package)
    want_name = f"ridel-card-{args.version_expected}.tgz"
    if os.path.basename(tarball) != want_name:
        failures.append(f"the package is {os.path.basename(tarball)}, not {want_name}")
    if not os.path.isfile(tarball):
        print(f"FAIL: the build made no package {tarball}")
        return 1
    with tarfile.open(tarball) as tar:
        names = sorted(tar.getnames())
        manifest = json.load(tar.extractfile("package/package.json"))
        module = tar.extractfile("package/index.js").read()
        packed_license = tar.extractfile("package/LICENSE").read() if "package/LICENSE" in names else b""
        readme = (tar.extractfile("package/README.md").read().decode("utf-8")
                  if "package/README.md" in names else "")
    want = ["package/LICENSE", "package/README.md", "package/index.d.ts", "package/index.js",
            "package/package.json"]
    if names != want:
        failures.append(f"the package holds {names}, expected {want}")
    with open(args.license, "rb") as f:
        if packed_license != f.read():
            failures.append("the package's LICENSE is not the project's")
    if manifest.get("license") == "SEE LICENSE IN LICENSE" and "package/LICENSE" not in names:
        failures.append("the manifest names a LICENSE file the package lacks")
    # The README tells how to use every function and error class the declarations export, and the
    # browser's permission that a page needs.
    with open(os.path.join(client, "index.d.ts"), encoding="utf-8") as f:
        declared = re.findall(r"^export declare (?:function|class) (\w+)", f.read(), re.M)
    for name in ["readCard", "watchCards", "readerStatus", "photoURL", "NoCardError", "BusyError",
                 "BlockedByBrowserError"]:
        if name not in declared:
            failures.append(f"{name} is no longer declared in index.d.ts")
    # eventParser is the client's own stream parser, exported for its tests.
    undocumented = [n for n in declared
                    if n != "eventParser" and not re.search(r"\b%s\b" % n, readme)]
    if undocumented:
        failures.append(f"the README does not document {undocumented}")
    if "local-network" not in readme or "allow-origin" not in readme:
        failures.append("the README does not explain the browser's permission and the allowed origins")
    if manifest.get("version") != args.version_expected:
        failures.append(f"the package's version is {manifest.get('version')!r}, "
                        f"not the project's {args.version_expected!r}")
    if manifest.get("type") != "module" or manifest.get("dependencies"):
        failures.append("the package must be one ES module without dependencies")
    with open(os.path.join(client, "index.js"), "rb") as f:
        if module != f.read():
            failures.append("the packed module differs from the client's source")

    for f in failures:
        print("FAIL:", f)
    print(f"package {os.path.basename(tarball)}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
