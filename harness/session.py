# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Seeded scripted sessions of the grade book, one answer a line, and their output
byte for byte with the offsets where the program flushes (harness/dialogue.py), in the
program's write() pieces."""

import random
from array import array

from harness.dialogue import model

BUFFER = 4096  # C stdio's buffer for a pipe, a file or /dev/null (their st_blksize)

WHOLE = [str(g) for g in range(1, 7)]
FRACTIONAL = sorted({f"{g / 10:g}" for g in range(11, 60) if g % 10}
                    | {f"{g / 4:g}" for g in range(5, 24) if g % 4})
REFUSED, UNREADABLE = ["0", "7", "6.5", "0.5", "10", "-1"], ["x", "abc", "-", ",5", "?"]


def answers(grades, seed=1):
    """A session's answers: a grade in 50 after a wrong menu answer, 4 grade answers
    in 100 refused and 2 unreadable, 6 grades in 10 whole; a listing, the average."""
    rng = random.Random(seed)
    typed = []
    for _ in range(grades):
        wrong = rng.random()
        if wrong < 0.02:
            typed.append("5" if wrong < 0.01 else rng.choice(UNREADABLE))
        typed.append("1")
        while (wrong := rng.random()) < 0.06:
            typed.append(rng.choice(REFUSED if wrong < 0.04 else UNREADABLE))
        typed.append(rng.choice(WHOLE if rng.random() < 0.6 else FRACTIONAL))
    return typed + ["3", "2", "4"]


def script(typed):
    return ("\n".join(typed) + "\n").encode()


def dialogue(typed):
    """The program's output for the answers `typed`, and the offsets in it where the
    program flushes."""
    return model(script(typed))


def pieces(flushes):
    """The lengths of the program's write() calls: one for each flush, but C stdio
    sends more than a buffer a buffer at a time."""
    lengths = array("I")
    for start, end in zip((0, *flushes), flushes):
        whole, rest = divmod(end - start - 1, BUFFER)
        lengths.extend([BUFFER] * whole + [rest + 1])
    return lengths
