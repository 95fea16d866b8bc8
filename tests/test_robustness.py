"""Seeded random sessions of what people and scripts really type, each run to the
end of its input: the program must end cleanly and say only its own texts, and
every listing must hold exactly the grades it confirmed."""

import random
import re
import sys
import unittest

from test_dialogue import (ADDED, INVALID, MENU, NO_GRADES, OUT_OF_RANGE, PROMPT,
                           run)

SEED = 2026
SESSIONS = 300

ANSWERS = [  # (weight, answer) drawn one at a time; separators come between them
    (30, lambda r: r.choice(["1", "1", "1", "2", "3", "0", "5", "-3", "+2", "01"])),
    (1, lambda r: "4"),
    (25, lambda r: str(r.randint(0, 7))),
    (15, lambda r: f"{r.uniform(-1, 8):.{r.randint(1, 9)}f}"),
    (4, lambda r: r.choice(["5e0", "4.5E-0", "6.0000001", "0.99999999", ".5", "6.",
                            "1e39", "-1e39", "1e-50", "99999999999", "-0"])),
    (8, lambda r: r.choice(["4,5", ",", "+", "-", ".", "e", "5e", "abc", "x1", "1x",
                            "--1", "+-2", "0x5", "inf", "nan"])),
    (3, lambda r: r.choice(["\0", "\xff\xfe", "\xe9", "\x80" * 3, "\x7f"])),
    (2, lambda r: r.choice("abc,.-9") * r.randint(900, 2600)),
]
SEPARATORS = [" ", " ", "\t", "\n", "\n", "\n", "\r\n", "\n\n", "\n \n"]
WEIGHTS = [weight for weight, _ in ANSWERS]

NUMBER = rb"[1-6](?:\.[0-9]{0,4}[1-9])?"
TEXTS = re.compile(b"|".join([
    b"(?P<menu>" + re.escape(MENU) + b")",
    b"(?P<prompt>" + re.escape(PROMPT) + b")",
    b"(?P<added>" + re.escape(ADDED) + b")",
    b"(?P<refused>" + re.escape(OUT_OF_RANGE) + b"|" + re.escape(INVALID) + b")",
    b"(?P<no_grades>" + re.escape(NO_GRADES) + b")",
    b"(?P<average>Srednia: (?P<mean>" + NUMBER + b")\n)",
    b"(?P<listing>Oceny:(?P<grades>(?:" + NUMBER + b",)*)\n)",
]))
# What may follow each state of the dialogue, and the state it leads to. The
# program may stop where input ends: at a menu or at the grade prompt.
DIALOGUE = {
    "start": {"menu": "menu"},
    "menu": {"menu": "menu", "prompt": "prompt", "refused": "answered",
             "no_grades": "answered", "average": "answered", "listing": "answered"},
    "answered": {"menu": "menu"},
    "prompt": {"added": "answered", "refused": "asked again"},
    "asked again": {"prompt": "prompt"},
}
MAY_END = {"menu", "prompt"}


def session(rng):
    parts = []
    for _ in range(rng.randint(1, 300)):
        parts.append(rng.choices(ANSWERS, WEIGHTS)[0][1](rng))
        parts.append(rng.choice(SEPARATORS))
    if rng.random() < 0.3:
        parts.pop()  # input ends mid-line
    return "".join(parts).encode("latin-1")


class Robustness(unittest.TestCase):
    def check_dialogue(self, output):
        state, confirmed, listed = "start", 0, None
        position = 0
        while position < len(output):
            text = TEXTS.match(output, position)
            self.assertIsNotNone(text, f"not the program's text: {output[position:][:80]!r}")
            self.assertIn(text.lastgroup, DIALOGUE[state], f"{text.group()!r} after {state}")
            state = DIALOGUE[state][text.lastgroup]
            position = text.end()
            if text.lastgroup == "added":
                confirmed += 1
            elif text.lastgroup == "listing":
                listed = [float(grade) for grade in text.group("grades").split(b",")[:-1]]
                self.assertEqual(len(listed), confirmed)
                self.assertTrue(all(1 <= grade <= 6 for grade in listed), listed)
            elif text.lastgroup == "no_grades":
                self.assertEqual(confirmed, 0)
            elif text.lastgroup == "average":
                self.assertGreater(confirmed, 0)
                if listed is not None and len(listed) == confirmed:
                    mean = sum(listed) / len(listed)
                    self.assertAlmostEqual(float(text.group("mean")), mean, delta=1e-3)
        self.assertIn(state, MAY_END)

    def test_random_sessions(self):
        sent = 0
        for number in range(SESSIONS):
            stdin = session(random.Random(SEED + number))
            sent += len(stdin)
            with self.subTest(session=number, stdin=stdin[:60]):
                done = run(stdin, timeout=10)
                self.assertEqual(done.returncode, 0)
                self.assertEqual(done.stderr, b"")
                self.check_dialogue(done.stdout)
        print(f"{SESSIONS} sessions, {sent} bytes of input (seed {SEED})", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
