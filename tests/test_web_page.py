# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""The web build's page, gradebook.html, in headless Chromium from file://.

Answers are typed or pasted into #answer as a person would; after each line the
transcript, #transcript, must read exactly as a console would show the native
program's dialogue: what the native program writes when given the lines so far
and then the end of input, with each line shown where the program took it.

GRADEBOOK_PAGE names the page and GRADEBOOK_REFERENCE the native program; the
test needs Chromium, ChromeDriver and selenium (Debian packages chromium,
chromium-driver and python3-selenium, the last for Debian's own /usr/bin/python3),
and without any of these skips itself and says why.
"""

import functools
import os
import random
import shutil
import subprocess
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor

try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    webdriver = None

PAGE = os.environ.get("GRADEBOOK_PAGE")
REFERENCE = os.environ.get("GRADEBOOK_REFERENCE")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
GUARD = 60  # seconds: only a guard against a hang, never a measure
SEED = 2026


def missing(page=PAGE, reference=REFERENCE):
    """Why the tests cannot run here, or None."""
    for lacking, why in [
            (webdriver is None, "selenium is missing (Debian: python3-selenium, for "
             "/usr/bin/python3)"),
            (not CHROMIUM, "chromium is missing (Debian: chromium)"),
            (not CHROMEDRIVER, "chromedriver is missing (Debian: chromium-driver)"),
            (not page, "GRADEBOOK_PAGE is not set: set it to the web build's gradebook.html"),
            (not reference, "GRADEBOOK_REFERENCE is not set: set it to a native build's "
             "program, as in build/gradebook")]:
        if lacking:
            return why
    return None


# Headless Chromium as root on a machine without network.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--disable-quic"]


def chromium(profile):
    """Headless Chromium as root on a machine without network, its profile in the
    empty folder `profile`."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    browser.set_script_timeout(GUARD + 30)
    return browser


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


def random_session(rng):
    """A few typeable lines of what people type, up to the program's own end."""
    words = ["1", "1", "1", "2", "3", "0", "5", "-3", "+2", "01", "7", "4.5", "3.25",
             "6.0000001", "1e0", "0.5", ".5", "4,5", "x", "abc", "1x", "inf", "-", "5e",
             "ó", "", "99999999999", "1.000005"]
    lines = []
    for _ in range(rng.randint(2, 14)):
        line = " ".join(rng.choice(words) for _ in range(rng.choice([1, 1, 1, 2, 3])))
        lines.append(" " * rng.choice([0, 0, 0, 2]) + line + "\n")
        if has_exited(lines):
            break
    return lines


def pasted_answers():
    """1,000 answer lines to paste at once (the benchmark's too). Nothing starts with
    4, which would end the run at the menu."""
    rng = random.Random(SEED + 1)
    pool = ["1", "1", "2", "3", "0", "7", "x", "5.25", "1 3", "6", "1.015625", ""]
    return [rng.choice(pool) + "\n" for _ in range(1000)]


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        why = missing()
        if why:
            raise unittest.SkipTest(why)
        cls.profile = tempfile.TemporaryDirectory()
        cls.browser = chromium(cls.profile.name)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.profile.cleanup()

    def open(self):
        self.browser.get("file://" + os.path.abspath(PAGE))
        self.field = self.browser.find_element(By.ID, "answer")
        self.assertEqual(self.browser.switch_to.active_element, self.field)

    def wait_for(self, expected):
        """Waits until the transcript reads `expected`, and fails if it never does."""
        shown = self.browser.execute_async_script("""
            const [expected, guard, done] = arguments;
            const transcript = document.getElementById("transcript");
            const until = performance.now() + guard * 1000;
            (function look() {
                const text = transcript.textContent;
                if (text === expected) done(null);
                else if (performance.now() > until) done(text);
                else setTimeout(look, 5);
            })();""", expected, GUARD)
        if shown is not None:
            at = next((i for i, (s, e) in enumerate(zip(shown, expected)) if s != e),
                      min(len(shown), len(expected)))
            self.fail(f"from {at} on, {shown[at:at + 60]!r} instead of "
                      f"{expected[at:at + 60]!r} (lengths {len(shown)}, {len(expected)})")

    def paste(self, text):
        self.browser.execute_script("""
            const data = new DataTransfer();
            data.setData("text/plain", arguments[0]);
            document.getElementById("answer").dispatchEvent(new ClipboardEvent("paste",
                {clipboardData: data, bubbles: true, cancelable: true}));""", text)

    def exit_status(self):
        """The exit status the page shows, once it shows one."""
        end = self.browser.find_element(By.ID, "end")
        self.browser.execute_async_script("""
            const [end, done] = arguments;
            (function look() { end.hidden ? setTimeout(look, 5) : done(); })();""", end)
        return self.browser.find_element(By.ID, "exit-status").text

    def type_session(self, lines):
        """Types each line, then checks the transcript after it."""
        self.open()
        shown = transcripts(lines)
        self.wait_for(shown[0])
        for line, expected in zip(lines, shown[1:]):
            self.field.send_keys(line[:-1] + Keys.ENTER)
            self.wait_for(expected)
        return shown[-1]

    def test_sessions_typed_line_by_line(self):
        rng = random.Random(SEED)
        documented = [["1\n", "7\n", "4.5\n", "2\n", "4\n"], ["1 4.5\n", "3\n", "2\n", "4\n"],
                      ["1\n", "4,5\n", "3\n", "4\n"], ["x\n", "3\n", "2\n", "4\n"]]
        for number, lines in enumerate(documented + [random_session(rng) for _ in range(30)]):
            with self.subTest(session=number, lines=lines):
                self.type_session(lines)
                if has_exited(lines):
                    self.assertEqual(self.exit_status(), "0")
                    self.assertFalse(self.field.is_enabled())

    def test_end_of_input_by_key_or_button_then_restart(self):
        # What the field holds when the input ends is the input's last text.
        for how, held in [("ctrl-d", ""), ("button", ""), ("ctrl-d", "1 7"), ("button", "2")]:
            with self.subTest(how=how, held=held):
                shown = self.type_session(["1\n", "5\n"])
                self.field.send_keys(held)
                if how == "ctrl-d":
                    self.field.send_keys(Keys.CONTROL, "d")
                else:
                    self.browser.find_element(By.ID, "end-input").click()
                self.wait_for(shown + held + native("1\n5\n" + held)[len(native("1\n5\n")):])
                self.assertEqual(self.exit_status(), "0")
                restart = self.browser.find_element(By.ID, "restart")
                self.assertEqual(self.browser.switch_to.active_element, restart)
                restart.send_keys(Keys.ENTER)  # the keyboard alone starts a new run
                self.wait_for(native(""))
                self.assertEqual(self.browser.switch_to.active_element, self.field)

    def test_answers_typed_ahead_are_read_in_turn(self):
        # Sent in one go, as when the page is busy between keys: the program cannot
        # take one before the next is queued.
        lines = ["1\n", "x\n", "4.5\n", "1 6\n", "3\n", "2\n"]
        self.open()
        self.browser.execute_script("""
            const field = document.getElementById("answer");
            for (const line of arguments[0]) {
                field.value = line;
                field.form.requestSubmit();
            }""", [line[:-1] for line in lines])
        self.wait_for(transcripts(lines)[-1])

    def test_a_thousand_answers_pasted_at_once(self):
        lines = pasted_answers()
        shown = transcripts(lines)
        self.assertEqual(len(shown), 1001)
        self.open()
        self.paste("".join(lines) + "1 2")  # the last line's start stays in the field
        self.wait_for(shown[-1])
        self.assertEqual(self.field.get_property("value"), "1 2")

    def test_grade_list_grows_while_the_page_waits(self):
        # 10 000 grades, 250 a line of some 1500 characters, each line pasted while
        # the program waits: its grade list outgrows the module's first memory twice.
        rng = random.Random(SEED + 2)
        lines = [" ".join(f"1 {rng.choice(['1', '2.5', '3.75', '5', '6'])}"
                          for _ in range(250)) + "\n" for _ in range(40)] + ["3\n", "2\n"]
        shown = transcripts(lines)
        self.open()
        for line, expected in zip(lines, shown[1:]):
            self.paste(line)
            self.wait_for(expected)


if __name__ == "__main__":
    unittest.main()
