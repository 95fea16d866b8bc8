# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Prints the test classes of the given test modules (names in tests/, without .py),
one `module.Class` a line, for ctest to run each on its own: those defined in the
module with at least one test; with --no-browsers, less those that drive a browser
(`drives_a_browser`). Run from the top of the source tree."""

import importlib
import os
import sys
import unittest

os.environ.setdefault("GRADEBOOK", "-")  # the modules want a program, and run none here
names = sys.argv[1:]
browsers = "--no-browsers" not in names
for name in (name for name in names if name != "--no-browsers"):
    module = importlib.import_module(f"tests.{name}")
    for class_name, case in vars(module).items():
        if (isinstance(case, type) and issubclass(case, unittest.TestCase)
                and case.__module__ == module.__name__
                and unittest.defaultTestLoader.getTestCaseNames(case)
                and (browsers or not getattr(case, "drives_a_browser", False))):
            print(f"{name}.{class_name}")
