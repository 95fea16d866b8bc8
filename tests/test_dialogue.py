# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Black-box tests of gradebook: bytes in on standard input, the exact bytes out.

GRADEBOOK holds the program to run as a command: a path, optionally behind a
launcher. From the top of the source tree, run one group with `python3 -m
tests.test_dialogue Menu`, all of this file without the group, or every test with
`python3 -m unittest discover -s tests -t .`.
"""

import os
import re
import resource
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from harness.dialogue import (ADDED, INVALID, MENU, NO_GRADES, OUT_OF_RANGE, PROMPT,
                              average, listing)

if not os.environ.get("GRADEBOOK"):
    # Every test needs it: one line and out, rather than a failed import per file.
    print("Set GRADEBOOK to the program to test, as in: "
          "GRADEBOOK=build/gradebook python3 -m unittest discover -s tests -t .",
          file=sys.stderr, flush=True)
    os._exit(2)
COMMAND = shlex.split(os.environ["GRADEBOOK"])
TIMEOUT = 30  # only a guard against a hang, never a measure
# A Windows build writes CR LF line ends; the bytes are compared with those made LF.
CRLF = os.environ.get("GRADEBOOK_CRLF") == "1"
# A sanitizer build is told by its runtime, or by GRADEBOOK_SANITIZED=1.
PROGRAM = shutil.which(COMMAND[-1])
SANITIZED = (os.environ.get("GRADEBOOK_SANITIZED") == "1"
             or PROGRAM is not None and b"__asan_init" in open(PROGRAM, "rb").read())


def as_lf(output):
    return output.replace(b"\r\n", b"\n") if CRLF else output


def run(stdin, args=(), timeout=TIMEOUT, **popen):
    done = subprocess.run(COMMAND + list(args), input=stdin, capture_output=True,
                          timeout=timeout, **popen)
    done.stdout = as_lf(done.stdout)
    return done


class DialogueCase(unittest.TestCase):
    def check(self, stdin, stdout, status=0, args=()):
        done = run(stdin, args)
        self.assertEqual(done.stdout, stdout)
        self.assertEqual(done.returncode, status)
        self.assertEqual(done.stderr, b"")

    def check_table(self, cases):
        for stdin, stdout in cases:
            with self.subTest(stdin=stdin[:40]):
                self.check(stdin, stdout)

    def assertSame(self, got, expected):
        """assertEqual for long sequences: names where they first differ, without a diff."""
        if got != expected:
            at = next((i for i, (g, e) in enumerate(zip(got, expected)) if g != e),
                      min(len(got), len(expected)))
            self.fail(f"from {at} on, {got[at:at + 40]!r} instead of "
                      f"{expected[at:at + 40]!r} (lengths {len(got)}, {len(expected)})")


class Menu(DialogueCase):
    def test_answers(self):
        self.check_table([
            (b"4\n", MENU),
            (b"4x\n", MENU),
            (b"0\n5\n-3\n4\n", MENU * 4),
            (b"\n\n  \n4\n", MENU),
            (b"x\n4\n", MENU + INVALID + MENU),
            (b"99999999999\n4\n", MENU + INVALID + MENU),
            (b"+2\n4\n", MENU + NO_GRADES + MENU),
            # What follows the number on its line is the next read's answer.
            (b"1 5\n4\n", MENU + PROMPT + ADDED + MENU),
            (b"1.5\n4\n4\n", MENU + PROMPT + OUT_OF_RANGE + PROMPT + ADDED + MENU),
            (b"3.5\n4\n", MENU + listing() + MENU + INVALID + MENU),
        ])

    def test_long_lines_are_discarded_1000_characters_at_a_time(self):
        for length, messages in [(999, 1), (1000, 1), (1001, 2), (2500, 3), (3001, 4)]:
            with self.subTest(length=length):
                self.check(b"a" * length + b"\n4\n", MENU + (INVALID + MENU) * messages)
                self.check(b"1\n" + b"a" * length + b"\n5\n4\n",
                           MENU + (PROMPT + INVALID) * messages + PROMPT + ADDED + MENU)


def add_and_list(typed):
    return b"1\n" + typed + b"\n3\n4\n"


class GradeEntry(DialogueCase):
    def test_accepted_grades_are_stored_as_read(self):
        self.check_table([
            (add_and_list(typed.encode()), MENU + PROMPT + ADDED + MENU + listing(shown) + MENU)
            for typed, shown in [("1", "1"), ("6", "6"), ("4.5", "4.5"), ("5e0", "5"),
                                 ("+3", "3"), ("  3.25", "3.25"), ("4.1", "4.1"),
                                 ("6.0000001", "6"), ("0.99999999", "1"), ("1E0", "1"),
                                 ("1.015625", "1.01562")]  # a tie, to even
        ])

    def test_refused_and_unreadable_grades_ask_again(self):
        again = [(typed, OUT_OF_RANGE) for typed in
                 ("0.5", "0", "6.5", "7", "-2", ".5", "6.000001", "1e-50", "-0")]
        again += [(typed, INVALID) for typed in ("x", "1e39", "-1e39", ",5", "e5", "-")]
        self.check_table([
            (b"1\n" + typed.encode() + b"\n5\n4\n",
             MENU + PROMPT + message + PROMPT + ADDED + MENU)
            for typed, message in again
        ])

    def test_answers_on_one_line_are_taken_in_turn(self):
        self.check_table([
            (b"1\n7 8 5\n4\n",
             MENU + PROMPT + OUT_OF_RANGE + PROMPT + OUT_OF_RANGE + PROMPT + ADDED + MENU),
            # A comma is no decimal point: 4 is stored, ",5" meets the menu.
            (b"1\n4,5\n3\n4\n", MENU + PROMPT + ADDED + MENU + INVALID + MENU
             + listing("4") + MENU),
        ])


def grades_then(grades, options):
    return b"".join(b"1 " + g.encode() + b"\n" for g in grades) + options


class Reports(DialogueCase):
    def test_empty_list(self):
        self.check(b"3\n2\n4\n", MENU + listing() + MENU + NO_GRADES + MENU)

    def test_listing_keeps_order_and_repeats(self):
        entered = ["5", "4.5", "3.25", "5"]
        self.check(grades_then(entered, b"3\n3\n4\n"),
                   MENU + (PROMPT + ADDED + MENU) * 4 + (listing(*entered) + MENU) * 2)

    def test_long_listing_shows_every_grade_to_six_digits(self):
        # More grades than fit the output buffer's 4096 bytes, each listed as typed.
        entered = [f"{1 + i * 0.00831:.5f}".rstrip("0").rstrip(".") for i in range(600)]
        self.check(grades_then(entered, b"3\n4\n"),
                   MENU + (PROMPT + ADDED + MENU) * 600 + listing(*entered) + MENU)

    def test_averages_are_single_precision(self):
        self.check_table([
            (grades_then(grades, b"2\n4\n"),
             MENU + (PROMPT + ADDED + MENU) * len(grades)
             + average(mean) + MENU)
            for grades, mean in [(["4", "4", "5"], "4.33333"), (["2", "3", "3"], "2.66667"),
                                 (["5", "4.5"], "4.75"), (["6"], "6"), (["1.015625"], "1.01562"),
                                 (["5.7"] * 87, "5.70001"), (["5.3"] * 95, "5.29999"),
                                 # the sum 4.000005 a tie, rounded to even (else 1.33334)
                                 (["1.000005", "2", "1"], "1.33333")]
        ])


class EndOfInput(DialogueCase):
    def test_end_of_input_ends_the_run_with_status_0(self):
        self.check_table([
            (b"", MENU),
            (b"\n\n", MENU),
            (b"4", MENU),
            (b"abc", MENU + INVALID + MENU),
            (b"a" * 2500, MENU + (INVALID + MENU) * 3),
            (b"1", MENU + PROMPT),
            (b"1\n  \n", MENU + PROMPT),
            (b"1\n7", MENU + PROMPT + OUT_OF_RANGE + PROMPT),
            (b"1\nabc", MENU + PROMPT + INVALID + PROMPT),
            (b"1\n5", MENU + PROMPT + ADDED + MENU),
            (b"1\n9999999999999999999999999999999999999999", MENU + PROMPT),
        ])


class Reading(DialogueCase):
    """An answer ends where the reading rules end it, whatever library built the
    program: no hex, no inf or nan, no letters taken after the digits; what
    follows is the next read's answer."""

    def test_fields_end_where_the_rules_end_them(self):
        added = MENU + PROMPT + ADDED + MENU
        again = [  # at the grade prompt, then 5 is added
            (b"0x1", OUT_OF_RANGE + PROMPT + INVALID),  # 0, then "x1"
            (b"1e-50", OUT_OF_RANGE),  # too small for a float: read as 0
            (b"1e-40", OUT_OF_RANGE),  # read as a subnormal
        ] + [(word, INVALID) for word in (b"inf", b"-INF", b"+Infinity", b"nan", b"NaN")]
        self.check_table(
            [(b"1\n" + typed + b"\n5\n4\n", MENU + PROMPT + message + PROMPT + ADDED + MENU)
             for typed, message in again]
            # A letter right after a grade's digits is the menu's answer.
            + [(b"1\n5" + bytes([letter]) + b"\n4\n", added + INVALID + MENU)
               for letter in b"afAFxXpPiInN"]
            + [
                (b"1\n5" + b"a" * 1500 + b"\n4\n", added + (INVALID + MENU) * 2),
                (b"1\n5a", added + INVALID + MENU),  # the letter ends the input
                # A '.' after the exponent ends the grade, and meets the menu.
                (b"1\n5e0.5\n4\n", added + INVALID + MENU),
                (b"1\n2E+0.\n4\n", added + INVALID + MENU),
                # What a failed field took shows where the input ends: an exponent
                # only after a digit, a sign always.
                (b"1\n.e", MENU + PROMPT + INVALID + PROMPT),
                (b"1\n-", MENU + PROMPT),
                # The same at the menu.
                (b"0x1\n4\n", MENU + MENU + INVALID + MENU),
                (b"inf\n4\n", MENU + INVALID + MENU),
                (b"nan\n4\n", MENU + INVALID + MENU),
                (b"3a\n4\n", MENU + listing() + MENU + INVALID + MENU),
                (b"3" + b"a" * 1500 + b"\n4\n", MENU + listing() + MENU + (INVALID + MENU) * 2),
                (b"3a", MENU + listing() + MENU + INVALID + MENU),
                (b"1e-50\n5\n4\n", MENU + PROMPT + INVALID + PROMPT + ADDED + MENU),
                # The bytes next to the white space and the digits are neither.
                (b"\b4\n4\n", MENU + INVALID + MENU),
                (b"\x0e4\n4\n", MENU + INVALID + MENU),
                (b"4/\n", MENU),
                (b"4:\n", MENU),
                # Punctuation is no sign, nor a letter an exponent's sign, even at the end.
                (b"!", MENU + INVALID + MENU),
                (b",", MENU + INVALID + MENU),
                (b"1\n!", MENU + PROMPT + INVALID + PROMPT),
                (b"1\n5ex", MENU + PROMPT + INVALID + PROMPT),
            ])


