#!/usr/bin/env python3
"""Measures what the test suite catches: applies small faults to the code one at a time,
rebuilds, runs the tests, and reports how many faults some test caught (the mutation score).

    scripts/mutate.py [--count N] [--seed S] [--jobs J] [--list] [FOLDER...]

FOLDER defaults to the merge, install, session and command-line folders of src/. The faults
are the usual simple ones: a comparison or a logical operator turned round, a boolean constant
flipped, a negation dropped, a statement that calls something deleted. Of every place one fits,
N (default 80) are drawn with the seed S, so that two runs over the same code try the same
faults, and the score of a test suite before and after a change to it can be compared. A fault
that does not compile is not counted. The build is build-mutate/ (Debug, no benchmarks);
every file is put back after its fault, also when the script is interrupted.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-mutate"
DEFAULT_FOLDERS = ["src/merge", "src/install", "src/session", "src/cli"]

# (name, pattern, replacement): applied to one match on one line.
OPERATORS = [
    ("== to !=", re.compile(r"(?<![=!<>])==(?!=)"), "!="),
    ("!= to ==", re.compile(r"!=(?!=)"), "=="),
    ("< to <=", re.compile(r"(?<![<>-])<(?![<=])(?=\s)"), "<="),
    ("<= to <", re.compile(r"<="), "<"),
    ("> to >=", re.compile(r"(?<![<>-])>(?![>=])(?=\s)"), ">="),
    (">= to >", re.compile(r">="), ">"),
    ("&& to ||", re.compile(r"&&"), "||"),
    ("|| to &&", re.compile(r"\|\|"), "&&"),
    ("true to false", re.compile(r"\btrue\b"), "false"),
    ("false to true", re.compile(r"\bfalse\b"), "true"),
    ("drop !", re.compile(r"(?<=[(\s])!(?=[A-Za-z_(])"), ""),
    ("+ 1 to - 1", re.compile(r"\+ 1\b"), "- 1"),
]
# A whole statement that calls something and whose value is not kept: deleted.
CALL_STATEMENT = re.compile(r"^\s+(\(void\)\s*)?[A-Za-z_][\w:.\->]*\(.*\);\s*$")


def skip_line(line):
    text = line.strip()
    return (not text or text.startswith("//") or text.startswith("#") or text.startswith("*")
            or "static_assert" in text or text.startswith("case ") or "inline constexpr" in text)


def sites(folders):
    found = []
    for folder in folders:
        for path in sorted((ROOT / folder).glob("*.cpp")):
            lines = path.read_text().splitlines(keepends=True)
            for number, line in enumerate(lines):
                if skip_line(line):
                    continue
                code = line.split("//")[0]
                for name, pattern, replacement in OPERATORS:
                    for match in pattern.finditer(code):
                        found.append((path, number, name, match.start(), match.end(), replacement))
                if CALL_STATEMENT.match(code) and "return" not in code:
                    found.append((path, number, "delete statement", 0, len(line.rstrip("\n")), ""))
    return found


def run(command, timeout=None):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


def configure():
    if not (BUILD / "build.ninja").exists():
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Debug", "-DVELLOMAR_BUILD_BENCH=OFF",
                        "-DVELLOMAR_HARDENING=OFF"], check=True, stdout=subprocess.DEVNULL)
    if run(["cmake", "--build", str(BUILD)]) != 0:
        sys.exit("the unchanged code does not build in build-mutate/")
    if test(jobs=2) != "passed":
        sys.exit("the tests do not pass on the unchanged code")


def test(jobs):
    try:
        code = run(["ctest", "--test-dir", str(BUILD), "-j", str(jobs), "--stop-on-failure",
                    "--timeout", "120", "-E", "PackageTest"], timeout=1800)
    except subprocess.TimeoutExpired:
        return "caught"
    return "passed" if code == 0 else "caught"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=80)
    parser.add_argument("--seed", type=int, default=17)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--list", action="store_true", help="only list the faults drawn")
    parser.add_argument("folders", nargs="*", default=DEFAULT_FOLDERS)
    args = parser.parse_args()

    everywhere = sites(args.folders)
    drawn = random.Random(args.seed).sample(everywhere, min(args.count, len(everywhere)))
    drawn.sort(key=lambda s: (str(s[0]), s[1], s[3]))
    print(f"{len(everywhere)} places for a fault in {', '.join(args.folders)}; "
          f"{len(drawn)} drawn with seed {args.seed}")
    if args.list:
        for path, number, name, *_ in drawn:
            print(f"  {path.relative_to(ROOT)}:{number + 1} {name}")
        return
    configure()
    caught = survived = stillborn = 0
    survivors = []
    started = time.time()
    for index, (path, number, name, begin, end, replacement) in enumerate(drawn, 1):
        original = path.read_text()
        lines = original.splitlines(keepends=True)
        line = lines[number]
        lines[number] = line[:begin] + replacement + line[end:]
        where = f"{path.relative_to(ROOT)}:{number + 1} {name}"
        try:
            path.write_text("".join(lines))
            if run(["cmake", "--build", str(BUILD)]) != 0:
                outcome = "does not compile"
                stillborn += 1
            else:
                outcome = test(args.jobs)
                if outcome == "caught":
                    caught += 1
                else:
                    survived += 1
                    survivors.append(f"{where}: {line.strip()}")
        finally:
            path.write_text(original)
            os.utime(path)
        print(f"[{index}/{len(drawn)}] {where}: {outcome}", flush=True)
    run(["cmake", "--build", str(BUILD)])  # back to the unchanged code
    counted = caught + survived
    print(f"\ncaught {caught} of {counted} faults that compile "
          f"({100.0 * caught / max(counted, 1):.1f} %); {stillborn} did not compile; "
          f"{(time.time() - started) / 60:.0f} min")
    if survivors:
        print("not caught:")
        for survivor in survivors:
            print("  " + survivor)


if __name__ == "__main__":
    main()
