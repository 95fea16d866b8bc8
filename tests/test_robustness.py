# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Seeded random sessions of what people and scripts really type, each run to the
end of its input: the program must write exactly what the model of the dialogue
in harness/dialogue.py writes (so every listing holds exactly the grades it confirmed, as
they were read), end with status 0 and write nothing to standard error."""

import random
import sys
import unittest

from harness.dialogue import model
from tests.test_dialogue import DialogueCase, run

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


class Robustness(DialogueCase):
    def test_random_sessions_write_what_the_model_writes(self):
        sent = 0
        for number in range(SESSIONS):
            stdin = session(random.Random(SEED + number))
            sent += len(stdin)
            with self.subTest(session=number, stdin=stdin[:60]):
                done = run(stdin, timeout=10)
                self.assertSame(done.stdout, model(stdin)[0])
                self.assertEqual(done.returncode, 0)
                self.assertEqual(done.stderr, b"")
        print(f"{SESSIONS} sessions, {sent} bytes of input (seed {SEED})", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
