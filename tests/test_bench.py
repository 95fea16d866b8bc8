"""Tests of what the benchmark relies on: the output bench/session.py expects for
its sessions, and bench/flush_reference, which replays that output.

The benchmark compares the program's time with the reference's, so both must write
what the program writes, byte for byte and write() for write(). GRADEBOOK holds the
program as a command, FLUSH_REFERENCE the reference's path. The write() pieces are
checked with strace, and skipped without it.
"""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest
from array import array
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
import run as bench  # noqa: E402
import session  # noqa: E402

GRADEBOOK = shlex.split(os.environ["GRADEBOOK"])
REFERENCE = os.environ["FLUSH_REFERENCE"]
TIMEOUT = 60  # only a guard against a hang, never a measure


def listing_of(length):
    """Answers whose listing line, "Oceny:" to its "\n", is `length` bytes long."""
    rest = length - len(b"Oceny:\n")
    short = next(n for n in range(5) if (rest - 2 * n) % 5 == 0)  # "5," takes 2 bytes
    grades = ["5"] * short + ["3.25"] * ((rest - 2 * short) // 5)  # "3.25," 5
    return [answer for grade in grades for answer in ("1", grade)] + ["3", "4"]


# strace is slow: the sessions are small, yet their listings go up to a buffer
# (4096 bytes) and past it.
SESSIONS = [("no grades", session.answers(0)),
            ("a mix of 300", session.answers(300, seed=7)),
            ("a mix of 700", session.answers(700, seed=2))]
SESSIONS += [(f"a listing of {n} bytes", listing_of(n)) for n in (4095, 4096, 4097)]


def traced(command, stdin, stdout):
    """The write() pieces of command, its output going to stdout."""
    with tempfile.TemporaryDirectory() as scratch:
        log = Path(scratch) / "trace"
        subprocess.run([*bench.STRACE, str(log), *command], input=stdin, stdout=stdout,
                       check=True, timeout=TIMEOUT)
        return bench.write_pieces(log.read_bytes())


def can_trace(command):
    return shutil.which("strace") and len(command) == 1


class Case(unittest.TestCase):
    def assertSame(self, got, expected):
        """assertEqual for long sequences: names where they first differ, without a diff."""
        if got != expected:
            at = next((i for i, (g, e) in enumerate(zip(got, expected)) if g != e),
                      min(len(got), len(expected)))
            self.fail(f"from {at} on, {got[at:at + 8]!r} instead of "
                      f"{expected[at:at + 8]!r} (lengths {len(got)}, {len(expected)})")


class ExpectedOutput(Case):
    def test_the_program_writes_what_is_expected(self):
        for name, typed in SESSIONS:
            with self.subTest(name):
                done = subprocess.run(GRADEBOOK, input=session.script(typed),
                                      capture_output=True, timeout=TIMEOUT)
                self.assertSame(done.stdout, bytes(session.dialogue(typed).data))

    @unittest.skipUnless(can_trace(GRADEBOOK), "strace not found, or a launcher")
    def test_the_program_writes_in_the_expected_pieces(self):
        for name, typed in SESSIONS:
            for stdout in (subprocess.PIPE, subprocess.DEVNULL):
                with self.subTest(name, stdout=stdout):
                    self.assertSame(traced(GRADEBOOK, session.script(typed), stdout),
                                    session.dialogue(typed).pieces.tolist())

    def test_sessions_hold_their_grades_and_the_mix(self):
        typed = session.answers(2000, seed=1)
        out = bytes(session.dialogue(typed).data)
        listed = out.split(b"Oceny:")[1].split(b"\n")[0].split(b",")[:-1]
        self.assertEqual((len(listed), out.count(session.ADDED)), (2000, 2000))
        self.assertEqual({b"." in grade for grade in listed}, {True, False})
        for text in (session.OUT_OF_RANGE, session.INVALID, b"Srednia: "):
            self.assertTrue(text in out, text)
        self.assertEqual(typed, session.answers(2000, seed=1))
        self.assertNotEqual(typed, session.answers(2000, seed=2))


def replay(data, pieces, args=None):
    """Runs the reference on data recorded in pieces (or with args instead of the
    recording's files): the finished run, and its write() pieces when traced."""
    with tempfile.TemporaryDirectory() as scratch:
        output, lengths = Path(scratch) / "out", Path(scratch) / "pieces"
        output.write_bytes(data)
        lengths.write_bytes(array("I", pieces).tobytes())
        command = [REFERENCE, *map(str, args or (output, lengths))]
        done = subprocess.run(command, capture_output=True, timeout=TIMEOUT)
        if done.returncode != 0 or not shutil.which("strace"):
            return done, None
        return done, traced(command, b"", subprocess.PIPE)


class FlushReference(Case):
    def test_replays_the_output_in_its_pieces(self):
        for name, typed in SESSIONS[1:2] + SESSIONS[-1:]:
            with self.subTest(name):
                out = session.dialogue(typed)
                done, pieces = replay(out.data, out.pieces)
                self.assertEqual(done.returncode, 0)
                self.assertSame(done.stdout, bytes(out.data))
                if pieces is not None:
                    self.assertSame(pieces, out.pieces.tolist())

    def test_refuses_a_recording_that_does_not_add_up(self):
        for data, pieces, args, complaint in [
                (b"abc", [2], None, b"output left after the last piece"),
                (b"abc", [2, 2], None, b"longer than"),
                (b"a" * 70_000, [70_000], None, b"longer than the output buffer"),
                (b"abc", [3], ["/nonexistent", "/nonexistent"], b"cannot open"),
                (b"abc", [3], ["only-one"], b"usage")]:
            with self.subTest(pieces=pieces, args=args):
                done, _ = replay(data, pieces, args)
                self.assertEqual(done.returncode, 1)
                self.assertIn(complaint, done.stderr)


if __name__ == "__main__":
    unittest.main()
