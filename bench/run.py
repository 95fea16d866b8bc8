# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Benchmark of scripted grade-book sessions on hyperfine: time, scaling, memory.
After tests/test_bench.py and a check of each session's bytes, it times gradebook
(output into a pipe and into /dev/null) next to `cat` copying the expected output
and bench/flush_reference replaying it in the program's write() pieces."""

import argparse
import json
import os
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from harness import session

ROOT = Path(__file__).resolve().parent.parent
PLANS = {  # timed sizes, sizes for memory alone, hyperfine's runs
    "full": ((10_000, 100_000, 1_000_000), (3_000_000,), ["--warmup=1", "--min-runs=5"]),
    "quick": ((2_000, 20_000), (60_000,), ["--runs=3"])}
HEADER = ("grades", "output", "runs", "out MB", "gradebook s", "± s", "ns/grade", "cat s",
          "ref s", "x cat", "x ref", "peak RSS KiB", "B/grade")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="a smoke run of small sessions")
    parser.add_argument("--build", type=Path, default=ROOT / "build", help="default: build")
    args = parser.parse_args()
    timed, untimed, runs = PLANS["quick" if args.quick else "full"]
    # hyperfine's Markdown compares the commands' times, and fails when the shell's
    # start-up, which it takes off, leaves a time of 0: it can in a smoke run's small
    # sessions on a busy machine.
    exports = ("json", "csv") if args.quick else ("json", "csv", "markdown")
    build = args.build.resolve()
    gradebook, reference = build / "gradebook", build / "bench" / "flush_reference"
    work, results = build / "bench" / "sessions", build / "bench" / "results"
    for directory in (work, results):
        directory.mkdir(parents=True, exist_ok=True)
    for tool in ("hyperfine", "/usr/bin/time"):
        if not shutil.which(tool):
            sys.exit(f"{tool} not found: install the Debian packages hyperfine and time")
    env = {**os.environ, "GRADEBOOK": str(gradebook), "FLUSH_REFERENCE": str(reference)}
    if subprocess.run([sys.executable, "-m", "unittest", "tests.test_bench"], env=env,
                      cwd=ROOT).returncode:
        sys.exit("tests/test_bench.py failed (is the project built?): nothing timed")

    rows, ns, ref, peak = [], {}, {}, {}
    for n in (0, *timed, *untimed):
        stdin, output, pieces = (work / f"{n}.{kind}" for kind in ("in", "out", "pieces"))
        typed = session.answers(n)
        stdin.write_bytes(session.script(typed))
        # GNU time, as a child of Python would count Python's memory too.
        with open(stdin, "rb") as source:
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", work / "peak", gradebook],
                           stdin=source, stdout=subprocess.DEVNULL, check=True)
        peak[n] = int((work / "peak").read_text().split()[-1]) * 1024
        memory = [f"{peak[n] / 1024:.0f}", f"{(peak[n] - peak[0]) / n:.2f}" if n else "-"]
        if n not in timed:
            rows.append([n, "null", *["-"] * 9, *memory])
            continue
        data, flushes = session.dialogue(typed)
        output.write_bytes(data)
        pieces.write_bytes(session.pieces(flushes).tobytes())
        for command, path in (([gradebook], stdin), ([reference, output, pieces], os.devnull)):
            with open(path, "rb") as source:
                if subprocess.run(command, stdin=source, capture_output=True).stdout != data:
                    sys.exit(f"{command[0]} wrote other output than expected for {n} grades")
        for into in ("pipe", "null"):
            export, q = results / f"{n}-{into}", lambda path: shlex.quote(str(path))
            subprocess.run(["hyperfine", *runs, f"--output={into}", *(
                f"--export-{kind}={export}.{kind}" for kind in exports),
                            "-n", "gradebook", f"{q(gradebook)} < {q(stdin)}",
                            "-n", "cat", f"cat {q(output)}",
                            "-n", "ref", f"{q(reference)} {q(output)} {q(pieces)}"], check=True)
            t = {r["command"]: r for r in json.loads(Path(f"{export}.json").read_text())["results"]}
            g, c, r = (t[name]["median"] for name in ("gradebook", "cat", "ref"))
            ns[n, into], ref[n, into] = g / n * 1e9, g / r
            rows.append([n, into, len(t["gradebook"]["times"]), f"{len(data) / 1e6:.1f}",
                         f"{g:.4f}", f"{t['gradebook']['stddev']:.4f}", f"{g / n * 1e9:.0f}",
                         f"{c:.4f}", f"{r:.4f}", f"{g / c:.1f}" if c else "-", f"{g / r:.2f}",
                         *(memory if into == "null" else ["-", "-"])])

    print()
    for row in [HEADER, ["--:"] * len(HEADER), *rows]:
        print("| " + " | ".join(map(str, row)) + " |")

    small, middle, large, largest = timed[0], timed[1], timed[-1], untimed[-1]
    for name, figures, limit in [
            (f"linear cost: ns/grade at {large} over at {small}, pipe and null",
             [ns[large, o] / ns[small, o] for o in ("pipe", "null")], 1.3),
            (f"memory: B/grade at {large} and {largest} and the slope between",
             [(peak[n] - peak[0]) / n for n in (large, largest)]
             + [(peak[largest] - peak[large]) / (largest - large)], 8),
            (f"throughput: x ref at {middle}, pipe and null",
             [ref[middle, o] for o in ("pipe", "null")], 1.05)]:
        verdict = "not judged" if args.quick else "met" if max(figures) <= limit else "MISSED"
        print(f"{name}: {', '.join(f'{f:.2f}' for f in figures)} (at most {limit}: {verdict})")
    print(f"hyperfine's own results, as {', '.join(exports)}: {results}")


if __name__ == "__main__":
    main()
