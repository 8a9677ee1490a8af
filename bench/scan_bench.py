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


def median_of(name, command, runs, prepare=None):
    timed(command, prepare)  # warm-up run, not counted
    times = [timed(command, prepare) for _ in range(runs)]
    med = statistics.median(times)
    print("%-34s median %7.3f s   (runs: %s)" % (name, med, " ".join("%.3f" % t for t in times)), flush=True)
    return med


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    tree, runs = args.tree, args.runs
    bench = os.path.join(args.build, "bench", "scan", "scan_bench")
    varnow = os.path.join(args.build, "varnow", "varnow")
    work = tempfile.mkdtemp(prefix="varnow-bench-")
    data = os.path.join(work, "data") + "/"

    def fresh_data():
        shutil.rmtree(data, ignore_errors=True)
        os.makedirs(data)

    subprocess.run(["du", "-s", tree], check=True, stdout=subprocess.DEVNULL)  # warm the cache
    print("tree %s, %d runs each, %d cores" % (tree, runs, os.cpu_count()))
    du = median_of("du -s", ["du", "-s", tree], runs)
    ncdu = median_of("ncdu -o FILE", ["ncdu", "-o", os.path.join(work, "ncdu.out"), tree], runs) \
        if shutil.which("ncdu") else None
    gdu = median_of("gdu -n", ["gdu", "-n", "-p", tree], runs) if shutil.which("gdu") else None
    if os.access(varnow, os.X_OK):
        scan = median_of("varnow /SCAN", [varnow, "/DIR=" + tree, "/SCAN"], runs)
    else:
        scan = median_of("scan (no save)", [bench, "scan", tree, data], runs, fresh_data)
    save = median_of("scan + save of every record", [bench, "scan", tree, data, "--save"], runs, fresh_data)
    print("data file after a saved scan: %.1f MB" % (os.path.getsize(data + "VNDATA.DB") / 1e6))

    print()
    print("scan without save / du -s         = %.2f  (target <= 1.0)" % (scan / du))
    if gdu:
        print("scan without save / gdu -n        = %.2f" % (scan / gdu))
    if ncdu:
        print("scan without save / ncdu -o       = %.2f" % (scan / ncdu))
        print("scan with save / ncdu -o          = %.2f  (target <= 1.5)" % (save / ncdu))

    load_dir = os.path.join(tempfile.gettempdir(), "varnow-bench-load") + "/"
    os.makedirs(load_dir, exist_ok=True)
    subprocess.run([bench, "load", load_dir, "100000", "1"], check=True, stdout=subprocess.DEVNULL)  # builds once
    result = subprocess.run([bench, "load", load_dir, "100000", "41"], check=True, capture_output=True, text=True)
    print(result.stdout.strip() + "  (target <= 5 ms)")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
