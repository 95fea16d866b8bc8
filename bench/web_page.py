# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Benchmark of the web build's page, gradebook.html, against the page of an
earlier commit, side by side in the same run: their sizes, raw and gzip'd;
Lighthouse's mobile report on each, served uncompressed from 127.0.0.1 (as its
site where it has one); in
headless Chromium from file://, the time from opening each to the whole first
menu, on this machine and with the CPU slowed 4 times, the time a paste of
1,000 answers takes to be answered in full, as the native program answers them,
and, around a paste of 10,000 answers (5,000 grades), its longest task, the
longest the page waited for a turn, and the time of one answer before and after.

Needs what tests/test_web_page.py needs: Debian's chromium, chromium-driver and
python3-selenium, so run it from the top of the source tree with `/usr/bin/python3
-m bench.web_page`, and the native program of a plain build; Lighthouse, installed
by `npm ci` in bench/; and, to build the earlier page, git and what the web build
needs. Prints one Markdown table."""

import argparse
import gzip
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

import browsers
from harness import page  # the page tests' own sessions
from harness.dialogue import ADDED, INVALID, MENU, MENU_LINES, PROMPT

ROOT = Path(__file__).resolve().parent.parent

# The page before it worked through queued answers in turns: a long paste was
# one long task.
BEFORE = "5f6cfddaf91c1f952b20d9a60f2869a66e6614fe"
ANSWERS = 5  # answers timed before and after the long paste, the median taken
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

# The end of the transcript, its last `length` characters at most, whatever the
# page's elements: reading the whole would cost more than an answer.
TAIL = """
function tail(length) {
    const transcript = document.getElementById("transcript");
    let node = transcript;
    while (node.lastChild) node = node.lastChild;
    const texts = document.createTreeWalker(transcript, NodeFilter.SHOW_TEXT);
    texts.currentNode = node;
    let text = node.nodeType === Node.TEXT_NODE ? node.data : "";
    while (text.length < length && texts.previousNode()) text = texts.currentNode.data + text;
    return text.slice(-length);
}
"""

# One answer sent as the field sends it, until its reply is in the transcript and
# laid out: ms. (Until the next frame would add a wait of up to a frame's time
# that has nothing to do with the page.)
ANSWER = TAIL + """
const [answer, expected, done] = arguments;
const transcript = document.getElementById("transcript");
const field = document.getElementById("answer");
const replied = new MutationObserver(() => {
    if (tail(expected.length) === expected) {
        void transcript.scrollHeight;
        const time = performance.now() - start;
        replied.disconnect();
        done(time);
    }
});
replied.observe(transcript, {childList: true, subtree: true, characterData: true});
const start = performance.now();
field.value = answer;
field.form.dispatchEvent(new Event("submit", {bubbles: true, cancelable: true}));
"""

# From a paste until its last reply is drawn: that time, the longest task
# Chromium reports (only those over 50 ms are, 0 for none), the longest time
# between two turns of a message loop of the page's own, all in ms, and whether
# the transcript is the whole dialogue then.
LONG_PASTE = TAIL + """
const [text, expected, done] = arguments;
const longest = {task: 0, wait: 0};
let start, armed = Infinity;  // this script's own task is not counted
const tasks = new PerformanceObserver((list) => {
    for (const entry of list.getEntries()) {
        if (entry.startTime > armed) longest.task = Math.max(longest.task, entry.duration);
    }
});
const turns = new MessageChannel();
let last, beating = true;
turns.port1.onmessage = () => {
    const now = performance.now();
    longest.wait = Math.max(longest.wait, now - last);
    last = now;
    if (beating) turns.port2.postMessage(null);
};
const data = new DataTransfer();
data.setData("text/plain", text);
const end = expected.slice(-2000);
function look() {
    if (tail(end.length) === end) {
        requestAnimationFrame(() => {
            const time = performance.now() - start;
            setTimeout(() => {
                beating = false;
                tasks.disconnect();
                done([time, longest.task, longest.wait,
                      document.getElementById("transcript").textContent === expected]);
            }, 100);
        });
    } else {
        setTimeout(look, 1);
    }
}
// The paste in a task of its own, not in this script's.
armed = performance.now();
setTimeout(() => {
    tasks.observe({entryTypes: ["longtask"]});
    start = last = performance.now();
    turns.port2.postMessage(null);
    document.getElementById("answer").dispatchEvent(new ClipboardEvent("paste",
        {clipboardData: data, bubbles: true, cancelable: true}));
    look();
}, 100);
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
    if not (built.parent / "site").is_dir():
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit],
                                 capture_output=True, check=True).stdout
        subprocess.run(["tar", "-x", "-C", str(folder)], input=archive, check=True)
        for command in (["cmake", "--preset", "web"],
                        ["cmake", "--build", "--preset", "web", "--target", "page"]):
            subprocess.run(command, cwd=folder, check=True, stdout=subprocess.DEVNULL)
        # and its site, where the commit has one
        if subprocess.run(["cmake", "--build", "--preset", "web", "--target", "site"],
                          cwd=folder, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode:
            print(f"{commit}: no site built, its page is served alone", file=sys.stderr)
        (built.parent / "site").mkdir(exist_ok=True)
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
    uncompressed from 127.0.0.1: as its site, with the manifest and worker it asks
    for, where it was built with one (site/ beside it), or else alone."""
    with tempfile.TemporaryDirectory() as folder:
        sites = {}
        try:
            for name, path in pages.items():
                served = path.parent / "site"
                if not (served / "index.html").is_file():
                    served = Path(folder) / name
                    served.mkdir()
                    shutil.copy(path, served / "index.html")
                sites[name] = browsers.Site(served)
            results = {name: [] for name in pages}
            for _ in range(runs):
                for name in pages:
                    with tempfile.TemporaryDirectory() as profile:
                        results[name].append(lighthouse(sites[name].url, profile))
        finally:
            for site in sites.values():
                site.stop()
    return results


def long_paste(reference):
    """10,000 answers that add 5,000 grades, and the transcript once all are
    answered, checked against the native program's output."""
    rng = random.Random(page.SEED + 3)
    grades = [rng.choice(["1", "2.5", "3.75", "4.5", "5", "6"]) for _ in range(5000)]
    menu, prompt, added = (text.decode() for text in (MENU, PROMPT, ADDED))
    text = "".join(f"1\n{grade}\n" for grade in grades)
    shown = menu + "".join(f"1\n{prompt}{grade}\n{added}{menu}" for grade in grades)
    output = menu + (prompt + added + menu) * len(grades)
    if page.native(text, reference) != output:
        sys.exit("the native program does not answer the long paste as expected")
    return text, shown


def browser_runs(pages, reference, runs):
    """Each page's times, `runs` loads of each, taken in turn, in one browser."""
    lines = page.pasted_answers()
    text, expected = "".join(lines), page.transcripts(lines, reference)[-1]
    long_text, long_shown = long_paste(reference)
    menu = MENU.decode()
    answer = "x\n" + INVALID.decode() + menu  # at a menu, whatever came before
    times = {name: {figure: [] for figure in ["menu", "menu4x", "paste", "answer before",
                                              "long paste", "longest task", "longest wait",
                                              "answer after"]}
             for name in pages}
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
                            browser.get(path.resolve().as_uri())
                            browser.execute_async_script(WAIT_FOR_FIRST_MENU)
                            figures = times[name]
                            figures["answer before"].append(statistics.median(
                                browser.execute_async_script(ANSWER, "x", menu + answer)
                                for _ in range(ANSWERS)))
                            took, task, wait, whole = browser.execute_async_script(
                                LONG_PASTE, long_text,
                                menu + answer * ANSWERS + long_shown[len(menu):])
                            if not whole:
                                sys.exit(f"{name}: the long paste's transcript is not the dialogue")
                            figures["long paste"].append(took)
                            figures["longest task"].append(task)
                            figures["longest wait"].append(wait)
                            figures["answer after"].append(statistics.median(
                                browser.execute_async_script(ANSWER, "x", menu + answer)
                                for _ in range(ANSWERS)))
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
    for label, figure, digits in [
            ("opening to the first menu, ms", "menu", 0),
            ("the same, CPU 4x slower, ms", "menu4x", 0),
            ("1,000 pasted answers answered, ms", "paste", 0),
            ("10,000 pasted answers answered, ms", "long paste", 0),
            ("the longest task during them (0: none over 50 ms), ms", "longest task", 0),
            ("the longest the page waited for a turn then, ms", "longest wait", 0),
            ("one answer before them, to its reply laid out, ms", "answer before", 1),
            ("one answer after them, the same, ms", "answer after", 1)]:
        rows.append((label, *(spread(times[name][figure], digits) for name in pages)))

    before = args.before_page or args.before[:12]
    print(f"| figure | before ({before}) | after |\n|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print(f"\nmedian (min-max); Lighthouse {args.lighthouse_runs} runs of each page, "
          f"served from 127.0.0.1; {args.runs} loads of each in headless Chromium "
          "from file://, the pages in turn")
    ratios = [statistics.median(times[name]["answer after"]) /
              statistics.median(times[name]["answer before"]) for name in pages]
    print("one answer after the 10,000 over one before them, before and after: "
          + ", ".join(f"{ratio:.2f}" for ratio in ratios) + " (at most 1.2)")


if __name__ == "__main__":
    main()
