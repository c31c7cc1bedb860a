#!/usr/bin/env python3
"""The JavaScript client as a package: the TypeScript compiler from the npm registry (installed with
`npm ci` from the committed lock file into the build folder) type-checks its declarations against
a page's use of them, and `npm pack` makes the package offline, with its files and the project's
version.

    client_package_test.py --client tools/page/client --work build/linux/client-package \\
        --version-expected 1.1.0
"""
import argparse
import json
import os
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

    # The package, made without the network.
    packed = os.path.join(work, "pack")
    shutil.rmtree(packed, ignore_errors=True)
    os.makedirs(packed)
    result = run(["npm", "pack", "--offline", "--json", "--pack-destination", packed], client)
    if result.returncode:
        return 1
    tarball = os.path.join(packed, json.loads(result.stdout)[0]["filename"])
    with tarfile.open(tarball) as tar:
        names = sorted(tar.getnames())
        manifest = json.load(tar.extractfile("package/package.json"))
        module = tar.extractfile("package/index.js").read()
    want = ["package/index.d.ts", "package/index.js", "package/package.json"]
    if names != want:
        failures.append(f"the package holds {names}, expected {want}")
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
