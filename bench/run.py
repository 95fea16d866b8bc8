"""Benchmark of scripted grade-book sessions: time, scaling and memory.

    python3 bench/run.py [--quick] [--build DIR] [--runs K]

Runs the built gradebook on seeded sessions (see session.py) of N grades, with
standard input from the session's file and standard output into a pipe (read by
cat into /dev/null) or into /dev/null, next to two references on the same session:

- cat: `cat` copying the session's output from a file, the cost of moving the bytes;
- ref: bench/flush_reference replaying the same output in the same write() pieces as
  the grade book, the cost of its flush discipline alone.

Before timing, it checks that both the grade book and the reference write exactly
the output session.py works out, and (with strace) in exactly its pieces. Prints
one table, writes it also as CSV, and measures nothing it asserts.
"""

import argparse
import csv
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import session

ROOT = Path(__file__).resolve().parent.parent
TIMED = (10_000, 100_000, 1_000_000)
MEMORY = (1_000_000, 3_000_000)
QUICK_TIMED = (2_000, 20_000)
QUICK_MEMORY = (20_000, 60_000)
OUTPUTS = ("pipe", "null")
MIN_SECONDS = 2
TIME = "/usr/bin/time"  # GNU time, for peak resident memory
COLUMNS = ("grades", "output", "runs", "out MB", "gradebook s", "ns/grade", "MB/s", "cat s",
           "ref s", "x cat", "x ref", "peak RSS KiB", "B/grade")


class Session:
    """One session's files: the answers, the expected output and its pieces."""

    def __init__(self, directory, grades, with_output):
        self.grades = grades
        self.stdin = directory / f"{grades}.in"
        self.output = directory / f"{grades}.out"
        self.pieces = directory / f"{grades}.pieces"
        typed = session.answers(grades)
        self.stdin.write_bytes(session.script(typed))
        if with_output:
            out = session.dialogue(typed)
            self.output.write_bytes(out.data)
            with open(self.pieces, "wb") as f:
                out.pieces.tofile(f)
            self.expected_pieces = out.pieces.tolist()
            self.size = len(out.data)


class Commands:
    def __init__(self, build):
        self.gradebook = build / "gradebook"
        self.reference = build / "bench" / "flush_reference"
        for program in (self.gradebook, self.reference):
            if not os.access(program, os.X_OK):
                sys.exit(f"{program} not found: build first with "
                         "`cmake -S . -B build && cmake --build build`")

    def all(self, s):
        """name -> (command, standard input) for the session s."""
        return {"gradebook": ([str(self.gradebook)], s.stdin),
                "cat": (["cat", str(s.output)], os.devnull),
                "ref": ([str(self.reference), str(s.output), str(s.pieces)], os.devnull)}


def run(command, stdin, into, prefix=()):
    """Runs command once; into is "pipe", "null" or a path. Returns the wall time."""
    with open(stdin, "rb") as source:
        start = time.perf_counter()
        if into == "pipe":
            child = subprocess.Popen([*prefix, *command], stdin=source,
                                     stdout=subprocess.PIPE)
            reader = subprocess.Popen(["cat"], stdin=child.stdout,
                                      stdout=subprocess.DEVNULL)
            child.stdout.close()
            reader.wait()
        else:
            with open(os.devnull if into == "null" else into, "wb") as sink:
                child = subprocess.Popen([*prefix, *command], stdin=source, stdout=sink)
        child.wait()
        elapsed = time.perf_counter() - start
    if child.returncode != 0:
        sys.exit(f"{command[0]} ended with status {child.returncode}")
    return elapsed


def peak_rss(command, stdin, report):
    """command's peak resident memory in bytes, its output into /dev/null.

    Through GNU time, because a child that Python starts itself would count Python's
    memory too: it shares Python's memory until it executes the command, and the
    kernel keeps the larger of the two peaks.
    """
    run(command, stdin, "null", (TIME, "-f", "%M", "-o", str(report)))
    return int(report.read_text().split()[-1]) * 1024


def check_bytes(commands, s, scratch):
    for name, (command, stdin) in commands.all(s).items():
        if name != "cat":
            run(command, stdin, scratch)
            if scratch.read_bytes() != s.output.read_bytes():
                sys.exit(f"{name} wrote other output than session.py expects for "
                         f"{s.grades} grades; compare {scratch} with {s.output}")


