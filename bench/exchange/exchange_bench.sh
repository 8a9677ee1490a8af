#!/usr/bin/env bash
# Times the ncdu export written during a scan against the scan alone and against ncdu's own
# export of the tree, and the import of that export against ncdu reading it; prints medians,
# ratios and each program's peak memory (warm cache, several runs each, interleaved). The import
# is timed as ncdu's is, reading the export and keeping the top's record, and once more saving the
# record of every directory (/SAVESUBDIRS, from an empty data folder each time).
#   bench/exchange/exchange_bench.sh                  tree in /tmp/varnow-bench-tree (made once)
#   RUNS=5 VARNOW_BENCH_TREE=/path bench/exchange/exchange_bench.sh
#   VARNOW_BENCH_BASELINE=/other/build/bin/varnow ...  also times that program's import, to compare
# For the 100k/1M tree: gen_scan_tree.py --dirs 100000 --files 1000000 /path first.
# The CPU may be shared with other work: read the load figures printed beside the results.
set -euo pipefail
HERE=$(cd "$(dirname "$0")/../.." && pwd)
TREE=${VARNOW_BENCH_TREE:-/tmp/varnow-bench-tree}
RUNS=${RUNS:-5}
BUILD=${VARNOW_BENCH_BUILD:-$HERE/build/release}

if [ -z "${VARNOW_BENCH_BUILD:-}" ]; then
  cmake -S "$HERE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOW_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target varnow
fi
VARNOW=$(find "$BUILD" -name varnow -type f -perm -u+x | head -1)
[ -d "$TREE" ] || python3 "$HERE/bench/gen_scan_tree.py" "$TREE"
command -v ncdu >/dev/null || { echo "ncdu is not installed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed (Debian package time)" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# A private home: nothing is saved into the user's data file.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config" XDG_DATA_HOME="$WORK/home/data"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
"$VARNOW" "/DIR=$TREE" /SCAN "/EXPORT=$WORK/tree.json"  # warms the cache and makes the export

exec python3 - "$RUNS" "$VARNOW" "$TREE" "$WORK" "${VARNOW_BENCH_BASELINE:-}" <<'PY'
import os, shutil, statistics, subprocess, sys, time
runs, varnow, tree, work, baseline = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
export = os.path.join(work, "tree.json")
cases = [
    ("scan", [varnow, "/DIR=" + tree, "/SCAN"]),
    ("scan + export", [varnow, "/DIR=" + tree, "/SCAN", "/EXPORT=" + os.path.join(work, "out.json")]),
    ("ncdu -0 -o", ["ncdu", "-0", "-o", os.path.join(work, "ncdu.json"), tree]),
    ("import", [varnow, "/IMPORT=" + export]),
    ("import + save all", [varnow, "/IMPORT=" + export, "/SAVESUBDIRS"]),
    ("ncdu -f -0 -o", ["ncdu", "-f", export, "-0", "-o", os.path.join(work, "again.json")]),
]
if baseline:
    cases.append(("import baseline", [baseline, "/IMPORT=" + export]))
times = {name: [] for name, _ in cases}
cpu = {name: [] for name, _ in cases}  # user + system: less distorted than wall time by other load
peaks = {name: 0 for name, _ in cases}
data = os.environ["XDG_DATA_HOME"]
peak_file = os.path.join(work, "peak")
for _ in range(runs):
    for name, command in cases:  # interleaved: a change of load falls on every case alike
        shutil.rmtree(data)  # each from no saved scan: an import is refused when one is not older
        os.makedirs(data)
        # time(1) tells the program's own peak; the rusage of a child forked from Python would
        # count Python's memory too.
        command = ["/usr/bin/time", "-f", "%M", "-o", peak_file] + command
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        times[name].append(time.perf_counter() - start)
        cpu[name].append(usage.ru_utime + usage.ru_stime)
        if status != 0:
            sys.exit("%s failed with status %d" % (name, status))
        with open(peak_file) as handle:
            peaks[name] = max(peaks[name], int(handle.read().split()[-1]) // 1024)
median = {name: statistics.median(t) for name, t in times.items()}
mcpu = {name: statistics.median(t) for name, t in cpu.items()}
for name, _ in cases:
    print("%-18s median %7.3f s  cpu %7.3f s  peak %5d MB  (runs: %s)" % (
        name, median[name], mcpu[name], peaks[name], " ".join("%.3f" % t for t in times[name])))
ratios = [("export during scan / scan alone", "scan + export", "scan", 1.3),
          ("export during scan / ncdu -0 -o", "scan + export", "ncdu -0 -o", 1.0),
          ("import / ncdu -f -0 -o", "import", "ncdu -f -0 -o", 1.0),
          ("import + save all / ncdu -f -0 -o", "import + save all", "ncdu -f -0 -o", None)]
if baseline:
    ratios.append(("import baseline / ncdu -f -0 -o", "import baseline", "ncdu -f -0 -o", 1.0))
for label, a, b, target in ratios:
    print("%-37s %.2f  cpu %.2f%s" % (label, median[a] / median[b], mcpu[a] / mcpu[b],
                                      "  (target <= %.1f)" % target if target else ""))
print("load average:", " ".join("%.2f" % l for l in os.getloadavg()))
PY
