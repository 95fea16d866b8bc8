# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Seeded random sessions of what people and scripts really type, each run to the
end of its input: the program must write exactly what a small model of the
dialogue writes (so every listing holds exactly the grades it confirmed, as
they were read), end with status 0 and write nothing to standard error."""

import ctypes
import math
import random
import re
import struct
import sys
import unittest

from test_dialogue import (ADDED, INVALID, MENU, NO_GRADES, OUT_OF_RANGE, PROMPT,
                           DialogueCase, run)

SEED = 2026
SESSIONS = 300


def six_digits(r):
    return f"{r.uniform(1, 6):.{r.randint(4, 6)}f}"


ANSWERS = [  # (weight, answer) drawn one at a time; separators come between them
    (30, lambda r: r.choice(["1", "1", "1", "2", "3", "0", "5", "-3", "+2", "01"])),
    (1, lambda r: "4"),
    (25, lambda r: str(r.randint(0, 7))),
    (15, lambda r: f"{r.uniform(-1, 8):.{r.randint(1, 9)}f}"),
    (10, six_digits),
    (4, lambda r: r.choice(["5e0", "4.5E-0", "6.0000001", "0.99999999", ".5", "6.",
                            "1e39", "-1e39", "1e-50", "99999999999", "-0", "5.99999",
                            "1.00001", "5.999995", "1.000005", "2147483648", "-2147483648",
                            "0003", "5.e0", "4e+0", "3e-1e1", "2.5.5"])),
    (8, lambda r: r.choice(["4,5", ",", "+", "-", ".", "e", "5e", "abc", "x1", "1x",
                            "--1", "+-2", "0x5", "inf", "nan", "5e+", ".e1", "1e"])),
    (3, lambda r: r.choice(["\0", "\xff\xfe", "\xe9", "\x80" * 3, "\x7f", "\v", "\f"])),
    (2, lambda r: r.choice("abc,.-9+e") * r.randint(900, 2600)),
]
SEPARATORS = [" ", " ", "\t", "\n", "\n", "\n", "\r\n", "\n\n", "\n \n"]
WEIGHTS = [weight for weight, _ in ANSWERS]


def session(rng):
    parts = []
    if rng.random() < 0.15:  # a long listing: more than a buffer's worth of grades
        for _ in range(rng.randint(100, 1500)):
            parts += ["1 ", six_digits(rng), "\n"]
        parts.append("3\n")
    for _ in range(rng.randint(1, 300)):
        parts.append(rng.choices(ANSWERS, WEIGHTS)[0][1](rng))
        parts.append(rng.choice(SEPARATORS))
    if rng.random() < 0.3:
        parts.pop()  # input ends mid-line
    return "".join(parts).encode("latin-1")


# The model of the dialogue. An answer is the longest field of this shape after
# white space; what follows stays for the next read.
SPACE = b" \t\n\v\f\r"
WHOLE = re.compile(rb"[+-]?[0-9]*")
# Digits with at most one '.', then an exponent only after a digit; a '.' after the
# exponent ends the field.
REAL = re.compile(rb"[+-]?(?:(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]*)?|\.?)")
libc = ctypes.CDLL(None)
libc.strtof.restype = ctypes.c_float
libc.strtof.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]


def single(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def whole_number(field):
    digits = field.lstrip(b"+-")
    if digits and -2**31 <= int(field) < 2**31:
        return int(field)
    return None


def real_number(field):
    # The C library converts, as the program's does: rounded once, to single precision.
    text, end = ctypes.create_string_buffer(field), ctypes.c_void_p()
    value = libc.strtof(text, ctypes.byref(end))
    if not field or end.value != ctypes.addressof(text) + len(field) or math.isinf(value):
        return None
    return value


class EndOfInput(Exception):
    pass


def model(stdin):
    """The exact bytes the program writes for stdin."""
    out, grades, at = [], [], 0

    def read(shape, convert):
        """The answer, or None for an unreadable one, whose line is then discarded."""
        nonlocal at
        while at < len(stdin) and stdin[at] in SPACE:
            at += 1
        field = shape.match(stdin, at).group()
        at += len(field)
        value = convert(field)
        if at == len(stdin) and value is None:  # the read met the end of input
            raise EndOfInput
        if value is None:
            newline = stdin.find(b"\n", at, at + 1000)
            at = newline + 1 if newline >= 0 else min(at + 1000, len(stdin))
            out.append(INVALID)
        return value

    try:
        while True:
            out.append(MENU)
            choice = read(WHOLE, whole_number)
            if choice == 1:
                while True:
                    out.append(PROMPT)
                    grade = read(REAL, real_number)
                    if grade is not None and 1 <= grade <= 6:
                        grades.append(grade)
                        out.append(ADDED)
                        break
                    if grade is not None:
                        out.append(OUT_OF_RANGE)
            elif choice == 2 and grades:
                total = 0.0
                for grade in grades:
                    total = single(total + grade)
                out.append(b"Srednia: %g\n" % single(total / len(grades)))
            elif choice == 2:
                out.append(NO_GRADES)
            elif choice == 3:
                out.append(b"Oceny:" + b"".join(b"%g," % grade for grade in grades) + b"\n")
            elif choice == 4:
                break
    except EndOfInput:
        pass
    return b"".join(out)


class Robustness(DialogueCase):
    def test_random_sessions_write_what_the_model_writes(self):
        sent = 0
        for number in range(SESSIONS):
            stdin = session(random.Random(SEED + number))
            sent += len(stdin)
            with self.subTest(session=number, stdin=stdin[:60]):
                done = run(stdin, timeout=10)
                self.assertSame(done.stdout, model(stdin))
                self.assertEqual(done.returncode, 0)
                self.assertEqual(done.stderr, b"")
        print(f"{SESSIONS} sessions, {sent} bytes of input (seed {SEED})", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