# strace's options for a log of what a program writes, to be followed by its path.
STRACE = ("strace", "-qq", "-e", "trace=write,writev", "-e", "signal=none", "-o")
WRITE = re.compile(rb"^(\w+)\(1, .*, (\d+)\) += (\d+)$")


def write_pieces(trace):
    """The lengths of the write() calls in an strace log made with STRACE.

    ValueError for anything else in it: a writev(), a partial or a failed write.
    """
    pieces = []
    for line in trace.splitlines():
        found = WRITE.match(line)
        if not found or found[1] != b"write" or found[2] != found[3]:
            raise ValueError(f"not a whole write() to standard output: {line[:60]!r}")
        pieces.append(int(found[3]))
    return pieces


def check_pieces(commands, s, scratch):
    if not shutil.which("strace"):
        return "write() pieces not checked: strace not found"
    for name, (command, stdin) in commands.all(s).items():
        for into in OUTPUTS if name != "cat" else ():
            run(command, stdin, into, (*STRACE, str(scratch)))
            try:
                pieces = write_pieces(scratch.read_bytes())
            except ValueError as fault:
                sys.exit(f"{name} into {into}: {fault}; see {scratch}")
            if pieces != s.expected_pieces:
                sys.exit(f"{name} into {into}: other write() pieces than session.py "
                         f"expects for {s.grades} grades; see {scratch}")
    return (f"write() pieces checked with strace on {s.grades} grades "
            "(pipe and /dev/null)")


def rows(commands, timed, memory, fixed, runs, report):
    """The table's rows, as dicts keyed by COLUMNS (None where nothing applies)."""
    times = {}  # (grades, output, name) -> [s]
    rounds = {}  # grades -> how many
    for s in timed:
        # Round after round of every command, so that a slow spell of the machine
        # meets them all; at least `runs` rounds, more while they take under
        # MIN_SECONDS, so that small sessions get enough runs for a steady median.
        began = time.monotonic()
        rounds[s.grades] = 0
        while rounds[s.grades] < runs or time.monotonic() - began < MIN_SECONDS:
            for into in OUTPUTS:
                for name, (command, stdin) in commands.all(s).items():
                    times.setdefault((s.grades, into, name), []).append(
                        run(command, stdin, into))
            rounds[s.grades] += 1
    peaks = {}  # grades -> bytes; one run each, as a peak varies by a few pages at most
    if os.access(TIME, os.X_OK):
        for s in {s.grades: s for s in (fixed, *timed, *memory)}.values():
            peaks[s.grades] = peak_rss([str(commands.gradebook)], s.stdin, report)

    def memory_columns(grades):
        if grades not in peaks:
            return {"peak RSS KiB": None, "B/grade": None}
        return {"peak RSS KiB": peaks[grades] / 1024,
                "B/grade": (peaks[grades] - peaks[0]) / grades if grades else None}

    table = [{**dict.fromkeys(COLUMNS), "grades": 0, "output": "null", **memory_columns(0)}]
    for s in timed:
        for into in OUTPUTS:
            t = {name: statistics.median(times[(s.grades, into, name)])
                 for name in ("gradebook", "cat", "ref")}
            table.append({"grades": s.grades, "output": into, "runs": rounds[s.grades],
                          "out MB": s.size / 1e6,
                          "gradebook s": t["gradebook"],
                          "ns/grade": t["gradebook"] / s.grades * 1e9,
                          "MB/s": s.size / t["gradebook"] / 1e6,
                          "cat s": t["cat"], "ref s": t["ref"],
                          "x cat": t["gradebook"] / t["cat"],
                          "x ref": t["gradebook"] / t["ref"],
                          **(memory_columns(s.grades) if into == "null"
                             else memory_columns(None))})
    for s in memory:
        if s not in timed:
            table.append({**dict.fromkeys(COLUMNS), "grades": s.grades, "output": "null",
                          **memory_columns(s.grades)})
    return table


FORMATS = {"out MB": "{:.1f}", "gradebook s": "{:.4f}", "ns/grade": "{:.0f}",
           "MB/s": "{:.1f}", "cat s": "{:.4f}", "ref s": "{:.4f}", "x cat": "{:.1f}",
           "x ref": "{:.2f}", "peak RSS KiB": "{:.0f}", "B/grade": "{:.2f}"}


