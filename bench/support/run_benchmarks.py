#!/usr/bin/env python3
"""Runs every benchmark of a release tree (`make bench`) twice, on the whole machine and then
pinned to two cores, and ends with one table of the figures that have a target, a column for each.

The benchmarks named in <tree>/benchmarks.txt run one after the other, their output passed
through as it comes; then all of them again under `taskset -c 0,1`, so that a benchmark, and
every process it starts (the application, its web engine, the X server of the desktop figures),
shares two cores, as on a busy or small machine. A figure with a target is a line of its own in
that output:

  KRBENCH <name> <value> <unit> <target>

for instance "KRBENCH typing_over_plain 1.14 x <=1.2" (target: an operator among <=, <, >=, >
and a number, no space between). The table gives each such figure with its benchmark, target,
and the value on the whole machine and on two cores, each marked met or MISSED (or "-" when that
pass did not give it), then how long each benchmark took in each pass and the whole run. When
the machine has fewer than two cores to give, or no `taskset`, the pinned pass is left out and
the run says so. The exit status is not zero when a benchmark failed (its exit status, or a
benchmark of it ended with an error) or printed a figure line that does not read; a missed
target is reported in the table, not as a failure.
"""


import operator
import os
import re
import shutil
import subprocess
import sys
import time

LINE = re.compile(r"^KRBENCH\s+(\S+)\s+(\S+)\s+(\S+)\s+(<=|>=|<|>)(\S+)\s*$")
COMPARE = {"<=": operator.le, "<": operator.lt, ">=": operator.ge, ">": operator.gt}
PINNED_CORES = "0,1"


def find_program(tree, name):
    for folder, _, files in os.walk(os.path.join(tree, "bench")):
        if name in files:
            path = os.path.join(folder, name)
            if os.access(path, os.X_OK):
                return path
    return None


def run(command):
    """Runs one benchmark, passing its output through; (exit status, figures, problems): the
    lines that do not read as figures, and the benchmarks that ended with an error (the
    benchmark library's "ERROR OCCURRED"), whose figures are then missing from the table."""
    figures, troubles = [], []
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, bufsize=1,
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


def pinned_prefix():
    """The command prefix of the pass on two cores, or (None, why) when it cannot run here."""
    if shutil.which("taskset") is None:
        return None, "no taskset on this machine"
    wanted = {int(core) for core in PINNED_CORES.split(",")}
    if not wanted <= os.sched_getaffinity(0):
        return None, f"cores {PINNED_CORES} are not among those this run may use"
    return ["taskset", "-c", PINNED_CORES], None


def run_pass(names, prefix, label, figures, timings, problems):
    """Runs each benchmark (name, path) once under prefix; records its figures under label (first printed
    first) and how long it took."""
    for name, path in names:
        print(f"== {name} ({label})", flush=True)
        begun = time.monotonic()
        status, found, troubles = run(prefix + [path])
        timings.setdefault(name, {})[label] = time.monotonic() - begun
        if status != 0:
            problems.append(f"{name} ({label}): exit status {status}")
        problems += [f"{name} ({label}): {line}" for line in troubles]
        for figure, value, unit, bound, target in found:
            row = figures.setdefault((name, figure), {"bound": bound, "target": target})
            row[label] = (value, unit, COMPARE[bound](value, target))


def main(argv):
    tree = argv[1] if len(argv) > 1 else "build/release"
    with open(os.path.join(tree, "benchmarks.txt")) as listing:
        names = [line.strip() for line in listing if line.strip()]
    started = time.monotonic()
    whole, pinned = "whole machine", f"two cores ({PINNED_CORES})"
    figures, timings, problems = {}, {}, []
    programs = []
    for name in names:
        path = find_program(tree, name)
        if path is None:
            problems.append(f"{name}: not built")
        else:
            programs.append((name, path))
    run_pass(programs, [], whole, figures, timings, problems)
    prefix, why_not = pinned_prefix()
    if prefix is None:
        print(f"\n== No pass on two cores: {why_not}", flush=True)
    else:
        run_pass(programs, prefix, pinned, figures, timings, problems)
    total = time.monotonic() - started
    labels = [whole] + ([pinned] if prefix else [])

    def cell(row, label):
        if label not in row:
            return "-"
        value, unit, met = row[label]
        return f"{value:.4g} {unit} {'met' if met else 'MISSED'}"

    print("\n== Figures with a target")
    rows = [(name, figure, f"{row['bound']} {row['target']:g}") + tuple(cell(row, label) for label in labels)
            for (name, figure), row in figures.items()]
    if rows:
        print(table(rows, ("benchmark", "figure", "target") + tuple(labels)))
    for label in labels:
        given = [row[label] for row in figures.values() if label in row]
        print(f"{label}: {sum(1 for _, _, met in given if met)} of {len(given)} targets met"
              + (f" ({len(figures) - len(given)} not given)" if len(given) < len(figures) else ""))
    print("\n== Time taken")
    print(table([(name,) + tuple(f"{passes[label]:.0f} s" if label in passes else "-" for label in labels)
                 for name, passes in timings.items()], ("benchmark",) + tuple(labels)))
    print(f"make bench: {total / 60:.1f} min in all")
    for problem in problems:
        print(f"FAILED {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
