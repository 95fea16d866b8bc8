# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Seeded scripted sessions of the grade book, one answer a line, and their output
byte for byte with the offsets where the program flushes: at the end of each menu,
listing and average line, and before each read."""

import random
import struct
from array import array

MENU_LINES = (b"Wybierz opcje: \n", b"[1] - Dodaj ocene \n", b"[2] - Wyswietl srednia \n",
              b"[3] - Wyswietl oceny \n", b"[4] - Wyjdz z programu \n")
PROMPT, ADDED = b"Podaj ocene (1-6): ", b"Dodano ocene \n"
OUT_OF_RANGE = b"Ocena musi byc w zakresie od 1 do 6. \n"
INVALID, NO_GRADES = b"Nieprawidlowe dane \n", b"Brak ocen do obliczenia sredniej\n"
BUFFER = 4096  # C stdio's buffer for a pipe, a file or /dev/null (their st_blksize)

WHOLE = [str(g) for g in range(1, 7)]
FRACTIONAL = sorted({f"{g / 10:g}" for g in range(11, 60) if g % 10}
                    | {f"{g / 4:g}" for g in range(5, 24) if g % 4})
REFUSED, UNREADABLE = ["0", "7", "6.5", "0.5", "10", "-1"], ["x", "abc", "-", ",5", "?"]


def single(x):  # x rounded to single precision, as the program holds it
    return struct.unpack("f", struct.pack("f", x))[0]


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
    """The program's output for the answers `typed`, which answers() made, and the
    offsets in it where the program flushes."""
    values = {t: single(float(t)) for t in WHOLE + FRACTIONAL}
    data, flushes, stored, choosing = bytearray(), array("Q"), [], True

    def write(text=b"", flush=False):
        data.extend(text)
        if flush and (not flushes or flushes[-1] < len(data)):
            flushes.append(len(data))

    def menu():
        for line in MENU_LINES:
            write(line, flush=True)

    menu()
    for answer in typed:
        write(flush=True)  # before each read
        if choosing and answer == "1":
            write(PROMPT)
            choosing = False
        elif choosing:
            if answer == "2" and not stored:
                write(NO_GRADES, flush=True)
            elif answer == "2":
                total = 0.0  # every partial sum in single precision
                for t in stored:
                    total = single(total + values[t])
                write(b"Srednia: %g\n" % single(total / len(stored)), flush=True)
            elif answer == "3":
                write(b"Oceny:" + b"".join(b"%g," % values[t] for t in stored) + b"\n",
                      flush=True)
            elif answer == "4":
                break
            elif answer in UNREADABLE:
                write(INVALID)
            menu()
        elif answer in values:
            stored.append(answer)
            write(ADDED)
            menu()
            choosing = True
        else:
            write((OUT_OF_RANGE if answer in REFUSED else INVALID) + PROMPT)
    write(flush=True)
    return data, flushes


def pieces(flushes):
    """The lengths of the program's write() calls: one for each flush, but C stdio
    sends more than a buffer a buffer at a time."""
    lengths = array("I")
    for start, end in zip((0, *flushes), flushes):
        whole, rest = divmod(end - start - 1, BUFFER)
        lengths.extend([BUFFER] * whole + [rest + 1])
    return lengths
