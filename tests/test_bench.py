# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Tests of what the benchmark relies on: that the program flushes where harness/session.py
expects for its sessions, and bench/flush_reference, which replays their output.

The benchmark compares the program's time with the reference's, so both must write
what the program writes, byte for byte, and flush where the program flushes.
GRADEBOOK holds the program as a command; FLUSH_REFERENCE the reference's path
(by default bench/flush_reference beside the program). The write() pieces are
checked with strace, which must be installed: without it those tests fail.
"""

import itertools
import os
import re
import subprocess
import tempfile
import unittest
from array import array
from pathlib import Path

from harness import session
from harness.dialogue import LISTING, listing
from tests.test_dialogue import COMMAND, DialogueCase

REFERENCE = os.environ.get("FLUSH_REFERENCE",
                           str(Path(COMMAND[-1]).parent / "bench" / "flush_reference"))
TIMEOUT = 60  # only a guard against a hang, never a measure


def listing_of(length):
    """Answers whose listing line, its start to its "\n", is `length` bytes long."""
    rest = length - len(listing())
    short = next(n for n in range(5) if (rest - 2 * n) % 5 == 0)  # "5," takes 2 bytes
    grades = ["5"] * short + ["3.25"] * ((rest - 2 * short) // 5)  # "3.25," 5
    return [answer for grade in grades for answer in ("1", grade)] + ["3", "4"]


# strace is slow: the sessions are small, yet their listings go up to a buffer
# (4096 bytes) and past it.
SESSIONS = [("no grades", session.answers(0)),
            ("a mix of 300", session.answers(300, seed=7)),
            ("a mix of 700", session.answers(700, seed=2))]
SESSIONS += [(f"a listing of {n} bytes", listing_of(n)) for n in (4095, 4096, 4097, 9000)]
CALL = re.compile(rb"(write|writev)\((\d+), (.*), (\d+)\) += (\d+)")


def written(line):
    """The bytes one whole write() or writev() to standard output wrote, or None
    for a write elsewhere (AddressSanitizer's runtime writes to a pipe of its own)."""
    call = CALL.fullmatch(line)
    if not call:
        raise AssertionError(f"not a whole write: {line[:60]!r}")
    asked = (int(call[4]) if call[1] == b"write"
             else sum(map(int, re.findall(rb"iov_len=(\d+)", call[3]))))
    if asked != int(call[5]):
        raise AssertionError(f"a short write: {line[:60]!r}")
    return asked if call[2] == b"1" else None


def traced(command, stdin, stdout):
    """The lengths of command's write() calls to standard output, a writev() as one."""
    with tempfile.TemporaryDirectory() as scratch:
        log = Path(scratch) / "trace"
        subprocess.run(["strace", "-qq", "-e", "trace=write,writev", "-e", "signal=none",
                        "-o", log, *command], input=stdin, stdout=stdout, check=True,
                       timeout=TIMEOUT,  # and LeakSanitizer would refuse to run under strace
                       env={**os.environ, "ASAN_OPTIONS": "detect_leaks=0"})
        calls = [written(line) for line in log.read_bytes().splitlines()]
    return [length for length in calls if length is not None]


def flush_points(pieces, data):
    """Where the pieces of data end, but for the ends inside a line longer than the
    buffer: how such a line is cut into write() calls is the library's business."""
    long_lines = [line.span() for line in
                  re.finditer(rb"[^\n]{%d,}\n" % session.BUFFER, data)]
    return [end for end in itertools.accumulate(pieces)
            if not any(start < end < stop for start, stop in long_lines)]


class Flushes(DialogueCase):
    @unittest.skipUnless(len(COMMAND) == 1, "the program is behind a launcher")
    def test_the_program_flushes_where_expected(self):
        for name, typed in SESSIONS:
            data, flushes = session.dialogue(typed)
            for stdout in (subprocess.PIPE, subprocess.DEVNULL):
                with self.subTest(name, stdout=stdout):
                    pieces = traced(COMMAND, session.script(typed), stdout)
                    self.assertSame(flush_points(pieces, data), flushes.tolist())

    @unittest.skipUnless(len(COMMAND) == 1, "the program is behind a launcher")
    def test_a_write_that_fails_once_ends_the_run(self):
        # EAGAIN, as from a full non-blocking pipe: a retry would succeed, but the
        # output already has a hole, so nothing more may follow it.
        typed = SESSIONS[-1][1]  # a listing longer than two buffers
        data = bytes(session.dialogue(typed)[0])
        pieces = traced(COMMAND, session.script(typed), subprocess.PIPE)
        ends = list(itertools.accumulate(pieces))
        listing_at = data.index(LISTING)
        first = next(n for n, end in enumerate(ends) if end > listing_at)
        last = ends.index(data.index(b"\n", listing_at) + 1)  # written by the line's flush
        for failing in (first, first + 1, last):
            with self.subTest(failing=failing):
                done = subprocess.run(
                    ["strace", "-qq", "-o", os.devnull, "-e", "trace=write", "-e",
                     f"inject=write:error=EAGAIN:when={failing + 1}", *COMMAND],
                    input=session.script(typed), capture_output=True, timeout=TIMEOUT)
                self.assertSame(done.stdout, data[:ends[failing - 1]])
                self.assertEqual((done.returncode, done.stderr), (1, b""))


def replay(data, pieces, args=None):
    """Runs the reference on data recorded in pieces (or with args instead of the
    recording's files): the finished run, and its write() pieces when traced."""
    with tempfile.TemporaryDirectory() as scratch:
        output, lengths = Path(scratch) / "out", Path(scratch) / "pieces"
        output.write_bytes(data)
        lengths.write_bytes(array("I", pieces).tobytes())
        command = [REFERENCE, *map(str, args or (output, lengths))]
        done = subprocess.run(command, capture_output=True, timeout=TIMEOUT)
        if done.returncode != 0:
            return done, None
        return done, traced(command, b"", subprocess.PIPE)


@unittest.skipUnless(os.access(REFERENCE, os.X_OK),
                     f"no flush reference at {REFERENCE}: build it, or set FLUSH_REFERENCE")
class FlushReference(DialogueCase):
    def test_replays_the_output_in_its_pieces(self):
        for name, typed in SESSIONS[1:2] + SESSIONS[-1:]:
            with self.subTest(name):
                data, flushes = session.dialogue(typed)
                expected = session.pieces(flushes)
                done, pieces = replay(data, expected)
                self.assertEqual(done.returncode, 0)
                self.assertSame(done.stdout, bytes(data))
                self.assertSame(pieces, expected.tolist())

    def test_refuses_a_recording_that_does_not_add_up(self):
        for data, pieces, args, complaint in [
                (b"abc", [2], None, b"output left after the last piece"),
                (b"abc", [2, 2], None, b"longer than"),
                (b"a" * 70_000, [70_000], None, b"longer than the buffer"),
                (b"abc", [3], ["/nonexistent", "/nonexistent"], b"cannot read"),
                (b"abc", [3], ["only-one"], b"usage")]:
            with self.subTest(pieces=pieces, args=args):
                done, _ = replay(data, pieces, args)
                self.assertEqual(done.returncode, 1)
                self.assertIn(complaint, done.stderr)


if __name__ == "__main__":
    unittest.main()
