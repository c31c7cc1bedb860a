#!/usr/bin/env python3
"""Runs the commands of README.md and docs/*.md and checks every relative link in them.

Every fenced block is one of:

- a shell block (```sh, ```bash, ```shell): run by this checker with bash (-e, -o pipefail) and a
  timeout, and must succeed. `<!-- exits N -->` on the line before it says that the block ends
  with status N instead;
- an illustration: a ```console block, or any block with `<!-- illustration -->` (optionally
  `<!-- illustration: why -->`) on the line before it; never run;
- a file: `<!-- file: NAME -->` on the line before it writes the block's text to NAME in the
  page's scratch folder, for the shell blocks after it;
- a block of another language (json, js, ini, cmake, text, ...): no command, not run.

A block in a command language that cannot run here (```bat, ```cmd, ```powershell) must be marked
as an illustration, and a block without a language is refused: each block says what it is.

The shell blocks of one page run in order in one scratch folder of their own, which holds
`dist/linux-x86_64/`: a copy of the build's edition, simulator, recorder and tools folders laid
out as `make dist` lays them out. HOME, XDG_RUNTIME_DIR and TMPDIR point into the scratch folder,
so that nothing outside it is touched.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unicodedata
from dataclasses import dataclass, field

SHELL = {"sh", "bash", "shell"}
# Command languages that this checker does not run: such a block must say it is an illustration.
OTHER_COMMANDS = {"bat", "cmd", "batch", "powershell", "ps1", "pwsh", "zsh", "fish"}
ILLUSTRATION = {"console"}

FENCE = re.compile(r"^(\s*)(`{3,}|~{3,})\s*([^\s`]*)")
MARKER = re.compile(r"^\s*<!--\s*(illustration|exits|file)\s*(?::\s*|\s+)?(.*?)\s*-->\s*$")


@dataclass
class Block:
    doc: str
    line: int  # of the opening fence, 1-based
    language: str
    text: str
    marker: str = ""  # illustration, exits, file or empty
    argument: str = ""

    def where(self):
        return f"{self.doc}:{self.line}"


@dataclass
class Problem:
    where: str
    message: str


def blocks_of(doc, text):
    """The fenced blocks of a Markdown text, with the marker comment on the line before each."""
    lines = text.split("\n")
    found = []
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, fence, language = m.group(1), m.group(2), m.group(3).lower()
        start = i
        body = []
        i += 1
        while i < len(lines):
            stripped = lines[i].strip()
            if stripped.startswith(fence[0] * len(fence)) and stripped.strip(fence[0]) == "":
                break
            body.append(lines[i][len(indent):] if lines[i].startswith(indent) else lines[i].lstrip())
            i += 1
        i += 1
        block = Block(doc, start + 1, language, "\n".join(body) + "\n")
        previous = start - 1
        while previous >= 0 and lines[previous].strip() == "":
            previous -= 1
        if previous >= 0:
            mm = MARKER.match(lines[previous])
            if mm:
                block.marker, block.argument = mm.group(1), mm.group(2)
        found.append(block)
    return found


def classify(block):
    """What the checker does with a block: ('run', status), ('file', name), ('skip', None) or
    ('refuse', why)."""
    if block.marker == "illustration" or block.language in ILLUSTRATION:
        return "skip", None
    if block.marker == "file":
        if not block.argument or "/" in block.argument or block.argument.startswith("."):
            return "refuse", "a file marker needs a plain file name"
        return "file", block.argument
    if block.language == "":
        return "refuse", "a block without a language: say what it is (```sh, ```console, ```text, ...)"
    if block.language in SHELL:
        status = 0
        if block.marker == "exits":
            if not block.argument.isdigit():
                return "refuse", f"bad exit status '{block.argument}' in the exits marker"
            status = int(block.argument)
        return "run", status
    if block.language in OTHER_COMMANDS:
        return "refuse", (f"a ```{block.language} block cannot run here: mark it "
                          "<!-- illustration --> or make it a ```console block")
    if block.marker == "exits":
        return "refuse", "an exits marker on a block that is not a shell block"
    return "skip", None


# ---- Links -----------------------------------------------------------------------------------

LINK = re.compile(r"(?<!!)\[(?:[^\]\[]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HTML_HREF = re.compile(r"""<a\s[^>]*href=["']([^"']+)["']""", re.IGNORECASE)
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")


def slug(heading):
    """A heading's anchor as the common Markdown renderers make it: lower case, markup and
    punctuation dropped, blanks turned into hyphens."""
    text = re.sub(r"`([^`]*)`", r"\1", heading)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = text.lower()
    kept = []
    for ch in text:
        if ch in "-_ ":
            kept.append("-" if ch == " " else ch)
        elif unicodedata.category(ch)[0] in "LN":
            kept.append(ch)
    return "".join(kept)


def anchors_of(text):
    """Every heading anchor of a Markdown text, with -1, -2, ... for repeated ones."""
    seen = {}
    anchors = set()
    in_fence = False
    for line in text.split("\n"):
        if FENCE.match(line):
            in_fence = not in_fence
            continue
        if in_fence:
            continue
        m = HEADING.match(line)
        if not m:
            continue
        base = slug(m.group(2))
        n = seen.get(base, 0)
        anchors.add(base if n == 0 else f"{base}-{n}")
        seen[base] = n + 1
    return anchors


def prose_of(text):
    """The text outside fenced blocks and inline code, where links live."""
    out = []
    in_fence = False
    for line in text.split("\n"):
        if FENCE.match(line):
            in_fence = not in_fence
            out.append("")
            continue
        out.append("" if in_fence else re.sub(r"`[^`]*`", "", line))
    return "\n".join(out)


def check_links(path, text, root):
    problems = []
    prose = prose_of(text)
    targets = [(m.group(1), prose.count("\n", 0, m.start()) + 1) for m in LINK.finditer(prose)]
    targets += [(m.group(1), prose.count("\n", 0, m.start()) + 1) for m in HTML_HREF.finditer(prose)]
    for target, line in targets:
        if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.IGNORECASE) or target.startswith("//"):
            continue  # another site, mail: not a file of the tree
        where = f"{os.path.relpath(path, root)}:{line}"
        file_part, _, anchor = target.partition("#")
        if file_part:
            resolved = os.path.normpath(os.path.join(os.path.dirname(path), file_part))
            if not os.path.exists(resolved):
                problems.append(Problem(where, f"the link {target} points at no file"))
                continue
        else:
            resolved = path
        if anchor and resolved.endswith(".md") and os.path.isfile(resolved):
            with open(resolved, encoding="utf-8") as f:
                if anchor not in anchors_of(f.read()):
                    problems.append(Problem(where, f"the link {target} names no heading there"))
    return problems


# ---- The scratch tree ------------------------------------------------------------------------

# The build's output folders that dist/<target>/ holds, and what of each: the files at the
# folder's top (programs, libraries and their links, headers, .def files), never its build
# system's subfolders.
DIST_FOLDERS = ("qdx", "sdt", "vantrel", "simulator", "recorder", "tools")
# Files that `make dist` installs from the source tree: (source, place in dist).
SOURCE_FILES = (
    ("include/ridel_version.h", "qdx/ridel_version.h"),
    ("include/ridel_version.h", "sdt/ridel_version.h"),
    ("include/ridel_version.h", "vantrel/ridel_version.h"),
    ("include/ridel_qdx.h", "qdx/ridel_qdx.h"),
    ("include/ridel_sdt.h", "sdt/ridel_sdt.h"),
    ("include/vantrel.h", "vantrel/vantrel.h"),
    ("simulator/PROFILE.md", "simulator/PROFILE.md"),
    ("tools/service/background/idcard.conf", "tools/idcard.conf"),
    ("tools/service/background/idcard.service", "lib/systemd/user/idcard.service"),
    ("examples/read_card.c", "examples/read_card.c"),
    ("examples/read_card.py", "examples/read_card.py"),
    ("recording/FORMAT.md", "recorder/FORMAT.md"),
)


def make_dist(build, source, dest):
    """dest: the build's files as dist/linux-x86_64/ holds them."""
    for folder in DIST_FOLDERS:
        src = os.path.join(build, folder)
        if not os.path.isdir(src):
            raise SystemExit(f"check_docs: no {src}: build the preset first")
        os.makedirs(os.path.join(dest, folder), exist_ok=True)
        for name in os.listdir(src):
            path = os.path.join(src, name)
            if os.path.isdir(path) or name.endswith((".a", ".cmake", ".map")) or name == "Makefile":
                continue
            target = os.path.join(dest, folder, name)
            if os.path.islink(path):
                os.symlink(os.readlink(path), target)
            else:
                shutil.copy2(path, target)
    for src, place in SOURCE_FILES:
        path = os.path.join(source, src)
        if os.path.exists(path):
            os.makedirs(os.path.dirname(os.path.join(dest, place)), exist_ok=True)
            shutil.copy2(path, os.path.join(dest, place))


