# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""The web build's list of the functions that can be on the stack while the program
waits for input, web/read-path.txt, against the linked module's direct calls as
wasm-opt prints them: every listed function must be in the module, and every
function reachable from _start or from the listed ones that calls a listed one (or
fd_read) must be listed, or marked as one that never waits.

GRADEBOOK_LINKED names the linked module (build-web/gradebook-linked.wasm) and
WASM_OPT wasm-opt (default: wasm-opt)."""

import os
import re
import subprocess
import unittest
from pathlib import Path

READ_PATH = Path(__file__).resolve().parent.parent / "web" / "read-path.txt"
FD_READ = "__imported_wasi_snapshot_preview1_fd_read"


def read_list(text):
    """The listed functions and those marked as never waiting."""
    names = [line for line in text.splitlines() if line and not line.startswith("#")]
    return ({n for n in names if not n.startswith("-")},
            {n[1:] for n in names if n.startswith("-")})


NAME = r'"((?:[^"\\]|\\.)*)"'  # a function's name in wasm-opt's graph


def unescape(name):
    """A name as the module has it: wasm-opt writes some bytes as \\XX."""
    return re.sub(r"\\([0-9a-f]{2})", lambda m: chr(int(m[1], 16)), name)


def call_graph(dot):
    """The functions and the (caller, callee) pairs of wasm-opt's --print-call-graph."""
    functions = {unescape(n) for n in re.findall(rf"^\s*{NAME} \[", dot, re.M)}
    calls = {(unescape(a), unescape(b))
             for a, b in re.findall(rf"^\s*{NAME} -> {NAME}; // call$", dot, re.M)}
    return functions, calls


def problems(listed, never_wait, calls, functions):
    """What is wrong with the list for a module of these functions and calls."""
    found = [f"{name}: not in the module" for name in sorted((listed | never_wait) - functions)]
    reached, todo = set(), ["_start", *listed]
    while todo:
        caller = todo.pop()
        if caller not in reached:
            reached.add(caller)
            todo += [callee for c, callee in calls if c == caller]
    waiting = listed | {FD_READ}
    for caller, callee in sorted(calls):
        if callee in waiting and caller in reached and caller not in listed | never_wait:
            found.append(f"{caller}: calls {callee}, and is not listed")
    for name in sorted(never_wait):
        if not any(caller == name and callee in waiting for caller, callee in calls):
            found.append(f"{name}: marked, but calls no listed function")
    return found


class ReadPath(unittest.TestCase):
    def test_faults_are_found(self):
        calls = {("_start", "main"), ("main", "ask"), ("ask", "getc"), ("getc", FD_READ),
                 ("main", "strtof"), ("strtof", "shgetc"), ("shgetc", "getc")}
        functions = {name for pair in calls for name in pair}
        whole = {"_start", "main", "ask", "getc"}
        for listed, never_wait, expected in [
                (whole, {"shgetc"}, []),
                (whole - {"ask"}, {"shgetc"}, ["ask: calls getc, and is not listed"]),
                (whole, set(), ["shgetc: calls getc, and is not listed"]),
                (whole | {"gone"}, {"shgetc"}, ["gone: not in the module"]),
                (whole, {"shgetc", "strtof"}, ["strtof: marked, but calls no listed function"])]:
            with self.subTest(listed=listed, never_wait=never_wait):
                self.assertEqual(problems(listed, never_wait, calls, functions), expected)

    def test_the_list_matches_the_module(self):
        linked = os.environ.get("GRADEBOOK_LINKED")
        if not linked:
            self.skipTest("GRADEBOOK_LINKED is not set: set it to the web build's "
                          "gradebook-linked.wasm")
        dot = subprocess.run([os.environ.get("WASM_OPT", "wasm-opt"), linked,
                              "--print-call-graph", "-o", os.devnull],
                             capture_output=True, text=True, check=True).stdout
        functions, calls = call_graph(dot)
        self.assertEqual(problems(*read_list(READ_PATH.read_text()), calls, functions), [])


if __name__ == "__main__":
    unittest.main()
