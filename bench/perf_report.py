#!/usr/bin/env python3
"""Harness of bench/perf_report.sh: times the built tracker against du, ncdu and gdu on
generated trees and prints one table of medians (wall, CPU, peak memory) and ratios.

With --big FOLDER the 500,000-directory, 5,000,000-file tree is used too: generated once into
FOLDER (about 5.5 million inodes, checked first) and kept there for later runs. The data-file
cases (report, /GROWTH and the window showing the top record of a data file of --records
records, no scan) need growth_bench_data and window_record_bench beside the tracker.

Every tool runs round-robin with the others of its case (one untimed warm-up round first), so
that load from other processes falls on all of them alike. The tracker runs unattended with a
private home folder: its registry and data file never touch the real ones.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# name: (directories, files, wide)
TREES = {
    "20k/200k": (20000, 200000, False),
    "100k/1M": (100000, 1000000, False),
    "wide 5k": (5001, 5000, True),
    "wide 20k": (20001, 20000, True),
    "wide 80k": (80001, 80000, True),
    "500k/5M": (500000, 5000000, False),
}
BIG_TREE = "500k/5M"
# Inodes a tree takes beyond one per directory and file: the file system's own share of slack.
INODE_SLACK = 1.02
QUICK_TREES = ("20k/200k", "wide 5k", "wide 20k", "wide 80k")
DEFAULT_TREES = ("20k/200k", "100k/1M", "wide 5k", "wide 20k", "wide 80k")


def tree_folder(name):
    return name.replace("/", "_").replace(" ", "_")


def generate(name, path):
    """Makes the tree name at path unless it is there; exits when the file system lacks inodes."""
    if os.path.isdir(path):
        return
    dirs, files, wide = TREES[name]
    parent = os.path.dirname(path)
    os.makedirs(parent, exist_ok=True)
    needed = int((dirs + files) * INODE_SLACK)
    free = os.statvfs(parent).f_favail
    if free < needed:
        sys.exit("%s needs about %d free inodes on the file system of %s, which has %d (df -i %s)"
                 % (name, needed, parent, free, parent))
    log("generating %s in %s (%d of %d free inodes)" % (name, path, needed, free))
    command = [sys.executable, os.path.join(HERE, "gen_scan_tree.py"), path, "--dirs", str(dirs),
               "--files", str(files)]
    subprocess.run(command + (["--wide"] if wide else []), check=True, stdout=subprocess.DEVNULL)


def log(text):
    print(text, file=sys.stderr, flush=True)


class Runner:
    def __init__(self, work, varnow, timeout):
        self.work = work
        self.varnow = varnow
        self.timeout = timeout
        self.home = os.path.join(work, "home")
        self.data = os.path.join(work, "data")
        self.seeds = os.path.join(work, "seeds")
        os.makedirs(self.seeds, exist_ok=True)
        self.env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                        XDG_DATA_HOME=os.path.join(self.home, "share"), QT_QPA_PLATFORM="offscreen")
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.reset_home()

    def reset_home(self):
        """A fresh registry whose data folder is self.data."""
        shutil.rmtree(self.home, ignore_errors=True)
        registry = os.path.join(self.home, "config", "zentrel", "registry")
        os.makedirs(registry)
        os.makedirs(self.data, exist_ok=True)
        with open(os.path.join(registry, "HKEY_CURRENT_USER.reg"), "w") as handle:
            handle.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\n'
                         '"DataDirectory"="%s/"\n"FirstRun"=dword:00000000\n' % self.data)

    def output_file(self):
        return os.path.join(self.work, "output")

    def data_file(self):
        return os.path.join(self.data, "VNDATA.DB")

    def clear_data(self):
        shutil.rmtree(self.data, ignore_errors=True)
        os.makedirs(self.data)

    def use_seed(self, seed):
        self.clear_data()
        shutil.copyfile(seed, self.data_file())

    def run(self, command):
        """Runs command once: (wall s, cpu s, peak MB), or None past the timeout. A command whose
        output starts with "SECONDS s" times itself (without its start-up): that is its wall time."""
        # Through time(1): a child forked from this interpreter would count the interpreter's
        # memory as its own peak.
        usage_file = os.path.join(self.work, "usage")
        start = time.perf_counter()
        with open(self.output_file(), "w") as output:
            process = subprocess.Popen(["/usr/bin/time", "-q", "-f", "%U %S %M", "-o", usage_file] + command,
                                       env=self.env, stdout=output, stderr=subprocess.DEVNULL, cwd=self.work)
        deadline = start + self.timeout
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid:
                break
            if time.perf_counter() > deadline:
                process.kill()
                os.wait4(process.pid, 0)
                return None
            time.sleep(0.002)
        wall = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        if code not in (0, 3):  # 3: an alert fired, which is a result too
            raise RuntimeError("%s exited with %d" % (" ".join(command), code))
        with open(usage_file) as handle:
            user, system, peak_kb = handle.read().split()[-3:]
        with open(self.output_file(), errors="replace") as handle:
            words = handle.read(200).split()
        if len(words) > 1 and words[1].rstrip(",") == "s":
            wall = float(words[0])
        return wall, float(user) + float(system), int(peak_kb) / 1024.0

    def seed(self, tree_name, tree):
        """The data file that a first save of every directory of tree leaves (made once)."""
        path = os.path.join(self.seeds, tree_name.replace("/", "_").replace(" ", "_") + ".DB")
        if not os.path.exists(path):
            log("  making the saved data of %s" % tree_name)
            self.clear_data()
            saved_timeout, self.timeout = self.timeout, 3600
            try:
                self.run([self.varnow, "/DIR=" + tree, "/SCAN", "/SAVE", "/SAVESUBDIRS"])
            finally:
                self.timeout = saved_timeout
            shutil.copyfile(self.data_file(), path)
        return path


def measure(runner, tools, runs, warm_up=True):
    """tools: [(label, command, prepare)]; returns {label: [(wall, cpu, mb)] or None (timed out)}.
    Without warm_up the first round counts too (the cache was warmed before)."""
    results = {label: [] for label, _, _ in tools}
    for round_number in range(0 if warm_up else 1, runs + 1):
        for label, command, prepare in tools:
            if results[label] is None:
                continue
            if prepare:
                prepare()
            result = runner.run(command)
            if result is None:
                log("  %s: past %d s, not run again" % (label, runner.timeout))
                results[label] = None
            elif round_number:
                results[label].append(result)
    return results


def median(samples, index):
    return statistics.median(sample[index] for sample in samples)


def data_file_cases(runner, case, records):
    """Report, /GROWTH and the window's top record on a data file of records records, no scan."""
    tools = os.path.dirname(runner.varnow)
    maker, window = os.path.join(tools, "growth_bench_data"), os.path.join(tools, "window_record_bench")
    if not os.access(maker, os.X_OK):
        log("no %s: the data-file cases are left out (build the target growth_bench_data)" % maker)
        return
    seed = os.path.join(runner.seeds, "records_%d.DB" % records)
    top = "/perf-report/records/"  # never scanned: every case reads saved records only
    if not os.path.exists(seed):
        log("  making a data file of %d records" % records)
        runner.clear_data()
        subprocess.run([maker, runner.data + "/", top, str(records)], check=True, stdout=subprocess.DEVNULL)
        shutil.copyfile(runner.data_file(), seed)
    runner.use_seed(seed)  # read only from here on
    title = "%d-record data file, no scan" % records
    tools = [("report", [runner.varnow, "/DIR=" + top, "/PRINT=FILE=" + os.path.join(runner.work, "report.txt")], None),
             ("/GROWTH", [runner.varnow, "/DIR=" + top, "/GROWTH"], None)]
    if os.access(window, os.X_OK):
        tools.append(("window, top record", [window, top], None))
    else:
        log("no %s: the window's case is left out (build the target window_record_bench)" % window)
    case(title, tools, {})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("work", help="folder for the trees (kept and reused) and the runs' files")
    parser.add_argument("--varnow", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="3 runs, no 100k/1M tree, 20k-record report")
    parser.add_argument("--timeout", type=float, default=300, help="seconds one run may take")
    parser.add_argument("--trees", help="comma-separated tree names to use (default: all but %s, or the quick set)"
                        % BIG_TREE)
    parser.add_argument("--big", metavar="FOLDER",
                        help="folder that holds (or gets) the %s tree, kept for later runs" % BIG_TREE)
    parser.add_argument("--big-runs", type=int, default=1, help="runs of each %s case" % BIG_TREE)
    parser.add_argument("--records", type=int, default=500000, help="records of the data-file cases (0: none)")
    args = parser.parse_args()
    runs = 3 if args.quick and args.runs == 5 else args.runs
    names = args.trees.split(",") if args.trees else list(QUICK_TREES if args.quick else DEFAULT_TREES)
    if args.big and BIG_TREE not in names:
        names.append(BIG_TREE)
    work = os.path.abspath(args.work)
    trees_dir = os.path.join(work, "trees")
    trees = {}
    for name in names:
        folder = os.path.abspath(args.big) if name == BIG_TREE and args.big else trees_dir
        trees[name] = os.path.join(folder, tree_folder(name))
        generate(name, trees[name])

    runner = Runner(os.path.join(work, "run"), os.path.abspath(args.varnow), args.timeout)
    ncdu_out = os.path.join(runner.work, "ncdu.out")
    have_ncdu, have_gdu = shutil.which("ncdu"), shutil.which("gdu")
    load_before = os.getloadavg()
    rows = []  # (case, label, samples or None, reference label or None)

    def case(title, tools, reference_of, case_runs=runs, warm_up=True):
        log("%s" % title)
        results = measure(runner, tools, case_runs, warm_up)
        for label, _, _ in tools:
            rows.append((title, label, results[label], reference_of.get(label)))

    varnow = runner.varnow
    for name, tree in trees.items():
        subprocess.run(["du", "-s", tree], stdout=subprocess.DEVNULL)  # warms the cache
        du = ("du -s", ["du", "-s", tree], None)
        ncdu = ("ncdu -0 -o FILE", ["ncdu", "-0", "-o", ncdu_out, tree], None)
        gdu = ("gdu -n", ["gdu", "-n", "-p", tree], None)
        scan = ["/DIR=" + tree, "/SCAN"]
        save = scan + ["/SAVE", "/SAVESUBDIRS"]
        wide = TREES[name][2]
        seed = runner.seed(name, tree)
        if name == BIG_TREE:
            savers = [ncdu] if have_ncdu else [du]
            reference = {savers[0][0]: "varnow"}
            first = ("varnow", [varnow] + save, runner.clear_data)
            again = ("varnow", [varnow] + save, lambda: runner.use_seed(seed))
            # The seed's first save warmed the cache; a warm-up round would double a long run.
            case("%s: first scan + save" % name, [first] + savers, reference, args.big_runs, False)
            case("%s: rescan + save" % name, [again] + savers, reference, args.big_runs, False)
            continue
        first = ("varnow", [varnow] + save, runner.clear_data)
        again = ("varnow", [varnow] + save, lambda: runner.use_seed(seed))
        if wide:
            case("%s: first scan + save" % name, [first, du], {"du -s": "varnow"})
            case("%s: rescan + save" % name, [again, du], {"du -s": "varnow"})
            continue
        peers = [du] + ([gdu] if have_gdu else [])
        case("%s: scan only" % name, [("varnow", [varnow] + scan, runner.clear_data)] + peers,
             {label: "varnow" for label, _, _ in peers})
        savers = [ncdu] if have_ncdu else [du]
        case("%s: first scan + save" % name, [first] + savers, {savers[0][0]: "varnow"})
        case("%s: rescan + save" % name, [again] + savers, {savers[0][0]: "varnow"})
        case("%s: /SCAN with saved data" % name,
             [("varnow", [varnow] + scan, lambda: runner.use_seed(seed)),
              ("varnow, no data", [varnow] + scan, runner.clear_data), du],
             {"du -s": "varnow", "varnow, no data": "varnow"})
        if name == "100k/1M" or (args.quick and "100k/1M" not in trees):
            records = TREES[name][0]
            case("report, no scan, %d-record file" % records,
                 [("varnow", [varnow, "/DIR=" + tree, "/PRINT=FILE=" + os.path.join(runner.work, "report.txt")],
                   lambda: runner.use_seed(seed))], {})
    if args.records > 0:
        data_file_cases(runner, case, args.records)
    load_after = os.getloadavg()

    big_runs = " (%s: %d, no warm-up round)" % (BIG_TREE, args.big_runs) if BIG_TREE in trees else ""
    print("Varnow %s; %d runs each%s, medians; %d cores; load average %.2f before, %.2f after; %s"
          % (varnow, runs, big_runs, os.cpu_count(), load_before[0], load_after[0],
             time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())))
    print("%-36s %-16s %9s %9s %9s %13s" % ("case", "tool", "wall s", "CPU s", "peak MB", "varnow/tool"))
    medians = {}
    for title, label, samples, _ in rows:
        if samples:
            medians[(title, label)] = (median(samples, 0), median(samples, 1), median(samples, 2))
    previous = None
    for title, label, samples, reference in rows:
        shown, previous = ("" if title == previous else title), title
        if not samples:
            print("%-36s %-16s %9s" % (shown, label, ">%d" % runner.timeout))
            continue
        wall, cpu, mb = medians[(title, label)]
        ratio = ""
        if reference:
            mine = medians.get((title, reference))
            ratio = "%.2f x" % (mine[0] / wall) if mine else ">%.0f x" % (runner.timeout / wall)
        print("%-36s %-16s %9.3f %9.3f %9.1f %13s" % (shown, label, wall, cpu, mb, ratio))
    print_scaling(medians)
    shutil.rmtree(runner.work, ignore_errors=True)
    return 0


def print_scaling(medians):
    """How each tool's time grew from 100k/1M to 500k/5M (5 times the tree: linear is 5)."""
    for case in ("first scan + save", "rescan + save"):
        small, big = "100k/1M: " + case, BIG_TREE + ": " + case
        for label in ("varnow", "ncdu -0 -o FILE", "du -s"):
            if (small, label) in medians and (big, label) in medians:
                (w1, c1, _), (w2, c2, _) = medians[(small, label)], medians[(big, label)]
                print("%s over 100k/1M, %s, %s: %.2f x wall, %.2f x CPU" % (BIG_TREE, case, label, w2 / w1, c2 / c1))


if __name__ == "__main__":
    sys.exit(main())