# ---- Running ---------------------------------------------------------------------------------

def run_block(block, scratch, status, timeout, env):
    """Runs a shell block in the scratch folder: None when it ends as it should, else why not.
    The block's output goes to a file, not a pipe, so that a process it leaves running (a service
    started with &) cannot hold the block open; every such process ends with the block."""
    script = "set -e -o pipefail\n" + block.text
    with tempfile.TemporaryFile(dir=scratch) as output:
        proc = subprocess.Popen(["bash", "-c", script], cwd=scratch, env=env, stdout=output,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                start_new_session=True)
        why = None
        try:
            proc.wait(timeout=timeout)
            if proc.returncode != status:
                why = f"ended with status {proc.returncode}, not {status}"
        except subprocess.TimeoutExpired:
            why = f"did not end within {timeout} s"
        finally:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
        if why is None:
            return None
        output.seek(0)
        return why + "\n" + output.read().decode(errors="replace")


def scratch_env(scratch):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("RIDEL_", "IDCARD_"))}
    home = os.path.join(scratch, "home")
    runtime = os.path.join(scratch, "runtime")
    tmp = os.path.join(scratch, "tmp")
    for d in (home, runtime, tmp):
        os.makedirs(d, mode=0o700, exist_ok=True)
    env.update(HOME=home, XDG_RUNTIME_DIR=runtime, TMPDIR=tmp, LC_ALL="C.UTF-8")
    env.pop("XDG_CONFIG_HOME", None)
    return env


