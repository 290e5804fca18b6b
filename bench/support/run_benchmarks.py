#!/usr/bin/env python3
"""Runs every benchmark of a release tree (`make bench`) and ends with one table of the figures
that have a target.

The benchmarks named in <tree>/benchmarks.txt run one after the other, their output passed
through as it comes. A figure with a target is a line of its own in that output:

  KRBENCH <name> <value> <unit> <target>

for instance "KRBENCH typing_over_plain 1.14 x <=1.2" (target: an operator among <=, <, >=, >
and a number, no space between). The table gives each such figure with its benchmark, value,
target and whether it is met, then how long each benchmark and the whole run took. The exit
status is not zero when a benchmark failed (its exit status, or a benchmark of it ended with an
error) or printed a figure line that does not read; a missed target is reported in the table,
not as a failure.
"""

import operator
import os
import re
import subprocess
import sys
import time

LINE = re.compile(r"^KRBENCH\s+(\S+)\s+(\S+)\s+(\S+)\s+(<=|>=|<|>)(\S+)\s*$")
COMPARE = {"<=": operator.le, "<": operator.lt, ">=": operator.ge, ">": operator.gt}


def find_program(tree, name):
    for folder, _, files in os.walk(os.path.join(tree, "bench")):
        if name in files:
            path = os.path.join(folder, name)
            if os.access(path, os.X_OK):
                return path
    return None


def run(path):
    """Runs one benchmark, passing its output through; (exit status, figures, problems): the
    lines that do not read as figures, and the benchmarks that ended with an error (the
    benchmark library's "ERROR OCCURRED"), whose figures are then missing from the table."""
    figures, troubles = [], []
    process = subprocess.Popen([path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, bufsize=1,
                               text=True, errors="replace")
    for line in process.stdout:
        sys.stdout.write(line)
        sys.stdout.flush()
        if "ERROR OCCURRED:" in line:
            troubles.append(line.strip())
            continue
        if not line.startswith("KRBENCH"):
            continue
        match = LINE.match(line)
        try:
            name, value, unit, bound, target = match.groups()
            figures.append((name, float(value), unit, bound, float(target)))
        except (AttributeError, ValueError):
            troubles.append(f"unreadable figure line {line.strip()!r}")
    return process.wait(), figures, troubles


def table(rows, header):
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]
    lines = ["  ".join(str(cell).ljust(width) for cell, width in zip(header, widths)).rstrip()]
    lines.append("  ".join("-" * width for width in widths))
    lines += ["  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip() for row in rows]
    return "\n".join(lines)


def main(argv):
    tree = argv[1] if len(argv) > 1 else "build/release"
    with open(os.path.join(tree, "benchmarks.txt")) as listing:
        names = [line.strip() for line in listing if line.strip()]
    started = time.monotonic()
    rows, timings, problems = [], [], []
    for name in names:
        print(f"== {name}", flush=True)
        path = find_program(tree, name)
        if path is None:
            problems.append(f"{name}: not built")
            continue
        begun = time.monotonic()
        status, figures, troubles = run(path)
        timings.append((name, time.monotonic() - begun))
        if status != 0:
            problems.append(f"{name}: exit status {status}")
        problems += [f"{name}: {line}" for line in troubles]
        for figure, value, unit, bound, target in figures:
            met = COMPARE[bound](value, target)
            rows.append((name, figure, f"{value:.4g} {unit}", f"{bound} {target:g}", "met" if met else "MISSED"))
    total = time.monotonic() - started

    print("\n== Figures with a target")
    if rows:
        print(table(rows, ("benchmark", "figure", "value", "target", "")))
    missed = sum(1 for row in rows if row[-1] != "met")
    print(f"{len(rows) - missed} of {len(rows)} targets met")
    print("\n== Time taken")
    print(table([(name, f"{seconds:.0f} s") for name, seconds in timings], ("benchmark", "time")))
    print(f"make bench: {total / 60:.1f} min in all")
    for problem in problems:
        print(f"FAILED {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