# The fault tests stand in classes of their own, so that one skipped shows as such.
class ReadErrors(unittest.TestCase):
    def test_failing_input_ends_at_once_with_status_1(self):
        directory = os.open("/", os.O_RDONLY)
        self.addCleanup(os.close, directory)
        for name, source in [("directory", {"stdin": directory}),
                             ("closed descriptor", {"preexec_fn": lambda: os.close(0)})]:
            with self.subTest(stdin=name):
                done = subprocess.run(COMMAND, capture_output=True, timeout=TIMEOUT,
                                      **source)
                self.assertEqual(as_lf(done.stdout), MENU)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, b"")


class UnwritableOutput(unittest.TestCase):
    def test_unwritable_output_ends_at_once_with_status_1(self):
        # Input stays open: the program must give up without waiting for an answer.
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        self.addCleanup(os.close, write_end)
        with open("/dev/full", "wb") as full:
            for name, output in [("full device", {"stdout": full}),
                                 ("closed descriptor", {"preexec_fn": lambda: os.close(1)})]:
                with self.subTest(output=name):
                    done = subprocess.run(COMMAND, stdin=read_end, stderr=subprocess.PIPE,
                                          timeout=TIMEOUT, **output)
                    self.assertEqual(done.returncode, 1)
                    self.assertEqual(done.stderr, b"")


