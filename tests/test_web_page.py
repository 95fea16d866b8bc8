# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""The web build's page in Chromium, Firefox ESR and WebKitGTK, and in Chromium 64
and 80 (browsers/__init__.py), each from disk (the one-file page, file://) and from the
site served on 127.0.0.1; and again in some of them with what older browsers lack
deleted (OLDER), so that every browser the README names is stood for.

Answers are typed or pasted into #answer as a person would; after each line the
transcript, #transcript, must read exactly as a console would show the native
program's dialogue: what the native program writes when given the lines so far
and then the end of input, with each line shown where the program took it. In
Chromium, the served site must also be installable, and run offline once visited;
in Chromium and Firefox, a next release must reach it by the second visit.

GRADEBOOK_PAGE names the one-file page, GRADEBOOK_SITE the site's folder and
GRADEBOOK_REFERENCE the native program; without one of these the tests that need
it skip and say why. A browser that cannot start fails its tests. Run by Debian's
own /usr/bin/python3, whose selenium and websockets drive the browsers; one class
alone, e.g. `python3 -m tests.test_web_page FirefoxFromWeb` from the top of the
source tree, runs one engine from one origin.
"""

import base64
import datetime
import gzip
import json
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import browsers
from browsers import ENTER, ESCAPE, GUARD, Site
from harness.page import (REFERENCE, SEED, has_exited, native, pasted_answers,
                          transcripts)

PAGE = os.environ.get("GRADEBOOK_PAGE")
SITE = os.environ.get("GRADEBOOK_SITE")
# The end of a run as the page says it, the status in its details.
ENDED = "Program zakończył pracę. Dla nauczycielaKod wyjścia: {}."
# What a pupil must not read outside a details element: the status, the names of
# what a browser lacks, the engines' own English.
NOT_FOR_PUPILS = (r"Kod wyjścia|WebAssembly|JavaScript|[A-Za-z]*Error\b"
                  r"|\b(?:the|is|was|not|failed|cannot|undefined)\b")
# A phone held upright, and the same with the on-screen keyboard up.
PHONES = [(390, 844), (320, 568)]
KEYBOARD_UP = (320, 300)
LANDSCAPE_KEYBOARD_UP = (568, 200)
ROOT = Path(__file__).resolve().parent.parent

# The engines' own versions that stand for a browser of the README, checked as
# each starts; the others are as new as Debian's.
VERSIONS = {"chromium-64": ("Chrome", 64), "chromium-80": ("Chrome", 80)}
# What the page could use that Safari before 14 and Firefox before 65 lack (and
# more that those before 16.4 and 113 lack).
BEFORE_STREAMS = ["DecompressionStream", "Blob.prototype.stream", "BigInt",
                  "DataView.prototype.setBigUint64", "DataView.prototype.getBigUint64",
                  "WebAssembly.compileStreaming", "WebAssembly.instantiateStreaming"]
# Rows of an engine with what an older browser lacks deleted before the page's
# scripts run: the class name, the engine, the browser it stands for, the deleted.
OLDER = [("Safari11", "webkit", ("Safari", 11), BEFORE_STREAMS),
         ("Firefox52", "firefox", ("Firefox", 52), BEFORE_STREAMS),
         ("Chrome57", "chromium-64", ("Chrome", 57),
          ["WebAssembly.compileStreaming", "WebAssembly.instantiateStreaming"])]


def missing(origin="file"):
    """Why the tests from this origin (file or web) cannot run here, or None."""
    for lacking, why in [
            (origin == "file" and not PAGE,
             "GRADEBOOK_PAGE is not set: set it to the web build's gradebook.html"),
            (origin == "web" and not SITE,
             "GRADEBOOK_SITE is not set: set it to the web build's site folder"),
            (not REFERENCE, "GRADEBOOK_REFERENCE is not set: set it to a native build's "
             "program, as in build/gradebook")]:
        if lacking:
            return why
    return None


def deleting(names):
    """A script that deletes the named globals and properties, e.g. "BigInt" or
    "Blob.prototype.stream", as if the browser had never had them."""
    return ("<script>for (const name of %s) { const path = name.split(\".\"); "
            "const last = path.pop(); delete path.reduce((at, step) => at[step], "
            "window)[last]; }</script>" % json.dumps(names))


def without(names, page, folder):
    """A copy of the page (a file) or of the site (a folder) in `folder`, in which
    the named features are deleted before any script of the page's own runs: the
    copy's page, or its folder."""
    if os.path.isdir(page):
        shutil.copytree(page, folder, dirs_exist_ok=True)
        copy = os.path.join(folder, "index.html")
    else:
        copy = os.path.join(folder, os.path.basename(page))
        shutil.copy(page, copy)
    with open(copy, encoding="utf-8") as file:
        text = file.read()
    with open(copy, "w", encoding="utf-8") as file:
        file.write(text.replace("<script", deleting(names) + "<script", 1))
    return folder if os.path.isdir(page) else copy


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


class Driving:
    """What a person does to the page, in the browser `self.browser`, at `self.url`."""

    drives_a_browser = True

    def open(self):
        # From elsewhere: an engine that takes opening the same address again for a
        # reload (Chromium 64) would show the run before, as the page does then.
        self.browser.open("about:blank")
        self.browser.open(self.url)
        self.assert_started()
        self.assertEqual(self.focused(), "answer")
        # The region that says the run has ended is there, silent, from the start:
        # one that appears with its words is seldom heard.
        self.assertEqual(self.browser.call("""async () => {
            const said = document.querySelector("[role=status]#end-message");
            return said && !said.closest("[hidden]") && said.textContent;}"""), "")

    def failure(self):
        """The engine's words when the page has said the program failed, or None."""
        return self.browser.call("""async () =>
            document.getElementById("failed").hidden ? null
                : document.getElementById("failure-text").textContent""")

    def assert_started(self):
        failure = self.failure()
        if failure is not None:
            self.fail(f"the page failed to start the program: {failure!r}")

    def sized(self, size):
        """The viewport `size` until the test's end."""
        self.browser.viewport(size)
        self.addCleanup(self.browser.viewport, None)

    def focused(self):
        return self.browser.call("async () => document.activeElement.id")

    def wait_for(self, expected):
        """Waits until the transcript reads `expected`, and fails if it never does."""
        shown = self.browser.call("""async (expected, guard) => {
            const transcript = document.getElementById("transcript");
            const until = performance.now() + guard * 1000;
            for (;;) {
                const text = transcript.textContent;
                if (text === expected) return null;
                if (performance.now() > until) return text;
                await new Promise((resolve) => setTimeout(resolve, 5));
            }}""", expected, GUARD)
        if shown is not None:
            self.assert_started()
            at = next((i for i, (s, e) in enumerate(zip(shown, expected)) if s != e),
                      min(len(shown), len(expected)))
            self.fail(f"from {at} on, {shown[at:at + 60]!r} instead of "
                      f"{expected[at:at + 60]!r} (lengths {len(shown)}, {len(expected)})")

    def paste(self, text):
        """Pastes `text` into the field."""
        # The text set on the event's own clipboardData: Firefox gives the event an
        # empty copy of the one it is made with.
        self.browser.call("""async (text) => {
            const paste = new ClipboardEvent("paste",
                {clipboardData: new DataTransfer(), bubbles: true, cancelable: true});
            paste.clipboardData.setData("text/plain", text);
            document.getElementById("answer").dispatchEvent(paste);}""", text)

    def end_message(self):
        """What the page's live region says of the program's end, once it says it."""
        return self.browser.call("""async () => {
            const restart = document.getElementById("restart");
            while (restart.hidden) await new Promise((resolve) => setTimeout(resolve, 5));
            return document.querySelector("[role=status]").textContent;}""")

    def end_message_now(self):
        return self.browser.call(
            "async () => document.querySelector('[role=status]').textContent")

    def ended(self):
        return self.browser.call(
            "async () => !document.getElementById('restart').hidden")

    def held(self, text):
        """Puts `text` in the field, as typed, replacing what it holds."""
        self.browser.call("""async () => {
            const field = document.getElementById("answer");
            field.value = "";
            field.focus();}""")
        self.browser.keys(text)

    def asked_to_quit(self):
        """Whether the page asks before sending an answer that ends the run."""
        return self.browser.call(
            "async () => !document.getElementById('confirm-quit').hidden")

    def visible_text(self):
        """The page's own words on show, outside the transcript and any details."""
        return self.browser.call("""async () => {
            const texts = [];
            const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
            while (walker.nextNode()) {
                const node = walker.currentNode;
                const element = node.parentElement;
                if (!element.closest("details, script, style, noscript, #transcript") &&
                        element.getClientRects().length && node.data.trim()) {
                    texts.push(node.data.trim());
                }
            }
            return texts.join(" ");}""")

    def field_state(self):
        return self.browser.call("""async () => {
            const field = document.getElementById("answer");
            return [field.value, !field.disabled];}""")

    def type_session(self, lines, by="enter", after=None):
        """Types each line and sends it by Enter or a click on Wyślij, then checks
        the transcript, and `after()` if given, after it."""
        self.open()
        shown = transcripts(lines)
        self.wait_for(shown[0])
        for line, expected in zip(lines, shown[1:]):
            if by == "enter":
                self.browser.keys(line[:-1] + ENTER)
            else:
                self.browser.keys(line[:-1])
                self.browser.click("send")
            if self.asked_to_quit():  # a grade typed at the menu: yes, as typed
                self.browser.click("quit-confirmed")
            self.wait_for(expected)
            if after:
                after()
        return shown[-1]

    def newest_in_view(self):
        """Where the transcript's last character and the field lie, drawn, against
        the transcript's visible box and the viewport: [] when both are in view."""
        return self.browser.call("""async () => {
            await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
            const transcript = document.getElementById("transcript");
            const texts = document.createTreeWalker(transcript, NodeFilter.SHOW_TEXT);
            let last = null;
            while (texts.nextNode()) {
                if (texts.currentNode.data.trim()) last = texts.currentNode;
            }
            const range = document.createRange();
            const at = last.data.replace(/\\s+$/, "").length - 1;
            range.setStart(last, at);
            range.setEnd(last, at + 1);
            const character = range.getBoundingClientRect();
            const field = document.getElementById("answer").getBoundingClientRect();
            const box = transcript.getBoundingClientRect();
            const height = window.visualViewport ? visualViewport.height : innerHeight;
            const out = [];
            // In the box, and at its foot, by the field, not two lines above it.
            if (character.top < box.top || character.bottom > box.bottom ||
                    box.bottom - character.bottom > 3 * character.height) {
                out.push(["character", character.top, character.bottom, box.top, box.bottom]);
            }
            for (const [name, rect] of [["character", character], ["field", field]]) {
                if (rect.top < 0 || rect.bottom > height) {
                    out.push([name, rect.top, rect.bottom, "viewport", height]);
                }
            }
            return out;}""")

    def guarded(self):
        """Whether a reload or closing the tab would ask first: the event the
        browser sends, cancelled or given a text to show."""
        return self.browser.call("""async () => {
            const leaving = document.createEvent("BeforeUnloadEvent");
            leaving.initEvent("beforeunload", false, true);
            window.dispatchEvent(leaving);
            return leaving.defaultPrevented || Boolean(leaving.returnValue);}""")


DOCUMENTED = [["1\n", "7\n", "4.5\n", "2\n", "4\n"], ["1 4.5\n", "3\n", "2\n", "4\n"],
              ["1\n", "4,5\n", "3\n", "4\n"], ["x\n", "3\n", "2\n", "4\n"]]


class Sessions(Driving):
    """The sessions, the same in every engine and from every origin; the classes
    below the engines, their older rows and the origins."""
    engine = origin = None
    deleted = []  # what the browser stood for lacks

    @classmethod
    def setUpClass(cls):
        why = missing(cls.origin)
        if why:
            raise unittest.SkipTest(why)
        cls.copy = tempfile.TemporaryDirectory()
        page, site = PAGE, SITE
        if cls.deleted and cls.origin == "web":
            site = without(cls.deleted, SITE, cls.copy.name)
        elif cls.deleted:
            page = without(cls.deleted, PAGE, cls.copy.name)
        if cls.origin == "web":
            cls.site = Site(site)
            cls.url = cls.site.url
        else:
            cls.url = "file://" + os.path.abspath(page)
        cls.started = browsers.Started(cls.engine)
        try:
            cls.browser = cls.started.__enter__()
            if cls.engine in VERSIONS:
                assert cls.browser.version == VERSIONS[cls.engine][1], cls.browser.version
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            if hasattr(cls, "browser"):
                cls.started.__exit__()
                del cls.browser
        finally:
            if cls.origin == "web":
                cls.site.stop()
            cls.copy.cleanup()

    def test_sessions_typed_line_by_line(self):
        rng = random.Random(SEED)
        for number, lines in enumerate(DOCUMENTED + [random_session(rng) for _ in range(30)]):
            with self.subTest(session=number, lines=lines):
                self.type_session(lines)
                if has_exited(lines):
                    self.assertEqual(self.end_message(), ENDED.format(0))
                    self.assertFalse(self.field_state()[1])
                    self.assertNotIn("Ctrl-D", self.visible_text())  # nothing to end
                self.assertNotRegex(self.visible_text(), NOT_FOR_PUPILS)

    def test_end_of_input_by_key_or_button_then_restart(self):
        # What the field holds when the input ends is the input's last text. Ctrl-D
        # ends it at once, the button only once confirmed; "no" and Escape go back to
        # the field. A new run after one that filled the transcript (on a phone)
        # starts by the field again.
        self.sized(PHONES[1])
        for how, held, lines in [("ctrl-d", "", 2), ("button", "", 2), ("ctrl-d", "1 7", 2),
                                 ("button", "2", 2), ("button, no, ctrl-d", "3", 2),
                                 ("button, escape, ctrl-d", "", 2), ("ctrl-d", "", 12)]:
            with self.subTest(how=how, held=held, lines=lines):
                answers = ["1\n", "5\n", "3\n", "2\n", "3\n", "2\n"] * 2
                shown = self.type_session(answers[:lines])
                self.browser.keys(held)
                if how == "ctrl-d":
                    self.browser.ctrl("d")
                else:
                    self.browser.click("end-input")
                    self.assertFalse(self.ended())
                    self.assertEqual(self.field_state(), [held, True])
                    self.assertEqual(self.question("confirm-end"), [
                        "alertdialog", "Zakończyć pracę programu?",
                        "Program nie przyjmie już żadnej odpowiedzi.", "end-cancelled"])
                    if how == "button":
                        self.browser.click("end-confirmed")
                    else:
                        if "escape" in how:
                            self.browser.keys(ESCAPE)
                        else:
                            self.browser.click("end-cancelled")
                        self.assertEqual(self.focused(), "answer")
                        self.assertEqual(self.field_state(), [held, True])
                        self.browser.ctrl("d")
                given = "".join(answers[:lines])
                self.wait_for(shown + held + native(given + held)[len(native(given)):])
                self.assertEqual(self.end_message(), ENDED.format(0))
                self.assertEqual(self.newest_in_view(), [])
                self.assertEqual(self.focused(), "restart")
                if self.browser.keys_press_buttons:
                    self.browser.keys(ENTER)  # the keyboard alone starts a new run
                else:
                    self.browser.click("restart")
                self.wait_for(native(""))
                self.assertEqual(self.focused(), "answer")
                self.assertEqual(self.end_message_now(), "")
                self.assertEqual(self.newest_in_view(), [])

    def question(self, element_id):
        """The page's question: its role, the texts that label and describe it, and
        what has the focus."""
        return self.browser.call("""async (id) => {
            const question = document.getElementById(id);
            const text = (name) => question.getAttribute(name).split(" ")
                .map((part) => document.getElementById(part).textContent).join(" ");
            return [question.getAttribute("role"), text("aria-labelledby"),
                    text("aria-describedby"), document.activeElement.id];}""", element_id)

    def test_a_grade_at_the_menu_asks_before_the_run_ends(self):
        # Where the program, at its menu with grades, would read option 4, the page
        # asks and takes no answer meanwhile; "no" and Escape keep the run and the
        # answer in the field, "yes" sends it as typed. Elsewhere nothing is asked.
        for before, typed, answer in [
                (["1\n", "5\n"], "4", "no"), (["1\n", "5\n"], "4.5", "yes"),
                (["1\n", "5\n", "3\n"], " +04,5", "escape"), (["1 5\n"], "4x", "yes"),
                (["1\n", "5\n"], "41", None), (["1\n", "5\n"], "-4", None),
                (["1\n", "5\n"], "x4", None), ([], "4", None), (["1\n", "7\n", "x\n"], "4", None),
                (["2\n", "3\n"], "4", None)]:
            with self.subTest(before=before, typed=typed, answer=answer):
                shown = self.type_session(before)
                self.browser.keys(typed + ENTER)
                self.assertEqual(self.asked_to_quit(), answer is not None)
                if answer is None:
                    self.wait_for(transcripts(before + [typed + "\n"])[-1])
                    continue
                self.assertEqual(self.question("confirm-quit")[:2] + [self.focused()], [
                    "alertdialog", "Wyjść? Wpisane oceny przepadną.", "quit-cancelled"])
                self.held("3" + ENTER)
                self.held(typed)
                self.browser.call("async () => document.getElementById('quit-cancelled').focus()")
                if answer == "yes":
                    self.browser.click("quit-confirmed")
                    self.wait_for(transcripts(before + [typed + "\n"])[-1])
                    self.assertEqual(self.end_message(), ENDED.format(0))
                    continue
                if answer == "no":
                    self.browser.click("quit-cancelled")
                else:
                    self.browser.keys(ESCAPE)
                self.assertFalse(self.asked_to_quit())
                self.assertEqual(self.focused(), "answer")
                self.assertEqual(self.field_state(), [typed, True])
                self.wait_for(shown)
                self.assertFalse(self.ended())

    def test_no_line_breaks_inside_a_number_on_a_phone(self):
        self.sized(PHONES[1])
        rng = random.Random(SEED + 4)
        lines = [f"1 {rng.choice(['1.015625', '2.5', '3.75', '4', '5.5', '6', '1.25'])}\n"
                 for _ in range(40)] + ["3\n", "2\n"]
        self.open()
        self.paste("".join(lines))
        self.wait_for(transcripts(lines)[-1])
        self.assertEqual(self.browser.call("""async () => {
            const broken = [];
            const texts = document.createTreeWalker(document.getElementById("transcript"),
                                                    NodeFilter.SHOW_TEXT);
            while (texts.nextNode()) {
                const numbers = /\\d+(?:\\.\\d+)?/g;
                for (let found; (found = numbers.exec(texts.currentNode.data));) {
                    const range = document.createRange();
                    range.setStart(texts.currentNode, found.index);
                    range.setEnd(texts.currentNode, found.index + found[0].length);
                    const tops = new Set(Array.from(range.getClientRects(),
                                                    (rect) => Math.round(rect.top)));
                    if (tops.size > 1) broken.push(found[0]);
                }
            }
            return broken;}"""), [])

    def test_focus_back_in_the_field_and_the_newest_output_in_view(self):
        # Sent by Enter or by a tap on Wyślij, on a phone and with its keyboard up.
        lines = ["1\n", "5\n", "x\n", "1\n", "2.5\n", "3\n", "2\n", "1\n", "6\n", "3\n"]

        def after():
            self.assertEqual(self.focused(), "answer")
            self.assertEqual(self.newest_in_view(), [])
        for by, size in [("enter", PHONES[1]), ("click", PHONES[1]), ("click", KEYBOARD_UP),
                         ("enter", KEYBOARD_UP)]:
            with self.subTest(by=by, size=size):
                self.sized(size)
                self.type_session(lines, by, after)

    def test_controls_thumb_sized_and_apart(self):
        # Every control on show at least 48 CSS px square, 8 px from any other, and
        # within the page's width: while answering, confirming the end, and ended.
        for size in PHONES:
            for state in ["answering", "confirming", "ended"]:
                with self.subTest(size=size, state=state):
                    self.sized(size)
                    self.open()
                    self.wait_for(native(""))
                    if state != "answering":
                        self.browser.click("end-input")
                    if state == "ended":
                        self.browser.click("end-confirmed")
                        self.end_message()
                    self.assertEqual(self.browser.call("""async () => {
                        const shown = [...document.querySelectorAll(
                                "button, input, a[href], summary")]
                            .filter((control) => control.getClientRects().length)
                            .map((control) => [control.id, control.getBoundingClientRect()]);
                        const faults = [];
                        for (const [id, rect] of shown) {
                            if (rect.width < 48 || rect.height < 48 || rect.left < 0 ||
                                    rect.right > Math.min(innerWidth,
                                        document.documentElement.getBoundingClientRect().right)) {
                                faults.push([id, rect.left, rect.width, rect.height]);
                            }
                        }
                        shown.forEach(([id, a], i) => shown.slice(i + 1).forEach(([other, b]) => {
                            const apart = Math.max(b.left - a.right, a.left - b.right,
                                                   b.top - a.bottom, a.top - b.bottom);
                            if (apart < 8) faults.push([id, other, apart]);
                        }));
                        return faults;}"""), [])

    def test_decimal_comma_hint_then_the_answer_as_typed(self):
        # A hint stands out while the field holds digit, comma, digit (the comma's)
        # or a digit and a plus or minus (the marks'), and the transcript it takes
        # room from still shows its end, on a phone, or the hint itself, with the
        # keyboard up in landscape. What is sent is what was typed, the program
        # answers it as its own, and where the grade it keeps is not the one typed,
        # a line says so.
        asked = ["1\n", "5\n", "2\n", "1\n"]  # enough output to fill the transcript
        for typed, comma, sign, kept, size in [
                ("4,5", True, False, "Zapisano 4, nie 4,5.", PHONES[1]),
                ("4,5", True, False, "Zapisano 4, nie 4,5.", LANDSCAPE_KEYBOARD_UP),
                ("1 4,5", True, False, "", PHONES[1]), ("12,25x", True, False, "", PHONES[1]),
                ("4.5", False, False, "", PHONES[1]), ("4,", False, False, "", PHONES[1]),
                (",5", False, False, "", PHONES[1]), ("x,y", False, False, "", PHONES[1]),
                ("4+", False, True, "Zapisano 4, nie 4+.", PHONES[1]),
                ("5.5-", False, True, "Zapisano 5.5, nie 5.5-.", LANDSCAPE_KEYBOARD_UP),
                ("-3", False, False, "", PHONES[1]), ("1e+2", False, False, "", PHONES[1])]:
            with self.subTest(typed=typed, size=size):
                self.sized(size)
                self.type_session(asked)
                self.assertEqual(self.hints_standing_out(), [False, False])
                self.browser.keys(typed)
                self.assertEqual(self.hints_standing_out(), [comma, sign])
                if size == LANDSCAPE_KEYBOARD_UP:
                    self.assertTrue(self.hint_in_view())
                else:
                    self.assertEqual(self.newest_in_view(), [])
                self.browser.keys(ENTER)
                self.wait_for(transcripts(asked + [typed + "\n"])[-1])
                self.assertEqual(self.hints_standing_out(), [False, False])
                self.assertEqual(self.browser.call(
                    "async () => document.getElementById('stored').textContent"), kept)

    def hints_standing_out(self):
        """Whether the comma's hint and the marks' are drawn bold; said by the live
        region when one is."""
        comma, sign, said = self.browser.call("""async () => [
            getComputedStyle(document.getElementById("decimal")).fontWeight,
            document.getElementById("marks").getClientRects().length ?
                getComputedStyle(document.getElementById("marks")).fontWeight : "400",
            document.getElementById("decimal-said").textContent]""")
        shown = [int(comma) >= 600, int(sign) >= 600]
        self.assertEqual(bool(said), any(shown))
        return shown

    def hint_in_view(self):
        return self.browser.call("""async () => {
            await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
            const hint = document.getElementById("hint").getBoundingClientRect();
            const height = window.visualViewport ? visualViewport.height : innerHeight;
            return hint.top >= 0 && hint.bottom <= height + 1;}""")  # scrolled by whole px

    def test_leaving_asks_once_a_grade_exists(self):
        # Armed by the first grade added, not by a refused one; not once it has ended.
        for lines, guarded in [([], False), (["1\n"], False), (["1\n", "7\n", "x\n"], False),
                               (["2\n", "3\n"], False), (["1 5\n"], True),
                               (["1\n", "7\n", "2\n", "3\n"], True),
                               (["1\n", "5\n", "4\n"], False)]:
            with self.subTest(lines=lines):
                self.type_session(lines)
                self.assertEqual(self.guarded(), guarded)

    def test_a_reload_shows_the_run_before_until_a_new_one(self):
        # Once ended, or left as iOS leaves, with no question asked, with grades
        # entered: a reload shows that run's transcript, ended, until a new run.
        for lines, ends in [(["1\n", "5\n", "4\n"], True), (["1\n", "5\n"], False),
                            (["2\n"], False)]:
            with self.subTest(lines=lines):
                shown = self.type_session(lines)
                if not ends:
                    self.browser.call("""async () =>
                        window.removeEventListener("beforeunload", guard)""")
                self.browser.reload()
                if lines == ["2\n"]:  # nothing to lose: a new run
                    self.wait_for(native(""))
                    self.assertFalse(self.ended())
                    continue
                self.wait_for(shown)
                self.assertTrue(self.ended())
                self.assertEqual(self.end_message_now(), "To rozmowa sprzed odświeżenia "
                                 "strony. Program nie pamięta już tych ocen.")
                self.browser.click("restart")
                self.wait_for(native(""))
                self.browser.reload()
                self.wait_for(native(""))
                self.assertFalse(self.ended())

    def test_saved_transcript_is_the_transcript(self):
        # Saved while answering and once ended: UTF-8 text named with today's date.
        for lines in [["1\n", "ó\n", "5\n", "3\n"], ["1\n", "ó\n", "5\n", "3\n", "4\n"]]:
            with self.subTest(lines=lines):
                shown = self.type_session(lines)
                name, kind, text = self.browser.call("""async () => {
                    const saved = [];
                    const made = URL.createObjectURL;
                    URL.createObjectURL = (blob) => { saved.push(blob); return made(blob); };
                    const click = HTMLAnchorElement.prototype.click;
                    HTMLAnchorElement.prototype.click = function () {
                        saved.push(this.download);  // not to the machine's own folder
                    };
                    try {
                        document.getElementById("save").click();
                    } finally {
                        URL.createObjectURL = made;
                        HTMLAnchorElement.prototype.click = click;
                    }
                    const bytes = await new Response(saved[0]).arrayBuffer();
                    const strict = new TextDecoder("utf-8", {fatal: true, ignoreBOM: true});
                    return [saved[1], saved[0].type, strict.decode(bytes)];}""")
                self.assertEqual(name, f"dziennik-ocen-{datetime.date.today().isoformat()}.txt")
                self.assertEqual(kind, "text/plain;charset=utf-8")
                self.assertEqual(text, shown)

    def test_answers_typed_ahead_are_read_in_turn(self):
        # Sent in one go, as when the page is busy between keys: the program cannot
        # take one before the next is queued.
        lines = ["1\n", "x\n", "4.5\n", "1 6\n", "3\n", "2\n"]
        self.open()
        self.browser.call("""async (lines) => {
            const field = document.getElementById("answer");
            for (const line of lines) {
                field.value = line;
                document.getElementById("send").click();
            }}""", [line[:-1] for line in lines])
        self.wait_for(transcripts(lines)[-1])

    def test_a_thousand_answers_pasted_at_once(self):
        lines = pasted_answers()
        shown = transcripts(lines)
        self.assertEqual(len(shown), 1001)
        self.open()
        # The last line's start stays in the field. (How long the page waits for
        # its turns meanwhile, bench/web_page.py measures.)
        self.paste("".join(lines) + "1 2")
        self.wait_for(shown[-1])
        self.assertEqual(self.field_state()[0], "1 2")

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


_ROWS = ([(engine.title().replace("-", ""), engine, []) for engine in browsers.ENGINES]
         + [(name, engine, deleted) for name, engine, _, deleted in OLDER])
for _stem, _engine, _deleted in _ROWS:
    for _origin, _where in [("file", "FromDisk"), ("web", "FromWeb")]:
        _name = _stem + _where  # e.g. WebkitFromWeb, Chromium64FromDisk, Safari11FromWeb
        globals()[_name] = type(_name, (Sessions, unittest.TestCase),
                                {"engine": _engine, "origin": _origin, "deleted": _deleted})


class Contents(unittest.TestCase):
    """What the page holds, read without a browser: scripts that every engine with
    WebAssembly parses, and a module whose boundary they can all pass."""

    def setUp(self):
        if not PAGE:
            self.skipTest(missing())
        with open(PAGE, encoding="utf-8") as file:
            self.page = file.read()

    def test_scripts_parse_as_es2017(self):
        # The first script tells a browser without WebAssembly so, which may be of
        # any age; acorn, from browsers/package.json, parses as the given edition.
        acorn = ROOT / "browsers" / "node_modules" / "acorn"
        self.assertTrue(acorn.is_dir(), "acorn is not installed: run `npm ci` in browsers/")
        scripts = re.findall(r"<script(?![^>]*\btype=)[^>]*>(.*?)</script>", self.page, re.S)
        worker = Path(SITE or "", "sw.js")
        checks = ([("the check for WebAssembly", scripts[0], 5)]
                  + [(f"script {i}", text, 2017) for i, text in enumerate(scripts) if i]
                  + ([("sw.js", worker.read_text(), 2017)] if SITE else []))
        self.assertGreater(len(scripts), 1)
        for name, text, edition in checks:
            with self.subTest(script=name, edition=edition):
                done = subprocess.run(
                    [shutil.which("node") or "node", "-e",
                     "try { require(process.argv[1]).parse(require('fs').readFileSync(0, "
                     "'utf8'), {ecmaVersion: Number(process.argv[2])}); } catch (error) "
                     "{ console.log(String(error)); }", str(acorn), str(edition)],
                    input=text, capture_output=True, text=True, timeout=GUARD, check=True)
                self.assertEqual(done.stdout, "")

    def test_module_boundary_has_no_i64_and_no_mutable_global(self):
        # Engines before BigInt (Chrome 85, Firefox 78, Safari 14.5) cannot pass an
        # i64, and those before Chrome 74 and Firefox 62 export no mutable global.
        program = re.search(r'<script type="application/gzip;base64" id="program">'
                            r"([^<]*)</script>", self.page).group(1)
        with tempfile.TemporaryDirectory() as folder:
            module = os.path.join(folder, "program.wasm")
            with open(module, "wb") as file:
                file.write(gzip.decompress(base64.b64decode(program)))
            tools = os.path.dirname(shutil.which(os.environ.get("WASM_OPT", "wasm-opt")) or "")
            text = subprocess.run([os.path.join(tools, "wasm-dis"), module], check=True,
                                  capture_output=True, text=True, timeout=GUARD).stdout
        imports = re.findall(r"^ \(import .*$", text, re.M)
        exported = re.findall(r'^ \(export "[^"]*" \((?:func|global) (\S+)\)\)$', text, re.M)
        declared = dict(re.findall(r"^ \((?:func|global) (\S+)(.*)$", text, re.M))
        self.assertTrue(imports and exported)
        for line in imports + [declared[name] for name in exported]:
            with self.subTest(line=line):
                self.assertNotIn("i64", line)
                self.assertNotIn("(mut ", line)


class Unsupported(Driving, unittest.TestCase):
    """In Chromium, the page from disk where the program cannot run: without
    WebAssembly, and where it fails to compile. The page says so in a pupil's
    words, the engine's in details alone, nothing to answer is left on show, and
    the console holds no error."""

    def test_the_page_says_why(self):
        if missing():
            self.skipTest(missing())
        for deleted, shown in [(["WebAssembly"], "no-webassembly"),
                               (["WebAssembly.compile", "WebAssembly.compileStreaming"],
                                "failed")]:
            with self.subTest(deleted=deleted), tempfile.TemporaryDirectory() as folder, \
                    browsers.Started("chromium") as self.browser:
                self.browser.open("file://" + without(deleted, PAGE, folder))
                state = self.browser.call("""async (shown) => {
                    const element = document.getElementById(shown);
                    while (element.hidden) await new Promise((go) => setTimeout(go, 5));
                    const visible = (id) => document.getElementById(id).offsetParent !== null;
                    return [element.textContent,
                            ["answer-form", "controls", "hint"].filter(visible),
                            document.getElementById("end-message").textContent,
                            document.getElementById("failure-text").textContent,
                            document.getElementById("transcript").textContent];}""", shown)
                text, controls, ended, detail, transcript = state
                self.assertRegex(text, "przeglądarce")
                self.assertEqual(ended, "")
                self.assertNotRegex(self.visible_text(), NOT_FOR_PUPILS)
                if shown == "no-webassembly":
                    self.assertEqual((controls, detail, transcript), ([], "", ""))
                else:
                    self.assertRegex(detail, "TypeError")
                errors = [entry["message"] for entry in self.browser.driver.get_log("browser")
                          if entry["level"] == "SEVERE"]
                self.assertEqual(errors, [])


class ReadmeFloor(unittest.TestCase):
    def test_the_readme_names_no_browser_older_than_those_tested(self):
        oldest = {}
        for family, version in list(VERSIONS.values()) + [row[2] for row in OLDER]:
            oldest[family] = min(version, oldest.get(family, version))
        readme = (ROOT / "README.md").read_text(encoding="utf-8")
        for family, version in oldest.items():
            with self.subTest(family=family):
                named = [float(n) for n in re.findall(rf"\b{family} (\d+(?:\.\d+)?)", readme)]
                self.assertTrue(named, f"the README names no version of {family}")
                self.assertEqual(min(named), version)


class InstalledSite(Driving, unittest.TestCase):
    """The served site in Chromium: installable, and exact offline once visited,
    the server stopped; the one-file page and the site without a console error."""

    @classmethod
    def setUpClass(cls):
        why = missing("web") or missing("file")
        if why:
            raise unittest.SkipTest(why)
        cls.started = browsers.Started("chromium")
        cls.browser = cls.started.__enter__()
        cls.driver = cls.browser.driver

    @classmethod
    def tearDownClass(cls):
        cls.started.__exit__()

    def setUp(self):
        self.site = Site(SITE)
        self.url = self.site.url
        self.addCleanup(self.site.stop)  # a second stop does nothing
        self.driver.get_log("browser")  # what earlier tests left there

    def controlled(self):
        """Once the site's service worker has cached it and controls the page."""
        self.open()
        self.browser.call("""async () => {
            await navigator.serviceWorker.ready;
            while (!navigator.serviceWorker.controller) {
                await new Promise((resolve) => setTimeout(resolve, 5));
            }}""")

    def console_errors(self):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry["level"] == "SEVERE"]

    def test_installable_and_no_console_error(self):
        for where in ["file", "web"]:
            with self.subTest(where=where):
                if where == "file":
                    self.url = "file://" + os.path.abspath(PAGE)
                    self.open()
                else:
                    self.url = self.site.url
                    self.controlled()
                    errors = self.driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})
                    self.assertEqual(errors["installabilityErrors"], [])
                self.wait_for(native(""))
                self.assertEqual(self.console_errors(), [])

    def caches(self, version, others):
        """The origin's caches: the site's (those not named in `others`), and which
        of `others` are there, once the site has one cache named with `version` and
        all of `others` are there, or the guard has ended. Nothing but the visits
        themselves looks for a new release."""
        return self.browser.call("""async (version, others, guard) => {
            const until = performance.now() + guard * 1000;
            for (;;) {
                const names = await caches.keys();
                const ours = names.filter((name) => !others.includes(name));
                const kept = others.filter((name) => names.includes(name));
                if ((ours.length === 1 && ours[0].includes(version) &&
                     kept.length === others.length) || performance.now() > until) {
                    return [ours, kept];
                }
                await new Promise((resolve) => setTimeout(resolve, 50));
            }}""", version, others, GUARD)

    @staticmethod
    def release(folder, version):
        """Makes the site in `folder` release `version`: its worker configured from
        web/sw.js.in as the build configures it, its page's title marked."""
        built = Path(SITE, "sw.js").read_text()
        files = re.search(r"^const FILES = \[(.*)\];$", built, re.M).group(1)
        with tempfile.TemporaryDirectory() as work:
            script = Path(work, "configure.cmake")
            script.write_text("configure_file(${IN} ${OUT} @ONLY)\n")
            subprocess.run(["cmake", f"-DPROJECT_VERSION={version}", f"-DSITE_FILES={files}",
                            f"-DIN={ROOT / 'web' / 'sw.js.in'}", f"-DOUT={folder}/sw.js",
                            "-P", str(script)], check=True, timeout=GUARD)
        page = Path(SITE, "index.html").read_text(encoding="utf-8")
        Path(folder, "index.html").write_text(
            page.replace("<title>Dziennik ocen</title>",
                         f"<title>Dziennik ocen {version}</title>", 1), encoding="utf-8")

    def test_next_release_by_the_second_visit_and_other_caches_kept(self):
        # Served as most servers serve files, cached for an hour: the release after
        # is the page by the second visit after it is put up, and the page says so
        # on the first. The cache of another app on the origin, and that of a copy
        # of the site in another folder, stay. A file the cache lacks comes from the
        # network.
        for engine in ["chromium", "firefox"]:
            with self.subTest(engine=engine), tempfile.TemporaryDirectory() as folder:
                shutil.copytree(SITE, folder, dirs_exist_ok=True)
                self.site.stop()
                self.site = Site(folder, "max-age=3600")
                self.url = self.site.url
                self.addCleanup(self.site.stop)
                if engine == "chromium":
                    self.next_release(folder)
                    continue
                try:
                    with browsers.Started(engine) as self.browser:
                        self.next_release(folder)
                finally:
                    del self.browser  # the class's Chromium again

    def next_release(self, folder):
        self.release(folder, "2026.1")
        self.controlled()
        others = self.browser.call("""async () => {
            const others = ["quiz-offline", `gradebook ${location.origin}/copy/ 2026.0`];
            for (const name of others) {
                await (await caches.open(name)).put("/x", new Response("x"));
            }
            return others;}""")
        ours, kept = self.caches("2026.1", others)
        self.assertEqual((len(ours), kept), (1, others), ours)
        self.assertIn("2026.1", ours[0])
        Path(folder, "extra.txt").write_text("extra")
        self.browser.open(self.url + "extra.txt")
        self.assertEqual(self.browser.call("async () => document.body.textContent"), "extra")
        self.release(folder, "2026.2")
        self.open()
        self.assertEqual(self.browser.call("async () => document.title"),
                         "Dziennik ocen 2026.1")
        ours, kept = self.caches("2026.2", others)
        self.assertEqual((len(ours), kept), (1, others), ours)
        self.assertIn("2026.2", ours[0])
        self.assertEqual(self.browser.call(
            "async () => document.getElementById('update').textContent"),
            "Jest nowa wersja strony. Zacznie działać przy następnym otwarciu.")
        self.open()
        self.assertEqual(self.browser.call("async () => document.title"),
                         "Dziennik ocen 2026.2")

    def test_runs_offline_once_visited(self):
        self.controlled()
        self.site.stop()
        self.type_session(DOCUMENTED[0])
        self.assertEqual(self.end_message(), ENDED.format(0))


if __name__ == "__main__":
    unittest.main()
