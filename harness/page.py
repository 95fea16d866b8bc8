# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""What the web page must show for given answers: the native program's dialogue
as a console shows it, each answer where the program took it. The page's tests and
its benchmark share these sessions; GRADEBOOK_REFERENCE names the native program."""

import functools
import os
import random
import subprocess
from concurrent.futures import ThreadPoolExecutor

from browsers import GUARD

REFERENCE = os.environ.get("GRADEBOOK_REFERENCE")
SEED = 2026


@functools.lru_cache(maxsize=64)
def native(text, reference=REFERENCE):
    """What the native program writes given `text` and then the end of input."""
    done = subprocess.run([reference], input=text.encode(), capture_output=True,
                          timeout=GUARD, check=True)
    return done.stdout.decode()


def has_exited(lines, reference=REFERENCE):
    """Whether the native program ended by itself (option 4) within these lines: then
    one more answer changes nothing."""
    text = "".join(lines)
    return native(text + "3\n", reference) == native(text, reference)


def transcripts(lines, reference=REFERENCE):
    """The transcript after each of the lines that the program reads, the first
    before any: each line shows where the program takes it, and none after its end."""
    read = len(lines)
    if has_exited(lines, reference):  # then the first prefix it ends within
        low, read = 0, len(lines)
        while low < read:
            middle = (low + read) // 2
            low, read = ((low, middle) if has_exited(lines[:middle], reference)
                         else (middle + 1, read))
    with ThreadPoolExecutor(4) as runs:
        outputs = list(runs.map(lambda i: native("".join(lines[:i]), reference),
                                range(read + 1)))
    shown = [outputs[0]]
    for line, before, after in zip(lines, outputs, outputs[1:]):
        assert after.startswith(before), "the native program took back what it wrote"
        shown.append(shown[-1] + line + after[len(before):])
    return shown


def pasted_answers():
    """1,000 answer lines to paste at once (the benchmark's too). Nothing starts with
    4, which would end the run at the menu."""
    rng = random.Random(SEED + 1)
    pool = ["1", "1", "2", "3", "0", "7", "x", "5.25", "1 3", "6", "1.015625", ""]
    return [rng.choice(pool) + "\n" for _ in range(1000)]
