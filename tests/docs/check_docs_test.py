"""The docs checker's own cases: what it runs, refuses and skips, how it follows links, and how a
block's end is judged."""

import os
import shutil
import tempfile
import time
import unittest

import check_docs


def running(pid):
    """Whether the process runs (a zombie waiting for its parent does not)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def page(*parts):
    return "\n".join(parts) + "\n"


class Blocks(unittest.TestCase):
    def test_each_block_is_classified_by_language_and_marker(self):
        cases = [
            # (what comes before the block, fence language, expected action, expected argument)
            ("", "sh", "run", 0),
            ("", "bash", "run", 0),
            ("<!-- exits 2 -->", "sh", "run", 2),
            ("<!-- exits 1 -->\n", "shell", "run", 1),  # a blank line between: still its marker
            ("<!-- illustration -->", "sh", "skip", None),
            ("<!-- illustration: needs Windows -->", "bat", "skip", None),
            ("", "console", "skip", None),
            ("", "json", "skip", None),
            ("", "ini", "skip", None),
            ("<!-- file: my-card.json -->", "json", "file", "my-card.json"),
            ("", "bat", "refuse", None),
            ("", "powershell", "refuse", None),
            ("", "", "refuse", None),
            ("<!-- exits two -->", "sh", "refuse", None),
            ("<!-- exits 1 -->", "json", "refuse", None),
            ("<!-- file: ../outside.json -->", "json", "refuse", None),
            ("<!-- file: /etc/passwd -->", "text", "refuse", None),
        ]
        for before, language, action, argument in cases:
            with self.subTest(before=before, language=language):
                text = page("Some words.", "", before, "```" + language, "echo hi", "```")
                [block] = check_docs.blocks_of("page.md", text)
                what, arg = check_docs.classify(block)
                self.assertEqual(what, action)
                if action != "refuse":
                    self.assertEqual(arg, argument)

    def test_a_marker_belongs_to_the_next_block_only(self):
        text = page("<!-- illustration -->", "```sh", "false", "```", "", "```sh", "true", "```")
        first, second = check_docs.blocks_of("page.md", text)
        self.assertEqual(check_docs.classify(first), ("skip", None))
        self.assertEqual(check_docs.classify(second), ("run", 0))

    def test_a_marker_separated_by_prose_does_not_count(self):
        text = page("<!-- illustration -->", "Then some prose.", "```sh", "false", "```")
        [block] = check_docs.blocks_of("page.md", text)
        self.assertEqual(check_docs.classify(block), ("run", 0))

    def test_indented_blocks_and_longer_fences(self):
        text = page("- a list item:", "", "  ```sh", "  echo one", "  ```", "",
                    "````sh", "echo '```'", "````")
        first, second = check_docs.blocks_of("page.md", text)
        self.assertEqual((first.line, first.text), (3, "echo one\n"))
        self.assertEqual(second.text, "echo '```'\n")


class Links(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()
        os.makedirs(os.path.join(self.root, "docs"))
        with open(os.path.join(self.root, "docs", "other.md"), "w", encoding="utf-8") as f:
            f.write(page("# Other", "## The API (version 1, JSON in UTF-8)", "## `idcard serve`",
                         "## Twice", "## Twice", "```sh", "# not a heading", "```"))
        with open(os.path.join(self.root, "LICENSE"), "w") as f:
            f.write("x")

    def tearDown(self):
        shutil.rmtree(self.root)

    def problems(self, text):
        path = os.path.join(self.root, "docs", "page.md")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return [p.message for p in check_docs.check_links(path, text, self.root)]

    def test_links_that_resolve(self):
        for link in ["other.md", "../LICENSE", "other.md#the-api-version-1-json-in-utf-8",
                     "other.md#idcard-serve", "other.md#twice-1", "#here",
                     "https://example.org/nowhere", "mailto:someone@example.org"]:
            with self.subTest(link=link):
                self.assertEqual(self.problems(page("# Here", f"See [it]({link}).")), [])

    def test_links_that_point_nowhere(self):
        for link in ["missing.md", "../docs/missing.md", "other.md#no-such-heading",
                     "other.md#not-a-heading", "#nowhere", "other.md#twice-2"]:
            with self.subTest(link=link):
                found = self.problems(page("# Here", f"See [it]({link})."))
                self.assertEqual(len(found), 1, found)

    def test_links_inside_code_are_not_links(self):
        text = page("# Here", "`[x](missing.md)`", "```md", "[x](missing.md)", "```")
        self.assertEqual(self.problems(text), [])

    def test_html_links_are_followed(self):
        self.assertEqual(len(self.problems(page('<a href="missing.md">x</a>'))), 1)

    def test_slug_of_headings(self):
        for heading, anchor in [("Integrating from C#, Java, Python or Delphi: the packages",
                                 "integrating-from-c-java-python-or-delphi-the-packages"),
                                ("What `dist/` holds", "what-dist-holds"),
                                ("The docs' commands", "the-docs-commands"),
                                ("读卡 and more", "读卡-and-more")]:
            with self.subTest(heading=heading):
                self.assertEqual(check_docs.slug(heading), anchor)


class Running(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.env = check_docs.scratch_env(self.scratch)

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def run_text(self, text, status=0, timeout=20):
        block = check_docs.Block("page.md", 1, "sh", text)
        return check_docs.run_block(block, self.scratch, status, timeout, self.env)

    def test_the_end_of_a_block_is_judged_by_its_status(self):
        cases = [("true\n", 0, True), ("false\n", 0, False), ("exit 2\n", 2, True),
                 ("exit 2\n", 1, False), ("true\n", 1, False),
                 # -e: a failing command in the middle fails the block
                 ("false\ntrue\n", 0, False),
                 # pipefail: a failing command before a pipe fails it too
                 ("false | cat\n", 0, False)]
        for text, status, passes in cases:
            with self.subTest(text=text, status=status):
                self.assertEqual(self.run_text(text, status) is None, passes)

    def test_a_block_runs_in_the_scratch_folder_with_its_own_home(self):
        self.assertIsNone(self.run_text('test "$PWD" = "%s"\ntest "$HOME" = "%s/home"\n'
                                        % (self.scratch, self.scratch)))

    def assert_ended(self, pid_file):
        """The process whose id a block wrote to pid_file ends within 5 s."""
        with open(pid_file) as f:
            pid = int(f.read())
        for _ in range(50):
            if not running(pid):
                break
            time.sleep(0.1)
        self.assertFalse(running(pid), "the block's background process is still running")

    def test_a_block_that_hangs_is_ended_with_what_it_started(self):
        pid_file = os.path.join(self.scratch, "pid")
        started = time.monotonic()
        why = self.run_text(f"sleep 300 & echo $! > {pid_file}\nsleep 300\n", timeout=1)
        self.assertLess(time.monotonic() - started, 30)
        self.assertIn("did not end", why)
        self.assert_ended(pid_file)

    def test_a_background_process_of_a_block_that_passed_is_ended(self):
        pid_file = os.path.join(self.scratch, "pid")
        self.assertIsNone(self.run_text(f"sleep 300 & echo $! > {pid_file}\n"))
        self.assert_ended(pid_file)


class Pages(unittest.TestCase):
    """A page end to end, without a build: files written for later blocks, blocks in order."""

    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.build = os.path.join(self.root, "build")
        for folder in check_docs.DIST_FOLDERS:
            os.makedirs(os.path.join(self.build, folder, "CMakeFiles"))
        with open(os.path.join(self.build, "tools", "idcard"), "w") as f:
            f.write("#!/bin/sh\necho read\n")
        os.chmod(os.path.join(self.build, "tools", "idcard"), 0o755)
        self.work = os.path.join(self.root, "work")

    def tearDown(self):
        shutil.rmtree(self.root)

    def check(self, text):
        path = os.path.join(self.root, "README.md")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return check_docs.check_doc(path, self.root, self.build, self.work, 20, True)

    def test_a_page_whose_blocks_pass(self):
        text = page("<!-- file: card.json -->", "```json", '{"port": 1003}', "```", "",
                    "```sh", "grep -q 1003 card.json", "dist/linux-x86_64/tools/idcard", "```",
                    "", "<!-- exits 3 -->", "```sh", "exit 3", "```")
        self.assertEqual(self.check(text), [])
        scratch = os.path.join(self.work, "README-md", "dist", "linux-x86_64")
        self.assertFalse(os.path.exists(os.path.join(scratch, "tools", "CMakeFiles")))

    def test_every_faulty_block_is_reported(self):
        text = page("```sh", "false", "```", "", "```bat", "dir", "```", "", "```", "x", "```",
                    "", "```sh", "test -f never-written.json", "```")
        found = self.check(text)
        self.assertEqual([p.where for p in found],
                         ["README.md:1", "README.md:5", "README.md:9", "README.md:13"])


if __name__ == "__main__":
    unittest.main()
