"""Seeded scripted sessions of the grade book, and the output they must get.

A session is what a script pipes in, one answer a line: N grades, each after the
menu's "1", some after refused or unreadable answers, now and then a wrong menu
answer, then a listing, the average and the end. dialogue() works out the output
the program writes for it, byte for byte, cut into the pieces in which the program
hands it to write(): it flushes at the end of each menu, listing and average line
and before each read, and a line longer than standard output's buffer goes out a
buffer at a time.
"""

import random
import struct
from array import array

MENU_LINES = (b"Wybierz opcje: \n", b"[1] - Dodaj ocene \n", b"[2] - Wyswietl srednia \n",
              b"[3] - Wyswietl oceny \n", b"[4] - Wyjdz z programu \n")
PROMPT = b"Podaj ocene (1-6): "
ADDED = b"Dodano ocene \n"
OUT_OF_RANGE = b"Ocena musi byc w zakresie od 1 do 6. \n"
INVALID = b"Nieprawidlowe dane \n"
NO_GRADES = b"Brak ocen do obliczenia sredniej\n"

# C stdio's buffer for standard output when it is a pipe, a file or /dev/null (their
# st_blksize here).
BUFFER = 4096

WHOLE = [str(g) for g in range(1, 7)]
FRACTIONAL = sorted({f"{g / 10:g}" for g in range(11, 60) if g % 10}
                    | {f"{g / 4:g}" for g in range(5, 24) if g % 4})
REFUSED = ["0", "7", "6.5", "0.5", "10", "-1"]
UNREADABLE = ["x", "abc", "-", ",5", "?"]
NO_OPTION = "5"

_single = struct.Struct("f")


def single(x):
    """x rounded to single precision, as the program holds it."""
    return _single.unpack(_single.pack(x))[0]


def answers(grades, seed=1):
    """The answers of a session of `grades` grades: a list of str, one per line.

    One grade in 50 comes after a wrong menu answer; 4 grade answers in 100 are
    refused and 2 unreadable; 6 grades in 10 are whole.
    """
    rng = random.Random(seed)
    random_, choice = rng.random, rng.choice
    typed = []
    add = typed.append
    for _ in range(grades):
        wrong = random_()
        if wrong < 0.01:
            add(NO_OPTION)
        elif wrong < 0.02:
            add(choice(UNREADABLE))
        add("1")
        while (wrong := random_()) < 0.06:
            add(choice(REFUSED) if wrong < 0.04 else choice(UNREADABLE))
        add(choice(WHOLE) if random_() < 0.6 else choice(FRACTIONAL))
    typed += ["3", "2", "4"]
    return typed


def script(typed):
    """The answers as the bytes piped in."""
    return ("\n".join(typed) + "\n").encode()


class Output:
    """The bytes written, and the length of each piece that reached write()."""

    def __init__(self):
        self.data = bytearray()
        self.pieces = array("I")
        self._pending = 0

    def write(self, text):
        self.data += text
        self._pending += len(text)
        while self._pending > BUFFER:
            self.pieces.append(BUFFER)
            self._pending -= BUFFER

    def flush(self):
        if self._pending:
            self.pieces.append(self._pending)
            self._pending = 0

    def menu(self):
        # Each menu line ends with a flush.
        self.write(MENU_LINES[0])
        self.flush()
        self.data += b"".join(MENU_LINES[1:])
        self.pieces.extend(len(line) for line in MENU_LINES[1:])


def dialogue(typed):
    """The Output of the program for the answers `typed`, which answers() made."""
    values = {t: single(float(t)) for t in WHOLE + FRACTIONAL}
    shown = {t: b"%g," % v for t, v in values.items()}  # 6 significant digits
    refused, unreadable = set(REFUSED), set(UNREADABLE)
    out = Output()
    stored = []
    out.menu()
    choosing = True
    for answer in typed:
        out.flush()  # before each read
        if choosing:
            if answer == "1":
                out.write(PROMPT)
                choosing = False
                continue
            if answer == "2":
                if stored:
                    total = 0.0  # every partial sum in single precision
                    for t in stored:
                        total = single(total + values[t])
                    out.write(b"Srednia: %g\n" % single(total / len(stored)))
                else:
                    out.write(NO_GRADES)
                out.flush()
            elif answer == "3":
                out.write(b"Oceny:" + b"".join(shown[t] for t in stored) + b"\n")
                out.flush()
            elif answer == "4":
                break
            elif answer in unreadable:
                out.write(INVALID)
            elif answer != NO_OPTION:
                raise ValueError(f"no menu answer answers() writes: {answer!r}")
            out.menu()
        elif answer in values:
            stored.append(answer)
            out.write(ADDED)
            out.menu()
            choosing = True
        elif answer in refused:
            out.write(OUT_OF_RANGE + PROMPT)
        elif answer in unreadable:
            out.write(INVALID + PROMPT)
        else:
            raise ValueError(f"no grade answer answers() writes: {answer!r}")
    out.flush()
    return out
