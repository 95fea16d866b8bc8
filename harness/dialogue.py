# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""The grade book's dialogue, as the tests and the benchmark expect it: its texts,
byte for byte, and a model that gives the exact bytes the program writes for any
input, with the offsets where it flushes them. Nothing else spells a text: the tests
and the benchmark import each from here, so that a text changes in one place."""

import ctypes
import math
import re
import struct
from array import array

MENU_LINES = (b"Wybierz opcje: \n", b"[1] - Dodaj ocene \n", b"[2] - Wyswietl srednia \n",
              b"[3] - Wyswietl oceny \n", b"[4] - Wyjdz z programu \n")
MENU = b"".join(MENU_LINES)
PROMPT = b"Podaj ocene (1-6): "
ADDED = b"Dodano ocene \n"
OUT_OF_RANGE = b"Ocena musi byc w zakresie od 1 do 6. \n"
INVALID = b"Nieprawidlowe dane \n"
NO_GRADES = b"Brak ocen do obliczenia sredniej\n"
LISTING, AVERAGE = b"Oceny:", b"Srednia: "  # each then ends its line


def listing(*shown):
    """The listing line of grades shown as the program shows them ("4.5")."""
    return LISTING + b"".join(s.encode() + b"," for s in shown) + b"\n"


def average(shown):
    return AVERAGE + shown.encode() + b"\n"


def single(x):
    """x rounded to single precision, as the program holds grades and sums."""
    return struct.unpack("f", struct.pack("f", x))[0]


# An answer is the longest field of these shapes after white space; what follows
# stays for the next read.
SPACE = b" \t\n\v\f\r"
WHOLE = re.compile(rb"[+-]?[0-9]*")
# Digits with at most one '.', then an exponent only after a digit; a '.' after the
# exponent ends the field.
REAL = re.compile(rb"[+-]?(?:(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]*)?|\.?)")
DISCARDED = 1000  # at most this much of an unreadable answer's line is discarded
libc = ctypes.CDLL(None)
libc.strtof.restype = ctypes.c_float
libc.strtof.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]


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
    """The exact bytes the program writes for stdin, and the offsets in them where
    it flushes: after each menu line, listing and average, and before each read."""
    out, flushes, grades, at = bytearray(), array("Q"), [], 0

    def write(text, flush=False):
        out.extend(text)
        if flush and (not flushes or flushes[-1] < len(out)):
            flushes.append(len(out))

    def read(shape, convert):
        """The answer, or None for an unreadable one, whose line is then discarded."""
        nonlocal at
        write(b"", flush=True)
        while at < len(stdin) and stdin[at] in SPACE:
            at += 1
        field = shape.match(stdin, at).group()
        at += len(field)
        value = convert(field)
        if at == len(stdin) and value is None:  # the read met the end of input
            raise EndOfInput
        if value is None:
            newline = stdin.find(b"\n", at, at + DISCARDED)
            at = newline + 1 if newline >= 0 else min(at + DISCARDED, len(stdin))
            write(INVALID)
        return value

    try:
        while True:
            for line in MENU_LINES:
                write(line, flush=True)
            choice = read(WHOLE, whole_number)
            if choice == 1:
                while True:
                    write(PROMPT)
                    grade = read(REAL, real_number)
                    if grade is not None and 1 <= grade <= 6:
                        grades.append(grade)
                        write(ADDED)
                        break
                    if grade is not None:
                        write(OUT_OF_RANGE)
            elif choice == 2 and grades:
                total = 0.0
                for grade in grades:
                    total = single(total + grade)
                write(AVERAGE + b"%g\n" % single(total / len(grades)), flush=True)
            elif choice == 2:
                write(NO_GRADES, flush=True)
            elif choice == 3:
                write(LISTING + b"".join(b"%g," % grade for grade in grades) + b"\n",
                      flush=True)
            elif choice == 4:
                break
    except EndOfInput:
        pass
    write(b"", flush=True)
    return bytes(out), flushes
