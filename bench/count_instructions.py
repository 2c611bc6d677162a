#!/usr/bin/env python3
"""Instructions per call of functions inside a benchmark, counted by callgrind.

  bench/count_instructions.py <benchmark binary> <benchmark filter> <function>...

Runs the benchmarks the filter selects under `valgrind --tool=callgrind` and
prints, for each function named, how often it was called and the
instructions per call including its callees. Timings on a shared machine
wander; instruction counts do not, so both are worth reporting. A function
is named as callgrind shows it, without the parameter list
(e.g. vmk_MMIOWrite32, adapter::Engine::execute, pthread_mutex_lock).
"""
import os
import re
import subprocess
import sys
import tempfile


def parse(path):
    """Returns {function name: [calls, inclusive Ir]} over every call site."""
    names = {}
    totals = {}
    pending = None  # (callee, count) waiting for its cost line
    callee = None
    name_re = re.compile(r"^(c?fn)=\((\d+)\)(?: (.*))?$")
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = name_re.match(line)
            if m:
                ident, name = m.group(2), m.group(3)
                if name is not None:
                    names[ident] = name
                if m.group(1) == "cfn":
                    callee = names.get(ident, ident)
                continue
            if line.startswith("calls="):
                pending = (callee, int(line.split("=", 1)[1].split()[0]))
                continue
            if pending is not None:
                parts = line.split()
                cost = int(parts[1]) if len(parts) > 1 else 0
                entry = totals.setdefault(pending[0], [0, 0])
                entry[0] += pending[1]
                entry[1] += cost
                pending = None
    return totals


def matches(name, wanted):
    anon = "(anonymous namespace)"
    base = name.replace(anon, "{anon}").split("(", 1)[0].split("'", 1)[0].split("@", 1)[0]
    return base == wanted.replace(anon, "{anon}")


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    binary, flt, funcs = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "callgrind.out")
        subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, binary,
             "--benchmark_filter=" + flt, "--benchmark_min_time=0.05"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        totals = parse(out)
    for want in funcs:
        calls = ir = 0
        for name, (c, i) in totals.items():
            if matches(name, want):
                calls += c
                ir += i
        per = ir / calls if calls else 0.0
        print(f"{flt:32} {want:40} calls {calls:>9}  Ir/call {per:10.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
