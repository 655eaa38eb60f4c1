#!/usr/bin/env python3
"""Prints the tables of bench/run.sh from the JSON files it left.

  report.py RESULTS_FOLDER N...
"""
import json
import os
import sys

SESSIONS = [("first", "first session"), ("nochange", "nothing to move"), ("edits", "ten edits"),
            ("fromphone", "from the phone")]


def means(path):
    with open(path) as f:
        return {r["command"]: r["mean"] for r in json.load(f)["results"]}


def sessions(folder, sizes):
    print("Sessions (mean seconds; ratio = time / vdirsyncer's; ms per contact)")
    print("%6s  %-16s %9s %9s %11s %8s %8s %9s %9s" % (
        "N", "session", "IrMC", "SyncML", "vdirsyncer", "IrMC/v", "SyncML/v", "IrMC/N", "SyncML/N"))
    for n in sizes:
        for key, title in SESSIONS:
            path = os.path.join(folder, "%s-%s.json" % (n, key))
            if not os.path.exists(path):
                continue
            t = means(path)
            irmc, syncml, vdir = t["irmc"], t["syncml"], t["vdirsyncer"]
            print("%6s  %-16s %9.3f %9.3f %11.3f %8.2f %8.2f %9.3f %9.3f" % (
                n, title, irmc, syncml, vdir, irmc / vdir, syncml / vdir,
                1000 * irmc / int(n), 1000 * syncml / int(n)))


def calls(folder):
    cat_path, calls_path = os.path.join(folder, "cat.json"), os.path.join(folder, "calls.json")
    if not (os.path.exists(cat_path) and os.path.exists(calls_path)):
        return
    cat = means(cat_path)["cat"]
    with open(calls_path) as f:
        runs = json.load(f)["benchmarks"]
    print()
    print("One call on a 10,000-record database (10 MB); `cat` of the file: %.2f ms" % (1000 * cat))
    print("%-32s %10s %8s" % ("export", "ms/call", "/cat"))
    for run in runs:
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run["time_unit"]]
        seconds = run["real_time"] * scale
        print("%-32s %10.3f %8.2f" % (run["name"].replace("BM_", ""), 1000 * seconds, seconds / cat))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sessions(sys.argv[1], sys.argv[2:])
    calls(sys.argv[1])
