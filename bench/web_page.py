# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Benchmark of the web build's page, gradebook.html, in headless Chromium from
file://: its size, the time from opening it to the whole first menu, and the time
a paste of 1,000 answers takes to be answered in full, as the native program
answers them.

Needs what tests/test_web_page.py needs: Debian's chromium, chromium-driver and
python3-selenium, so run it with /usr/bin/python3, and the native program of a
plain build. Prints one Markdown table."""

import argparse
import statistics
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import test_web_page as page  # noqa: E402  the tests' own browser

LAST_MENU_LINE = "[4] - Wyjdz z programu \n"

# Put in the page before its own scripts: notes performance.now(), the time since
# the page was opened, when the first menu is whole in the transcript.
FIRST_MENU = """
new MutationObserver((changes, observer) => {
    const transcript = document.getElementById("transcript");
    if (transcript && transcript.textContent.endsWith(%r)) {
        window.firstMenu = performance.now();
        observer.disconnect();
    }
}).observe(document, {childList: true, subtree: true, characterData: true});
""" % LAST_MENU_LINE

# From the paste until the transcript holds the whole dialogue and has been drawn.
PASTE = """
const [text, expected, done] = arguments;
const transcript = document.getElementById("transcript");
const data = new DataTransfer();
data.setData("text/plain", text);
const start = performance.now();
document.getElementById("answer").dispatchEvent(new ClipboardEvent("paste",
    {clipboardData: data, bubbles: true, cancelable: true}));
(function look() {
    if (transcript.textContent === expected) {
        requestAnimationFrame(() => done(performance.now() - start));
    } else {
        setTimeout(look, 1);
    }
})();
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--page", type=Path, default=ROOT / "build-web" / "gradebook.html")
    parser.add_argument("--reference", type=Path, default=ROOT / "build" / "gradebook",
                        help="the native program (default: build/gradebook)")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    page.PAGE, page.REFERENCE = str(args.page), str(args.reference)
    for path in (args.page, args.reference):
        if not path.is_file():
            sys.exit(f"{path} not found: build the web preset and the plain build first")
    why = page.missing()
    if why:
        sys.exit(why)

    # The answers of the tests' paste, and what the transcript then holds.
    lines = page.pasted_answers()
    expected = page.transcripts(lines)[-1]

    with tempfile.TemporaryDirectory() as profile:
        browser = page.chromium(profile)
        try:
            browser.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                    {"source": FIRST_MENU})
            url = args.page.resolve().as_uri()
            first_menu, pasted = [], []
            browser.get(url)  # a first load, not counted: the browser's own start-up
            for _ in range(args.runs):
                browser.get(url)
                first_menu.append(browser.execute_async_script("""
                    const done = arguments[0];
                    (function look() {
                        window.firstMenu ? done(window.firstMenu) : setTimeout(look, 1);
                    })();"""))
                pasted.append(browser.execute_async_script(PASTE, "".join(lines), expected))
        finally:
            browser.quit()

    print("| figure | median | min | max |\n|---|---|---|---|")
    print(f"| page size, bytes | {args.page.stat().st_size} | | |")
    for name, times in [("opening to the first menu, ms", first_menu),
                        ("1,000 pasted answers answered, ms", pasted)]:
        print(f"| {name} | {statistics.median(times):.0f} | {min(times):.0f} "
              f"| {max(times):.0f} |")
    print(f"\n{args.runs} loads in headless Chromium from file://")


if __name__ == "__main__":
    main()
