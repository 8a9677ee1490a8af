#!/usr/bin/python3
"""Lists a compound file as olefile sees it, in a form the C++ tests can parse.

Opens FILE with raise_defects=DEFECT_INCORRECT, so any defect olefile counts as incorrect
fails the run (exit status 2, message on stderr). Prints one line per element, sorted by
path:  <type> <size> <path as hex of its UTF-8 bytes> <content as hex, streams only>
where type is "storage" or "stream" and path components are joined with "/".
With --no-content the content column is "-".
"""
import sys

import olefile


def main():
    args = sys.argv[1:]
    with_content = True
    if args and args[0] == "--no-content":
        with_content = False
        args = args[1:]
    if len(args) != 1:
        print("usage: oletree.py [--no-content] FILE", file=sys.stderr)
        return 64
    try:
        ole = olefile.OleFileIO(args[0], raise_defects=olefile.DEFECT_INCORRECT)
        lines = []
        for entry in ole.listdir(streams=True, storages=True):
            path = "/".join(entry)
            kind = ole.get_type(entry)
            hexpath = path.encode("utf-8", "surrogatepass").hex()
            if kind == olefile.STGTY_STORAGE:
                lines.append("storage 0 %s -" % hexpath)
            elif kind == olefile.STGTY_STREAM:
                data = ole.openstream(entry).read()
                if len(data) != ole.get_size(entry):
                    raise ValueError("short read of %r" % path)
                content = data.hex() if with_content else "-"
                lines.append("stream %d %s %s" % (len(data), hexpath, content or "-"))
        ole.close()
    except Exception as e:  # every defect is a failure of the file under test
        print("olefile: %s: %s" % (type(e).__name__, e), file=sys.stderr)
        return 2
    for line in sorted(lines):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
