#!/usr/bin/env python3
"""Builds the scan benchmark tree: a deterministic tree of directories and files.

Default shape: 20,000 directories, 200,000 files, nesting down to depth 8, names with blanks,
UTF-8 and 40+ characters, mixed lengths (files are sparse, so the tree costs little disk).
With --wide every directory is made directly inside TARGET (one directory with DIRS - 1
subdirectories), the shape that stresses the handling of many siblings.
Usage: gen_scan_tree.py TARGET [--dirs N] [--files N] [--seed S] [--wide]
The same arguments always give the same tree; TARGET must not exist yet.
"""
import argparse
import os
import random
import sys

MAX_DEPTH = 8
STYLES = (
    lambda i: "dir %05d with blanks" % i,
    lambda i: "Ünïcødé 日本語 フォルダ %05d" % i,
    lambda i: "a_rather_long_directory_name_for_the_scan_benchmark_%05d" % i,
    lambda i: "d%05d" % i,
)
FILE_STYLES = (
    lambda i: "file %06d.txt" % i,
    lambda i: "résumé – Grüße %06d.dat" % i,
    lambda i: "an_unusually_long_file_name_used_by_the_scan_benchmark_%06d.bin" % i,
    lambda i: "f%06d" % i,
)
# Mixed lengths: mostly small, some medium, a few large; a handful beyond 4 GiB.
LENGTHS = ((0.10, 0, 0), (0.55, 1, 8192), (0.30, 8193, 1 << 20), (0.0499, (1 << 20) + 1, 1 << 30),
           (0.0001, (1 << 32) + 1, 1 << 33))


def pick_length(rng):
    roll = rng.random()
    for share, low, high in LENGTHS:
        if roll < share:
            return rng.randint(low, high) if high else 0
        roll -= share
    return 1


def build(target, dirs, files, seed, wide=False):
    rng = random.Random(seed)
    os.makedirs(target)
    paths, depths = [target], [0]
    for i in range(1, dirs):
        # Prefer recent directories so that the tree gets deep as well as wide.
        parent = 0
        while not wide:
            parent = rng.randrange(len(paths)) if rng.random() < 0.5 else max(0, len(paths) - 1 - rng.randrange(50))
            if depths[parent] < MAX_DEPTH:
                break
        path = os.path.join(paths[parent], STYLES[i % len(STYLES)](i))
        os.mkdir(path)
        paths.append(path)
        depths.append(depths[parent] + 1)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
    for i in range(files):
        # Some directories are much fuller than others.
        where = paths[int(len(paths) * (rng.random() ** 2))]
        # os.open rather than open(): no file object for each of millions of files.
        handle = os.open(os.path.join(where, FILE_STYLES[i % len(FILE_STYLES)](i)), flags, 0o644)
        length = pick_length(rng)
        if length:
            os.ftruncate(handle, length)
        os.close(handle)
    return max(depths)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("target")
    parser.add_argument("--dirs", type=int, default=20000)
    parser.add_argument("--files", type=int, default=200000)
    parser.add_argument("--seed", type=int, default=74)
    parser.add_argument("--wide", action="store_true", help="every directory directly inside TARGET")
    args = parser.parse_args()
    if os.path.exists(args.target):
        sys.exit("%s exists already" % args.target)
    depth = build(args.target, args.dirs, args.files, args.seed, args.wide)
    print("%s: %d directories, %d files, depth %d" % (args.target, args.dirs, args.files, depth))


if __name__ == "__main__":
    main()
