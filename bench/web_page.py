# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Benchmark of the web build's page, gradebook.html, against the page of an
earlier commit, side by side in the same run: their sizes, raw and gzip'd;
Lighthouse's mobile report on each, served uncompressed from 127.0.0.1; in
headless Chromium from file://, the time from opening each to the whole first
menu, on this machine and with the CPU slowed 4 times, and the time a paste of
1,000 answers takes to be answered in full, as the native program answers them.

Needs what tests/test_web_page.py needs: Debian's chromium, chromium-driver and
python3-selenium, so run it from the top of the source tree with `/usr/bin/python3
-m bench.web_page`, and the native program of a plain build; Lighthouse, installed
by `npm ci` in bench/; and, to build the earlier page, git and what the web build
needs. Prints one Markdown table."""

import argparse
import gzip
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from tests import browsers
from tests import test_web_page as page  # the tests' own sessions and server
from tests.dialogue import MENU_LINES

ROOT = Path(__file__).resolve().parent.parent

# The page before it was made smaller: its module fully instrumented by Asyncify,
# optimised for speed and in base64 as it is.
BEFORE = "0cae85c5995775762064c26d0c6dffdeb8fb04de"
LIGHTHOUSE = ROOT / "bench" / "node_modules" / ".bin" / "lighthouse"
LAST_MENU_LINE = MENU_LINES[-1].decode()

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

WAIT_FOR_FIRST_MENU = """
const done = arguments[0];
(function look() {
    window.firstMenu ? done(window.firstMenu) : setTimeout(look, 1);
})();
"""

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

# Lighthouse's figures: (label, category or audit, scale)
LIGHTHOUSE_FIGURES = [
    ("Lighthouse mobile performance", "performance", None),
    ("Lighthouse accessibility", "accessibility", None),
    ("Lighthouse best practices", "best-practices", None),
    ("first contentful paint, ms", "first-contentful-paint", 1),
    ("largest contentful paint, ms", "largest-contentful-paint", 1),
    ("total blocking time, ms", "total-blocking-time", 1),
]


def earlier_page(commit):
    """The page of `commit`, built once from its files (git archive) in
    build/bench/web-COMMIT."""
    folder = ROOT / "build" / "bench" / f"web-{commit}"
    built = folder / "build-web" / "gradebook.html"
    if not built.is_file():
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit],
                                 capture_output=True, check=True).stdout
        subprocess.run(["tar", "-x", "-C", str(folder)], input=archive, check=True)
        for command in (["cmake", "--preset", "web"],
                        ["cmake", "--build", "--preset", "web", "--target", "page"]):
            subprocess.run(command, cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return built


def lighthouse(url, profile):
    """Lighthouse's mobile report on `url` (its default settings: simulated slow 4G,
    the CPU 4 times slower), as a dict."""
    flags = " ".join(browsers.CHROMIUM_FLAGS + [f"--user-data-dir={profile}"])
    done = subprocess.run(
        [str(LIGHTHOUSE), url, "--quiet", "--form-factor=mobile", "--output=json",
         "--output-path=stdout", f"--chrome-flags={flags}",
         "--only-categories=performance,accessibility,best-practices"],
        env={**os.environ, "CHROME_PATH": browsers.CHROMIUM}, capture_output=True, check=True)
    report = json.loads(done.stdout)
    return {key: (report["categories"][key]["score"] if scale is None
                  else report["audits"][key]["numericValue"] * scale)
            for _, key, scale in LIGHTHOUSE_FIGURES}


def lighthouse_runs(pages, runs):
    """Each page's Lighthouse figures, `runs` times, the pages taken in turn, served
    uncompressed from 127.0.0.1."""
    with tempfile.TemporaryDirectory() as folder:
        for name, path in pages.items():
            shutil.copy(path, Path(folder) / f"{name}.html")
        site = page.Site(folder)
        try:
            results = {name: [] for name in pages}
            for _ in range(runs):
                for name in pages:
                    with tempfile.TemporaryDirectory() as profile:
                        results[name].append(lighthouse(f"{site.url}{name}.html", profile))
        finally:
            site.stop()
    return results


def browser_runs(pages, reference, runs):
    """Each page's times, `runs` loads of each, taken in turn, in one browser."""
    lines = page.pasted_answers()
    text, expected = "".join(lines), page.transcripts(lines, reference)[-1]
    times = {name: {"menu": [], "menu4x": [], "paste": []} for name in pages}
    with tempfile.TemporaryDirectory() as profile:
        browser = browsers.chromium(profile)
        try:
            browser.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                    {"source": FIRST_MENU})
            for rate, figure in [(1, "menu"), (4, "menu4x")]:
                browser.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": rate})
                for path in pages.values():  # a first load, not counted
                    browser.get(path.resolve().as_uri())
                for _ in range(runs):
                    for name, path in pages.items():
                        browser.get(path.resolve().as_uri())
                        times[name][figure].append(
                            browser.execute_async_script(WAIT_FOR_FIRST_MENU))
                        if rate == 1:
                            times[name]["paste"].append(
                                browser.execute_async_script(PASTE, text, expected))
        finally:
            browser.quit()
    return times


def spread(values, digits=0):
    """median (min-max)"""
    return (f"{statistics.median(values):.{digits}f} "
            f"({min(values):.{digits}f}-{max(values):.{digits}f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--page", type=Path, default=ROOT / "build-web" / "gradebook.html")
    parser.add_argument("--before", default=BEFORE,
                        help="the commit whose page to compare with (default: %(default)s)")
    parser.add_argument("--before-page", type=Path,
                        help="that page, already built (instead of --before)")
    parser.add_argument("--reference", type=Path, default=ROOT / "build" / "gradebook",
                        help="the native program (default: build/gradebook)")
    parser.add_argument("--runs", type=int, default=20, help="loads of each page")
    parser.add_argument("--lighthouse-runs", type=int, default=3)
    args = parser.parse_args()
    for path in (args.page, args.reference):
        if not path.is_file():
            sys.exit(f"{path} not found: build the web preset and the plain build first")
    if args.lighthouse_runs and not LIGHTHOUSE.is_file():
        sys.exit(f"{LIGHTHOUSE} not found: run `npm ci` in bench/, or --lighthouse-runs 0")
    pages = {"before": args.before_page or earlier_page(args.before), "after": args.page}

    rows = [("page size, bytes", *(str(p.stat().st_size) for p in pages.values())),
            ("page size gzip'd (-9), bytes",
             *(str(len(gzip.compress(p.read_bytes(), 9))) for p in pages.values()))]
    if args.lighthouse_runs:
        reports = lighthouse_runs(pages, args.lighthouse_runs)
        for label, key, scale in LIGHTHOUSE_FIGURES:
            rows.append((label, *(spread([r[key] for r in reports[name]],
                                         0 if scale else 2) for name in pages)))
    times = browser_runs(pages, args.reference, args.runs)
    for label, figure in [("opening to the first menu, ms", "menu"),
                          ("the same, CPU 4x slower, ms", "menu4x"),
                          ("1,000 pasted answers answered, ms", "paste")]:
        rows.append((label, *(spread(times[name][figure]) for name in pages)))

    before = args.before_page or args.before[:12]
    print(f"| figure | before ({before}) | after |\n|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print(f"\nmedian (min-max); Lighthouse {args.lighthouse_runs} runs of each page, "
          f"served from 127.0.0.1; {args.runs} loads of each in headless Chromium "
          "from file://, the pages in turn")


if __name__ == "__main__":
    main()
