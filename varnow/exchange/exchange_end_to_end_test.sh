#!/usr/bin/env bash
# The tracker among other programs, as a user with many machines runs it: metrics for
# node_exporter's textfile collector, and trees out to and in from ncdu and gdu.
# Usage: exchange_end_to_end_test.sh /path/to/varnow
# Parts that need promtool, prometheus-node-exporter, ncdu or gdu say so and are skipped.
set -euo pipefail
VARNOW=$1
WORK=$(mktemp -d "${TMPDIR:-/tmp}/varnow-exchange-XXXXXX")
EXPORTER_PID=
cleanup() {
  [ -z "$EXPORTER_PID" ] || kill "$EXPORTER_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# shellcheck source=../../scripts/xdriver.sh
. "$(dirname "$0")/../../scripts/xdriver.sh"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
# A private home whose data file lives in the given folder.
home() { xd_private_home "$WORK/$1" "$WORK/$1/data"; }

fail() { echo "FAIL: $*" >&2; exit 1; }
have() { command -v "$1" >/dev/null 2>&1 || { echo "SKIPPED: $1 is not installed ($2)"; return 1; }; }

# A tree with an odd-named directory: quote, backslash, line feed and a byte that is no UTF-8.
TREE="$WORK/tree"
ODD=$(printf 'odd "quoted" \\ name\nline \xff')
mkdir -p "$TREE/$ODD/inner" "$TREE/plain/deeper/deepest/bottom" "$TREE/links"
for i in 1 2 3; do head -c 8192 /dev/zero >"$TREE/$ODD/f$i"; done
head -c 5000 /dev/zero >"$TREE/plain/deeper/deepest/bottom/g"
head -c 20000 /dev/zero >"$TREE/links/a"
ln "$TREE/links/a" "$TREE/plain/b"
head -c 777 /dev/zero >"$TREE/$ODD/inner/h"

# ---- Metrics -----------------------------------------------------------------------------
home metrics
PROM="$WORK/textfile"
mkdir -p "$PROM"
"$VARNOW" "/DIR=$TREE" /SCAN /SAVESUBDIRS "/METRICS=$PROM/varnow.prom" || fail "metrics run ended with $?"
[ -s "$PROM/varnow.prom" ] || fail "no metrics file"
ls "$PROM" | grep -qv '^varnow.prom$' && fail "a temporary file was left beside the metrics: $(ls "$PROM")"
# The odd directory's label as the format writes it, and its three files of 8 K.
LABEL='odd \"quoted\" \\ name\nline \\xff'
grep -qF "varnow_directory_size_bytes{path=\"$TREE/$LABEL/\"} " "$PROM/varnow.prom" ||
  fail "no size of the odd directory in: $(cat "$PROM/varnow.prom")"
ODD_LINE=$(grep -F "varnow_directory_size_bytes{path=\"$TREE/$LABEL/\"} " "$PROM/varnow.prom")
ODD_VALUE=${ODD_LINE##* }
# Three files of 8 K and one of 777 bytes below it, whatever the volume's allocation unit up to 8 K.
[ "$ODD_VALUE" -ge 25353 ] && [ "$ODD_VALUE" -le 32768 ] || fail "odd directory's size $ODD_VALUE"
grep -q '^varnow_filesystem_avail_bytes{path="'"$TREE"'/"} [0-9]' "$PROM/varnow.prom" || fail "no free space"
grep -q "bottom" "$PROM/varnow.prom" && fail "a directory below the default depth of 3 was written"
"$VARNOW" "/DIR=$TREE" "/METRICS=-" /METRICSDEPTH=0 | grep -q '^varnow_directory_size_bytes{' || fail "/METRICS=-"
[ "$("$VARNOW" "/DIR=$TREE" "/METRICS=-" /METRICSDEPTH=0 | grep -c '^varnow_directory_size_bytes{')" = 1 ] ||
  fail "/METRICSDEPTH=0 wrote more than the directory itself"
"$VARNOW" "/DIR=$TREE" "/METRICS=-" /METRICSDEPTH=x 2>/dev/null && fail "/METRICSDEPTH=x was taken"
set +e
"$VARNOW" "/DIR=$TREE" "/METRICS=$WORK/no such folder/v.prom" 2>"$WORK/err"
status=$?
set -e
[ "$status" = 5 ] || fail "a metrics file that cannot be written ended with $status"
grep -q "could not be written" "$WORK/err" || fail "no message for the unwritable metrics file"
# An alert keeps its status with /METRICS=.
set +e
"$VARNOW" "/DIR=$TREE" /FREEALERT=999999999999 "/METRICS=$PROM/varnow.prom" 2>/dev/null
status=$?
set -e
[ "$status" = 3 ] || fail "the free-space alert with /METRICS= ended with $status"
echo "ok: metrics file"

if have promtool "Debian package prometheus"; then
  promtool check metrics <"$PROM/varnow.prom" || fail "promtool check metrics refused the file"
  echo "ok: promtool check metrics"
fi

# A reader polling the file while runs replace it never sees a part of one.
python3 - "$PROM/varnow.prom" "$VARNOW" "$TREE" <<'PY' || fail "a reader saw a partial metrics file"
import subprocess, sys, threading
path, varnow, tree = sys.argv[1:]
stop = threading.Event()
bad, reads = [], [0]
def poll():
    while not stop.is_set():
        with open(path, "rb") as f:
            data = f.read()
        reads[0] += 1
        if not (data.startswith(b"# HELP varnow_directory_size_bytes") and
                data.endswith(b"# TYPE varnow_disk_full_timestamp_seconds gauge\n")):
            bad.append(data[-80:])
reader = threading.Thread(target=poll)
reader.start()
for _ in range(12):
    subprocess.run([varnow, "/DIR=" + tree, "/METRICS=" + path], check=True)
stop.set()
reader.join()
print(f"{reads[0]} reads during 12 writes, {len(bad)} partial")
sys.exit(1 if bad or reads[0] < 12 else 0)
PY
echo "ok: atomic metrics write"

if have prometheus-node-exporter "Debian package prometheus-node-exporter"; then
  PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  prometheus-node-exporter --web.listen-address="127.0.0.1:$PORT" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$PROM" >"$WORK/exporter.log" 2>&1 &
  EXPORTER_PID=$!
  python3 - "$PORT" "$TREE/$LABEL/" "$ODD_VALUE" <<'PY' || { cat "$WORK/exporter.log" >&2; fail "node_exporter did not serve the odd directory's size"; }
import sys, time, urllib.request
port, label, value = sys.argv[1:]
for _ in range(100):
    try:
        text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=2).read().decode("utf-8")
        break
    except OSError:
        time.sleep(0.1)
else:
    sys.exit("no answer")
if "node_textfile_scrape_error 0" not in text:
    sys.exit("the textfile collector reported an error:\n" + text)
want = 'varnow_directory_size_bytes{path="%s"} ' % label
lines = [l for l in text.splitlines() if l.startswith(want)]
if len(lines) != 1 or float(lines[0][len(want):]) != float(value):
    sys.exit("scraped %r, expected %s" % (lines, value))
print("scraped:", lines[0])
PY
  echo "ok: node_exporter serves the metrics"
fi

# ---- Export --------------------------------------------------------------------------------
home export
"$VARNOW" "/DIR=$TREE" /SCAN "/EXPORT=$WORK/tree.json" || fail "export run ended with $?"
"$VARNOW" "/DIR=$TREE" /EXPORT=- 2>/dev/null && fail "/EXPORT= without /SCAN was taken"
"$VARNOW" "/DIR=$TREE" /SCAN /EXPORT=- >"$WORK/stdout.json" || fail "/EXPORT=- ended with $?"
cmp -s <(sed 's/"timestamp":[0-9]*//' "$WORK/stdout.json") <(sed 's/"timestamp":[0-9]*//' "$WORK/tree.json") ||
  fail "/EXPORT=- wrote another export than /EXPORT=file"
set +e
"$VARNOW" "/DIR=$TREE" /SCAN /SAVE "/EXPORT=$WORK/no such folder/t.json" 2>"$WORK/err"
status=$?
set -e
[ "$status" = 5 ] && grep -q "cannot be created" "$WORK/err" || fail "an export that cannot be created ended with $status"
[ -s "$WORK/export/data/VNDATA.DB" ] || fail "the scan was not saved when its export could not be created"
# Every file of the export, as a reader of the format sees it: path, apparent and disk size.
FILES_OF='
import json, sys
def walk(node, prefix, out):
    info = node[0]
    here = prefix + info["name"] + "/"
    for item in node[1:]:
        if isinstance(item, list): walk(item, here, out)
        elif "excluded" not in item: out.append((here + item["name"], item.get("asize", 0), item.get("dsize", 0)))
    return out
doc = json.loads(open(sys.argv[1], "rb").read().decode("utf-8", "surrogateescape"))
for f in sorted(walk(doc[3], "", [])): print(repr(f))
'
python3 -c "$FILES_OF" "$WORK/tree.json" >"$WORK/ours.txt" || fail "the export is no JSON"
[ "$(wc -l <"$WORK/ours.txt")" = 7 ] || fail "the export does not hold the 7 files: $(cat "$WORK/ours.txt")"
if have ncdu "Debian package ncdu"; then
  ncdu -f "$WORK/tree.json" -o "$WORK/again.json" || fail "ncdu -f refused the export"
  python3 -c "$FILES_OF" "$WORK/again.json" >"$WORK/again.txt"
  diff "$WORK/ours.txt" "$WORK/again.txt" || fail "ncdu read other files than the export holds"
  echo "ok: ncdu -f reads the export"
fi
if have gdu "Debian package gdu"; then
  gdu -f "$WORK/tree.json" -n -p -a --no-prefix >"$WORK/gdu.txt" 2>&1 || fail "gdu -f refused the export: $(cat "$WORK/gdu.txt")"
  grep -q "links" "$WORK/gdu.txt" && grep -q "plain" "$WORK/gdu.txt" || fail "gdu did not list the tree: $(cat "$WORK/gdu.txt")"
  echo "ok: gdu -f reads the export"
fi

# ---- Import --------------------------------------------------------------------------------
if have ncdu "Debian package ncdu"; then
  ncdu -0 -o "$WORK/ncdu.json" "$TREE"
  home direct
  "$VARNOW" "/DIR=$TREE" /SCAN /SAVESUBDIRS
  "$VARNOW" "/DIR=$TREE" "/METRICS=$WORK/direct.prom" /METRICSDEPTH=9
  home imported
  "$VARNOW" "/IMPORT=$WORK/ncdu.json" /SAVESUBDIRS || fail "the import of ncdu's export ended with $?"
  "$VARNOW" "/DIR=$TREE" "/METRICS=$WORK/imported.prom" /METRICSDEPTH=9
  diff <(grep '^varnow_directory_size_bytes' "$WORK/direct.prom") <(grep '^varnow_directory_size_bytes' "$WORK/imported.prom") ||
    fail "the import saved other sizes than a scan"
  # The export's time is the scan's: a second import of it is no newer scan.
  set +e
  "$VARNOW" "/DIR=$TREE" "/IMPORT=$WORK/ncdu.json" /SAVE 2>"$WORK/err"
  status=$?
  set -e
  [ "$status" = 2 ] && grep -q "not newer" "$WORK/err" || fail "a second import of one export ended with $status: $(cat "$WORK/err")"
  echo "ok: ncdu's export imported as a scan"
fi

# Refused imports save nothing and end with status 2.
home refused
printf '[1,2,{"timestamp":1700000000},[{"name":"%s"},{"name":"f","asize":1},[{"name":"d"}' "$TREE" >"$WORK/cut.json"
printf '[1,2,{"timestamp":1700000000},[{"name":"/somewhere/else"}]]' >"$WORK/else.json"
for input in "/IMPORT=$WORK/cut.json" "/IMPORT=$WORK/missing.json" "/IMPORT=$WORK/else.json"; do
  set +e
  "$VARNOW" "/DIR=$TREE" "$input" /SAVESUBDIRS 2>"$WORK/err"
  status=$?
  set -e
  [ "$status" = 2 ] || fail "$input ended with $status"
  grep -q "^varnow: /IMPORT=" "$WORK/err" || fail "no message for $input"
  [ ! -e "$WORK/refused/data/VNDATA.DB" ] || fail "$input saved something"
done
set +e
"$VARNOW" "/IMPORT=-" /SAVE <"$WORK/else.json" 2>/dev/null
status=$?
set -e
[ "$status" = 0 ] || fail "an import without /DIR= from standard input ended with $status"
"$VARNOW" "/DIR=$TREE" /SCAN "/IMPORT=$WORK/else.json" 2>/dev/null && fail "/IMPORT= with /SCAN was taken"
echo "ok: refused imports"
echo "PASS"
