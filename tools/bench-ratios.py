#!/usr/bin/env python3
"""Turns the benchmark programs' JSON output into the performance targets' ratios.

Each benchmark is named <group>/<row>/<who>. For every name the repetitions' times give a
median and a min-max; a ratio is always one median over another from the same run. The
times are the CPU time of the benchmark's thread (kernel time in its system calls
included), which a machine shared with other work disturbs less than the wall clock.
"""
import json
import statistics
import sys
from collections import defaultdict

times = defaultdict(list)
context = {}
for path in sys.argv[1:]:
    with open(path) as f:
        data = json.load(f)
    context = data.get("context", context)
    for run in data["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
        times[run["run_name"]].append(run["cpu_time"] * scale)


def median(name):
    return statistics.median(times[name])


def spread(name):
    values = times[name]
    return f"{median(name):9.1f} ({min(values):.1f}-{max(values):.1f})"


def rows(group):
    seen = []
    for name in times:
        parts = name.split("/")
        if parts[0] == group and parts[1] not in seen:
            seen.append(parts[1])
    return seen


summary = []


def verdict(ok):
    return "met" if ok else "NOT MET"


def show(title, group, baselines, lower_is_better_ratio=False):
    names = rows(group)
    if not names:
        return None
    print(title)
    header = f"  {'row':30} {'kvz ns median (min-max)':>26}"
    for who in baselines:
        header += f" {who + ' ns median (min-max)':>28} {who + '/kvz':>10}"
    print(header)
    ratios = {who: [] for who in baselines}
    for row in names:
        line = f"  {row:30} {spread(f'{group}/{row}/kvz'):>26}"
        for who in baselines:
            name = f"{group}/{row}/{who}"
            if name not in times:
                line += f" {'-':>28} {'-':>10}"
                continue
            ratio = median(name) / median(f"{group}/{row}/kvz")
            ratios[who].append((row, ratio))
            line += f" {spread(name):>28} {ratio:9.2f}x"
        print(line)
    return ratios


repetitions = max((len(v) for v in times.values()), default=0)
print(f"{context.get('host_name', '?')}: {context.get('num_cpus', '?')} CPUs at "
      f"{context.get('mhz_per_cpu', '?')} MHz, load {context.get('load_avg', '?')}; "
      f"{repetitions} repetitions, medians in ns\n")

r = show("1. The host's format into 764 units: speed-up of kvz (baseline/kvz)", "format",
         ["glibc", "fmt"])
if r:
    glibc = statistics.median(x for _, x in r["glibc"])
    fmt = statistics.median(x for _, x in r["fmt"])
    ok = glibc >= 2.0 and fmt > 1.0
    print(f"  table median: {glibc:.2f}x glibc vswprintf (>= 2), {fmt:.2f}x fmt (> 1)\n")
    summary.append(("1 format table", f"{glibc:.2f}x vs glibc, {fmt:.2f}x vs fmt",
                    ">= 2x, > 1x", verdict(ok)))

r = show("2. The prompts' frames into 1024 units: speed-up of kvz (glibc/kvz)", "frame",
         ["glibc"])
if r:
    least = min(x for _, x in r["glibc"])
    print(f"  slowest frame: {least:.2f}x (>= 2.5)\n")
    summary.append(("2 frames", f"{least:.2f}x vs glibc (slowest frame)", ">= 2.5x",
                    verdict(least >= 2.5)))

r = show("3. Forwarding to an installed hook: floor/kvz and direct/kvz", "hook",
         ["floor", "direct"])
if r:
    worst = max(1 / x for _, x in r["floor"])
    direct = max(1 / x for _, x in r["direct"])
    print(f"  worst entry point: {worst:.2f}x its floor, a call into the module and one "
          f"indirect call (<= 1.2); {direct:.2f}x a direct call of the hook\n")
    summary.append(("3 hook forwarding", f"{worst:.2f}x its floor", "<= 1.2x",
                    verdict(worst <= 1.2)))
m = show("   A setter: floor/kvz, and a direct call for scale", "module", ["floor", "direct"])
if m:
    setter = 1 / m["floor"][0][1]
    print(f"  a setter: {setter:.2f}x its floor, one release store in another shared library "
          f"(<= 1.3); {1 / m['direct'][0][1]:.2f}x a direct call\n")
    summary.append(("3 setter", f"{setter:.2f}x its floor", "<= 1.3x", verdict(setter <= 1.3)))

r = show("4. No hook, no debugger: baseline/kvz", "nohook", ["raw", "ifstream"])
if r:
    raw = 1 / r["raw"][0][1]
    ifs = 1 / r["ifstream"][0][1]
    print(f"  kvz takes {raw:.2f}x the raw open/read/close (<= 1.2) and "
          f"{ifs:.2f}x std::ifstream (<= 1)\n")
    summary.append(("4 no-hook check", f"{raw:.2f}x raw read, {ifs:.2f}x ifstream",
                    "<= 1.2x, <= 1x", verdict(raw <= 1.2 and ifs <= 1.0)))

r = show("5. _DebugOutput to /dev/null: write/kvz and fprintf/kvz", "output",
         ["write", "fprintf"])
if r:
    for (row, w), (_, f) in zip(r["write"], r["fprintf"]):
        print(f"  {row}: kvz takes {1 / w:.2f}x one write(2) of its bytes, "
              f"{1 / f:.2f}x fprintf's time")
    writes = dict(r["write"])
    fprintfs = dict(r["fprintf"])
    worst = max(1 / x for x in writes.values())
    slowest = max(1 / x for x in fprintfs.values())
    summary.append(("5 _DebugOutput", f"{worst:.2f}x write(2), {slowest:.2f}x fprintf (worst)",
                    "<= 1.2x, < 1x", verdict(worst <= 1.2 and slowest < 1.0)))
    print()

if summary:
    print("Targets")
    for target, measured, wanted, result in summary:
        print(f"  {target:24} {measured:38} {wanted:14} {result}")
