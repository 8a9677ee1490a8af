#!/usr/bin/env python3
"""Timing harness of bench/scan_bench.sh: medians of several warm runs and their ratios."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, prepare=None):
    if prepare:
        prepare()
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return time.perf_counter() - start


def measure(cases, runs):
    """Runs the cases round-robin (one warm-up round first), so that load from other processes
    falls on all of them alike; returns the median time of each case."""
    times = {name: [] for name, _, _ in cases}
    for round_number in range(runs + 1):
        for name, command, prepare in cases:
            elapsed = timed(command, prepare)
            if round_number:
                times[name].append(elapsed)
    medians = {}
    for name, _, _ in cases:
        medians[name] = statistics.median(times[name])
        print("%-30s median %7.3f s   (runs: %s)" % (name, medians[name], " ".join("%.3f" % t for t in times[name])))
    return medians


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    tree, runs = args.tree, args.runs
    bench = os.path.join(args.build, "bin", "scan_bench")
    varnow = os.path.join(args.build, "bin", "varnow")
    work = tempfile.mkdtemp(prefix="varnow-bench-")
    data = os.path.join(work, "data") + "/"
    # The tracker reads and writes its settings under these: never the real home folder.
    home = os.path.join(work, "home")
    os.makedirs(home)
    os.environ.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                      XDG_DATA_HOME=os.path.join(home, "data"))

    def fresh_data():
        shutil.rmtree(data, ignore_errors=True)
        os.makedirs(data)

    subprocess.run(["du", "-s", tree], check=True, stdout=subprocess.DEVNULL)  # warm the cache
    print("tree %s, %d runs each (round-robin), %d cores, load average %.1f"
          % (tree, runs, os.cpu_count(), os.getloadavg()[0]))
    cases = [("du -s", ["du", "-s", tree], None)]
    if shutil.which("ncdu"):
        cases.append(("ncdu -o FILE", ["ncdu", "-o", os.path.join(work, "ncdu.out"), tree], None))
    if shutil.which("gdu"):
        cases.append(("gdu -n", ["gdu", "-n", "-p", tree], None))
    if os.access(varnow, os.X_OK):
        scan_case = ("scan (varnow /SCAN)", [varnow, "/DIR=" + tree, "/SCAN"], None)
    else:
        scan_case = ("scan (engine, no save)", [bench, "scan", tree, data], fresh_data)
    cases.append(scan_case)
    cases.append(("scan + save every record", [bench, "scan", tree, data, "--save"], fresh_data))
    medians = measure(cases, runs)
    scan = medians[scan_case[0]]
    save = medians["scan + save every record"]
    du, ncdu, gdu = medians["du -s"], medians.get("ncdu -o FILE"), medians.get("gdu -n")
    print("data file after a saved scan: %.1f MB" % (os.path.getsize(data + "VNDATA.DB") / 1e6))
    rescan = measure([("rescan with saved data, no save", [bench, "scan", tree, data], None)], max(1, runs // 2))

    print()
    print("scan without save / du -s         = %.2f  (target <= 1.0)" % (scan / du))
    if gdu:
        print("scan without save / gdu -n        = %.2f" % (scan / gdu))
    if ncdu:
        print("scan without save / ncdu -o       = %.2f" % (scan / ncdu))
        print("scan with save / ncdu -o          = %.2f  (target <= 1.5)" % (save / ncdu))
    print("rescan with saved data / du -s    = %.2f" % (rescan["rescan with saved data, no save"] / du))

    load_dir = os.path.join(tempfile.gettempdir(), "varnow-bench-load") + "/"
    os.makedirs(load_dir, exist_ok=True)
    subprocess.run([bench, "load", load_dir, "100000", "1"], check=True, stdout=subprocess.DEVNULL)  # builds once
    result = subprocess.run([bench, "load", load_dir, "100000", "41"], check=True, capture_output=True, text=True)
    print(result.stdout.strip() + "  (target <= 5 ms)")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
