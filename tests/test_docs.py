# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""The sessions that the documents show, run against the program as they stand.

A session is a literal block that holds the menu, read as a terminal shows it: the
answers typed after the menu and after the grade's prompt, each followed by the
program's output; or a block of `$ ` commands that run gradebook, with their output
below them, run by the shell. In either, "..." stands for the menu's other four
lines."""

import os
import re
import shlex
import stat
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness.dialogue import ADDED, INVALID, MENU_LINES, OUT_OF_RANGE, PROMPT
from tests.test_dialogue import COMMAND, TIMEOUT, DialogueCase, as_lf

ROOT = Path(__file__).resolve().parent.parent
FIRST, LAST, REST = MENU_LINES[0].decode()[:-1], MENU_LINES[-1].decode()[:-1], "..."
REPLIES = {text.decode()[:-1] for text in (ADDED, OUT_OF_RANGE, INVALID)}
# The command that starts the program alone, and a shell's prompt with nothing typed.
STARTS = re.compile(r"(\$ |C:\\\S*>)gradebook(\.exe)?")
SHELL = re.compile(r"\$|C:\\\S*>")


def markdown(text):
    return re.findall(r"^```\n(.*?)^```$", text, re.M | re.S)


def roff(text):
    """The literal blocks of an mdoc page (.Bd -literal) or of a man page (.EX)."""
    blocks = re.findall(r"^\.(?:Bd -literal.*?|EX)\n(.*?)^\.(?:Ed|EE)$", text, re.M | re.S)
    escapes = {"\\&": "", "\\e": "\\", "\\-": "-"}
    return [re.sub(r"\\[&e-]", lambda m: escapes[m[0]], block) for block in blocks]


def indented(text):
    """The runs of lines indented by two spaces, blank lines within them included."""
    runs = re.findall(r"(?:^(?:  .*)?\n)+", text, re.M)
    return [re.sub(r"^  ", "", run.strip("\n") + "\n", flags=re.M) for run in runs]


# Each document, how its literal blocks are found, the mark it shows before each
# answer typed, how many sessions it shows (a session that no longer reads as one
# fails too), and the most lines it may have, so that a newcomer reads it whole.
DOCUMENTS = [
    ("README.md", markdown, "> ", 1, 120),
    ("CONTRIBUTING.md", markdown, "> ", 0, 150),
    ("doc/gradebook.1", roff, "", 4, None),
    ("doc/gradebook.pl.1", roff, "", 4, None),
    ("doc/README-windows.txt", indented, "", 1, None),
]


def sessions(path, blocks, mark):
    for block in blocks((ROOT / path).read_text(encoding="utf-8-sig")):
        lines = block.replace("\r\n", "\n").splitlines()
        if any(line.startswith("$ ") and not STARTS.fullmatch(line) for line in lines):
            yield "shell", lines
        elif FIRST in lines:
            yield "terminal", lines


def expand(line):
    return [text.decode()[:-1] for text in MENU_LINES[1:]] if line == REST else [line]


def typed(answer, mark, line):
    if not answer.startswith(mark):
        raise AssertionError(f"no {mark!r} before the answer in {line!r}")
    return answer[len(mark):] + "\n"


def terminal(lines, mark):
    """The bytes typed and the bytes written in a session as a terminal shows it."""
    stdin, stdout, at_menu = "", "", False
    lines = lines[1:] if STARTS.fullmatch(lines[0]) else lines
    for at, line in enumerate(lines):
        # The shell's prompt ends the session, with the empty line cmd puts before it.
        after = lines[at + 1] if at + 1 < len(lines) else ""
        if SHELL.fullmatch(line) or not line and SHELL.fullmatch(after):
            break
        if at_menu:  # the menu's answer, on a line of its own
            stdin += typed(line, mark, line)
            at_menu = False
        elif line.startswith(PROMPT.decode()) and line[len(PROMPT):] not in REPLIES:
            stdout += PROMPT.decode()
            stdin += typed(line[len(PROMPT):], mark, line)
        else:
            stdout += "".join(shown + "\n" for shown in expand(line))
            at_menu = line in (LAST, REST)
    return stdin.encode(), stdout.encode()


class DocumentedSessions(DialogueCase):
    def setUp(self):
        # The shell's gradebook: the program under test, from any folder.
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.folder = Path(scratch.name)
        (self.folder / "bin").mkdir()
        wrapper = self.folder / "bin" / "gradebook"
        words = [os.path.abspath(w) if os.path.exists(w) else w for w in COMMAND]
        wrapper.write_text(f'#!/bin/sh\nexec {shlex.join(words)} "$@"\n')
        wrapper.chmod(stat.S_IRWXU)

    def run_shell(self, lines):
        commands = "\n".join(line[2:] for line in lines if line.startswith("$ "))
        path = f"{self.folder / 'bin'}{os.pathsep}{os.environ['PATH']}"
        done = subprocess.run(["sh", "-ec", commands], capture_output=True, timeout=TIMEOUT,
                              cwd=self.folder, env={**os.environ, "PATH": path})
        shown = [text for line in lines if not line.startswith("$ ") for text in expand(line)]
        self.assertEqual(as_lf(done.stdout).decode(), "".join(s + "\n" for s in shown))
        self.assertEqual((done.returncode, done.stderr), (0, b""))

    def test_every_session_shown_runs_as_shown(self):
        for path, blocks, mark, count, _ in DOCUMENTS:
            found = list(sessions(path, blocks, mark))
            with self.subTest(path):
                self.assertEqual(len(found), count, "sessions found")
            for number, (kind, lines) in enumerate(found, 1):
                with self.subTest(path, session=number):
                    if kind == "shell":
                        self.run_shell(lines)
                    else:
                        self.check(*terminal(lines, mark))

    def test_no_document_outgrows_its_length(self):
        for path, _, _, _, most in DOCUMENTS:
            if most is not None:
                with self.subTest(path):
                    lines = (ROOT / path).read_text(encoding="utf-8").splitlines()
                    self.assertLessEqual(len(lines), most, "lines")


if __name__ == "__main__":
    unittest.main()