class OutputCutShort(unittest.TestCase):
    def test_output_cut_short_ends_with_status_1(self):
        if len(COMMAND) > 1:
            self.skipTest("a launcher's own writes would meet the file size limit")
        dialogue = MENU + PROMPT + OUT_OF_RANGE + PROMPT
        # Cut short at the first menu, and at the last prompt, which only the end of
        # input follows.
        for room in (len(MENU) - 1, len(dialogue) - len(PROMPT)):
            with self.subTest(room=room), tempfile.TemporaryFile() as output:
                done = subprocess.run(COMMAND, input=b"1\n7", stdout=output,
                                      stderr=subprocess.PIPE, timeout=TIMEOUT,
                                      preexec_fn=lambda: limit_file_size(room))
                output.seek(0)
                self.assertEqual(output.read(), dialogue[:room])
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, b"")


class MemoryExhausted(unittest.TestCase):
    def test_exhausted_memory_ends_with_status_1(self):
        if len(COMMAND) > 1:
            self.skipTest("a launcher's address space is not the program's own")
        if SANITIZED:
            self.skipTest("AddressSanitizer reserves more address space than a limit leaves")
        # Little room beyond what the program holds at its first menu: the grade list
        # runs out of it after a few hundred thousand grades.
        child = subprocess.Popen(COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        read_exactly(child.stdout, len(MENU))
        with open(f"/proc/{child.pid}/status") as status:
            kib = int(re.search(r"VmSize:\s*(\d+)", status.read()).group(1))
        child.communicate(b"4\n", timeout=TIMEOUT)
        limit = (kib << 10) + (2 << 20)
        grades = 400_000
        done = run(b"1 5\n" * grades + b"4\n",
                   preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
        added = done.stdout.count(ADDED)
        self.assertEqual(done.stdout, MENU + (PROMPT + ADDED + MENU) * added + PROMPT)
        self.assertTrue(1000 < added < grades, added)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"")


def limit_file_size(size):
    # Ignored, the signal turns a write past the limit into an ordinary failed write.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def read_exactly(stream, size):
    """Reads size bytes (line ends made LF) as they arrive; fails if they do not."""
    data = b""
    deadline = time.monotonic() + TIMEOUT
    while len(as_lf(data)) < size or data.endswith(b"\r"):
        ready, _, _ = select.select([stream], [], [], max(0, deadline - time.monotonic()))
        if not ready:
            raise AssertionError(f"only {data!r} arrived; the rest was never flushed")
        chunk = os.read(stream.fileno(), max(1, size - len(as_lf(data))))
        if not chunk:
            break
        data += chunk
    return as_lf(data)


class Console(DialogueCase):
    def test_arguments_are_ignored(self):
        self.check(b"1 5\n3\n4\n", MENU + PROMPT + ADDED + MENU + listing("5") + MENU,
                   args=["--help", "-", "4"])

    def test_crlf_line_ends_read_like_lf(self):
        self.check_table([
            (b"1\r\n4.5\r\n3\r\n2\r\n4\r\n", MENU + PROMPT + ADDED + MENU + listing("4.5")
             + MENU + average("4.5") + MENU),
            (b"x\r\n4\r\n", MENU + INVALID + MENU),
            (b"1\r\n" + b"a" * 999 + b"\r\n5\r\n4\r\n",
             MENU + PROMPT + INVALID + PROMPT + ADDED + MENU),
        ])

    def test_each_prompt_arrives_before_its_answer_is_sent(self):
        child = subprocess.Popen(COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
        for expected, answer in [(MENU, b"1\n"), (PROMPT, b"x\n"), (INVALID + PROMPT, b"4.5\n"),
                                 (ADDED + MENU, b"3\n"), (listing("4.5") + MENU, b"2\n"),
                                 (average("4.5") + MENU, b"4\n")]:
            self.assertEqual(read_exactly(child.stdout, len(expected)), expected)
            child.stdin.write(answer)
            child.stdin.flush()
        out, err = child.communicate(timeout=TIMEOUT)
        self.assertEqual((out, err, child.returncode), (b"", b"", 0))


if __name__ == "__main__":
    unittest.main()
