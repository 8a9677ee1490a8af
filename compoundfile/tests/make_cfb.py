#!/usr/bin/python3
"""Writes a compound file from a folder tree, independently of the library under test.

usage: make_cfb.py [--version 3|4] FOLDER OUT
Folders become storages and files streams. Version 4 uses 4096-byte sectors. Siblings are
stored as a tree built by midpoints from the format's order, every node black.
"""
import os
import struct
import sys

FREESECT, ENDOFCHAIN, FATSECT, NOSTREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF


def sort_key(name):
    return (len(name.encode("utf-16-le")), name.upper())


class Entry:
    def __init__(self, name, kind, data=b""):
        self.name, self.kind, self.data = name, kind, data
        self.children, self.left, self.right, self.child = [], NOSTREAM, NOSTREAM, NOSTREAM
        self.start, self.size = ENDOFCHAIN, 0


def load(folder, entry):
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isdir(path):
            child = Entry(name, 1)
            load(path, child)
        else:
            with open(path, "rb") as f:
                child = Entry(name, 2, f.read())
        entry.children.append(child)


def flatten(root):
    entries = [root]
    def visit(entry):
        for c in entry.children:
            entries.append(c)
            visit(c)
    visit(root)
    ids = {id(e): i for i, e in enumerate(entries)}
    def tree(sorted_children):
        if not sorted_children:
            return NOSTREAM
        mid = len(sorted_children) // 2
        node = sorted_children[mid]
        node.left = tree(sorted_children[:mid])
        node.right = tree(sorted_children[mid + 1:])
        return ids[id(node)]
    for e in entries:
        e.child = tree(sorted(e.children, key=lambda c: sort_key(c.name)))
    return entries


def main():
    args = sys.argv[1:]
    version = 3
    if args[:1] == ["--version"]:
        version, args = int(args[1]), args[2:]
    folder, out = args
    ssize = 512 if version == 3 else 4096
    root = Entry("Root Entry", 5)
    load(folder, root)
    entries = flatten(root)

    mini, minifat = bytearray(), []
    for e in entries:
        if e.kind == 2 and len(e.data) < 4096:
            e.size = len(e.data)
            if e.data:
                e.start = len(mini) // 64
                n = (len(e.data) + 63) // 64
                minifat += [e.start + i + 1 for i in range(n - 1)] + [ENDOFCHAIN]
                mini += e.data + b"\0" * (n * 64 - len(e.data))
    root.data = bytes(mini)

    sectors = []  # payload sectors after the FAT sectors
    fat_tail = []
    def place(data):
        if not data:
            return ENDOFCHAIN
        n = (len(data) + ssize - 1) // ssize
        first = len(sectors)
        for i in range(n):
            sectors.append(data[i * ssize:(i + 1) * ssize].ljust(ssize, b"\0"))
            fat_tail.append(first + i + 1 if i < n - 1 else ENDOFCHAIN)
        return first

    for e in entries:
        if e.kind == 2 and len(e.data) >= 4096:
            e.size, e.start = len(e.data), place(e.data)
    root.start, root.size = place(bytes(mini)), len(mini)
    minifat_bytes = b"".join(struct.pack("<I", v) for v in minifat)
    minifat_start = place(minifat_bytes)
    dir_start = len(sectors)
    dirdata = bytearray()
    for e in entries:
        name = e.name.encode("utf-16-le") + b"\0\0"
        rec = name.ljust(64, b"\0") + struct.pack("<HBBIII", len(name), e.kind, 1, e.left, e.right, e.child)
        rec += b"\0" * 16 + struct.pack("<I", 0) + b"\0" * 16 + struct.pack("<IQ", e.start, e.size)
        dirdata += rec
    while len(dirdata) % ssize:
        dirdata += (b"\0" * 64 + struct.pack("<HBBIII", 0, 0, 0, NOSTREAM, NOSTREAM, NOSTREAM)).ljust(128, b"\0")
    place(bytes(dirdata))

    per = ssize // 4
    nfat = 1
    while nfat * per < len(sectors) + nfat:
        nfat += 1
    assert nfat <= 109
    fat = [FATSECT] * nfat + [v if v >= 0xFFFFFFF0 else v + nfat for v in fat_tail]
    fat += [FREESECT] * (nfat * per - len(fat))
    # Sector numbers were counted from the first payload sector: move them past the FAT.
    def fix(value):
        return value if value >= 0xFFFFFFF0 else value + nfat
    out_dir = bytearray()
    for i, e in enumerate(entries):
        rec = bytearray(dirdata[i * 128:(i + 1) * 128])
        in_mini = e.kind == 2 and len(e.data) < 4096
        struct.pack_into("<I", rec, 0x74, e.start if in_mini else fix(e.start))
        out_dir += rec
    out_dir += dirdata[len(entries) * 128:]
    dir_sectors = [out_dir[i:i + ssize] for i in range(0, len(out_dir), ssize)]
    sectors[dir_start:dir_start + len(dir_sectors)] = dir_sectors

    header = bytearray(b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 16)
    header += struct.pack("<HHHHH", 0x3E, version, 0xFFFE, 9 if version == 3 else 12, 6)
    header += b"\0" * 6
    header += struct.pack("<IIIIIIIII", len(dir_sectors) if version == 4 else 0, nfat, fix(dir_start), 0, 4096,
                          fix(minifat_start) if minifat else ENDOFCHAIN, (len(minifat_bytes) + ssize - 1) // ssize,
                          ENDOFCHAIN, 0)
    difat = list(range(nfat)) + [FREESECT] * (109 - nfat)
    header += b"".join(struct.pack("<I", v) for v in difat)
    header = bytes(header).ljust(ssize, b"\0")
    fatbytes = b"".join(struct.pack("<I", v) for v in fat)
    with open(out, "wb") as f:
        f.write(header + fatbytes + b"".join(sectors))


if __name__ == "__main__":
    main()