def check_doc(path, root, build, work, timeout, run):
    problems = []
    with open(path, encoding="utf-8") as f:
        text = f.read()
    rel = os.path.relpath(path, root)
    problems += check_links(path, text, root)
    scratch = None
    env = None
    counts = {"run": 0, "file": 0, "skip": 0}
    for block in blocks_of(rel, text):
        what, arg = classify(block)
        if what == "refuse":
            problems.append(Problem(block.where(), arg))
            continue
        counts[what] += 1
        if not run or what == "skip":
            continue
        if scratch is None:
            scratch = os.path.join(work, re.sub(r"[^A-Za-z0-9]+", "-", rel))
            shutil.rmtree(scratch, ignore_errors=True)
            os.makedirs(scratch)
            make_dist(build, root, os.path.join(scratch, "dist", "linux-x86_64"))
            env = scratch_env(scratch)
        if what == "file":
            with open(os.path.join(scratch, arg), "w", encoding="utf-8") as f:
                f.write(block.text)
            continue
        why = run_block(block, scratch, arg, timeout, env)
        if why:
            problems.append(Problem(block.where(), "the block " + why))
    print(f"check_docs: {rel}: {counts['run']} run, {counts['file']} files, "
          f"{counts['skip']} not run (illustration or no command)")
    return problems


def documents(root):
    docs = [os.path.join(root, "README.md")]
    folder = os.path.join(root, "docs")
    if os.path.isdir(folder):
        docs += sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".md"))
    return docs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--build", help="the linux preset's build folder (with --run)")
    parser.add_argument("--work", help="where the scratch folders go (default: a temporary one)")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per block")
    parser.add_argument("--no-run", action="store_true", help="the links and markers only")
    parser.add_argument("docs", nargs="*", help="the pages (default README.md and docs/*.md)")
    args = parser.parse_args()
    run = not args.no_run
    if run and not args.build:
        parser.error("--build is needed to run the blocks")
    root = os.path.abspath(args.source)
    work = args.work or tempfile.mkdtemp(prefix="check-docs-")
    os.makedirs(work, exist_ok=True)
    docs = [os.path.abspath(d) for d in args.docs] or documents(root)
    problems = []
    for doc in docs:
        problems += check_doc(doc, root, args.build and os.path.abspath(args.build), work,
                              args.timeout, run)
    for p in problems:
        print(f"{p.where}: {p.message}", file=sys.stderr)
    if problems:
        print(f"check_docs: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
