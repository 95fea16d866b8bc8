# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Checks the skipped tests of one ctest run against the list of the skips CI
expects, .ci/expected-skips: prints each expected one with the list's reason, and
fails naming each other one with the reason its test gave (ctest counts a skipped
test as passed).

Usage: python3 .ci/skips.py RUN JUNIT [FACT...], where RUN names the ctest run as
the list does, JUNIT is its --output-junit file, and each FACT is one of the list's
conditions that holds on this machine."""

import fnmatch
import re
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

LIST = Path(__file__).with_name("expected-skips")


def expected(run, facts):
    """(test pattern, why) of each skip the list expects of this run here."""
    for line in LIST.read_text(encoding="utf-8").splitlines():
        if line.strip() and not line.startswith("#"):
            where, pattern, when, why = line.split(maxsplit=3)
            if where == run and (when == "always" or when in facts):
                yield pattern, why


def check(run, junit, facts):
    """The number of unexpected skips in the run, each reported on standard error."""
    rules = list(expected(run, facts))
    unexpected = 0
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        if case.get("status") != "notrun":
            continue
        name = case.get("name")
        why = next((why for pattern, why in rules if fnmatch.fnmatchcase(name, pattern)),
                   None)
        if why:
            print(f"{run}: {name}: {why}")
            continue
        # unittest -v writes "test_x (...) ... skipped 'why'", or "... skipped "why""
        output = case.findtext("system-out") or ""
        found = re.findall(r"""skipped (['"])(.*)\1$""", output, re.MULTILINE)
        reasons = dict.fromkeys(why for _, why in found)
        print(f"{run}: {name} skipped, and the list does not expect it: "
              f"{'; '.join(reasons) or 'no reason given'}", file=sys.stderr)
        unexpected += 1
    return unexpected


if __name__ == "__main__":
    sys.exit(1 if check(sys.argv[1], sys.argv[2], set(sys.argv[3:])) else 0)