def show(value, column):
    if value is None:
        return "-"
    return FORMATS.get(column, "{}").format(value)


def print_table(table):
    cells = [[show(row[c], c) for c in COLUMNS] for row in table]
    widths = [max(len(c), *(len(line[i]) for line in cells)) for i, c in enumerate(COLUMNS)]
    print("  ".join(c.rjust(w) for c, w in zip(COLUMNS, widths)))
    for line in cells:
        print("  ".join(v.rjust(w) for v, w in zip(line, widths)))


def summary(table, timed, memory, quick):
    def row(grades, output):
        return next(r for r in table if r["grades"] == grades and r["output"] == output)

    small, middle, large = timed[0], timed[len(timed) // 2], timed[-1]
    linear = [row(large, o)["ns/grade"] / row(small, o)["ns/grade"] for o in OUTPUTS]
    flush = [row(middle, o)["x ref"] for o in OUTPUTS]

    def verdict(figures, limit):
        if quick:
            return "not judged at these sizes"
        return "met" if max(figures) <= limit else "MISSED"

    def listed(figures):
        return ", ".join(f"{o} {f:.2f}" for o, f in zip(OUTPUTS, figures))

    print(f"linear cost: ns/grade at {large} / at {small}: {listed(linear)}"
          f" (at most 1.3: {verdict(linear, 1.3)})")
    if row(0, "null")["peak RSS KiB"] is None:
        print(f"memory: not measured, {TIME} not found (Debian package time)")
    else:
        per_grade = [row(n, "null")["B/grade"] for n in memory]
        low, high = (row(n, "null")["peak RSS KiB"] * 1024 for n in (memory[0], memory[-1]))
        slope = (high - low) / (memory[-1] - memory[0])
        print("memory: B/grade above the 0-grade session: "
              + ", ".join(f"{f:.2f} at {n}" for n, f in zip(memory, per_grade))
              + f"; slope {memory[0]} to {memory[-1]}: {slope:.2f}"
              f" (at most 8: {verdict(per_grade + [slope], 8)})")
    print(f"throughput: x ref at {middle}: {listed(flush)}"
          f" (at most 1.4: {verdict(flush, 1.4)})")


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{model}, {os.cpu_count()} CPUs, Linux {platform.release()}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help=f"small sessions, a smoke run: {QUICK_TIMED}, {QUICK_MEMORY}")
    parser.add_argument("--build", type=Path, default=ROOT / "build",
                        help="the build directory (default: build)")
    parser.add_argument("--runs", type=int, help="least runs of each, for the median "
                        "(default 5, with --quick 3)")
    args = parser.parse_args()
    began = time.monotonic()
    runs = args.runs or (3 if args.quick else 5)
    timed_sizes, memory_sizes = (QUICK_TIMED, QUICK_MEMORY) if args.quick else (TIMED, MEMORY)

    commands = Commands(args.build.resolve())
    directory = args.build.resolve() / "bench" / "sessions"
    directory.mkdir(parents=True, exist_ok=True)
    scratch = directory / "check.tmp"

    print(f"machine: {machine()}")
    print(f"sessions in {directory}", flush=True)
    timed = [Session(directory, n, with_output=True) for n in timed_sizes]
    memory = [next((s for s in timed if s.grades == n), None)
              or Session(directory, n, with_output=False) for n in memory_sizes]
    fixed = Session(directory, 0, with_output=False)
    for s in timed:
        check_bytes(commands, s, scratch)
    print(check_pieces(commands, timed[0], scratch), flush=True)
    table = rows(commands, timed, memory, fixed, runs, scratch)
    scratch.unlink(missing_ok=True)
    print()
    print_table(table)
    print()
    summary(table, timed_sizes, memory_sizes, args.quick)

    csv_path = args.build.resolve() / "bench.csv"
    with open(csv_path, "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=COLUMNS)
        writer.writeheader()
        writer.writerows({c: "" if v is None else v for c, v in row.items()}
                         for row in table)
    print(f"\nCSV: {csv_path} (took {time.monotonic() - began:.0f} s)")


if __name__ == "__main__":
    main()
