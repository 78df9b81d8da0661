#!/usr/bin/env python3
"""Whether an OpenVDB file written on Windows holds what the Linux build's file holds.

    scripts/vdb-same.py [--folders <Linux run folder> <Windows run folder>] <Linux file> <Windows file>

Exit status 0 when they agree, 1 (with the first difference on standard output) when not.
Two files of the same frames agree when every byte is the same except:
  - the file's random UUID (36 characters at offset 21);
  - neb2vdb's record of its source: "source_path" names the same file (the Windows path
    is made absolute and normalised by GetFullPathNameW, "Z:\\..." for the Linux root; the
    Linux one keeps "..", so both are compared normalised), and "source_mtime_ns" is the
    Linux time cut to the 100 ns steps of a Windows file time;
  - the points file's absolute path in neb2vdb's "conversion_options", compared so too,
    where a path in the Windows run folder stands for the same path in the Linux one;
  - the grid offsets, which move with the length of the source path: each is compared as
    a distance from the end of the file's metadata.

Layout (little-endian), as OpenVDB writes a seekable archive:
  int64 magic, uint32 file version, uint32 x2 library version, uint8 grid-offsets flag,
  char[36] UUID;
  uint32 count of metadata entries; each: string name, string type, uint32 size, value;
  int32 count of grids; each: string name, string type, string instance parent,
  int64 grid, block and end offsets, then the grid's bytes up to its end offset;
where a string is a uint32 byte count and the bytes.
"""
import posixpath
import re
import struct
import sys


class Bad(Exception):
    pass


class Reader:
    def __init__(self, data, label):
        self.data, self.at, self.label = data, 0, label

    def take(self, n):
        if n < 0 or self.at + n > len(self.data):
            raise Bad(f"{self.label}: ends early at byte {self.at} (wanted {n} more)")
        b = self.data[self.at:self.at + n]
        self.at += n
        return b

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def i64(self):
        return struct.unpack("<q", self.take(8))[0]

    def string(self):
        return self.take(self.u32())


def parse(path, label):
    with open(path, "rb") as f:
        r = Reader(f.read(), label)
    head = r.take(21)
    if struct.unpack("<q", head[:8])[0] != 0x56444220:
        raise Bad(f"{label}: no OpenVDB file")
    if head[20] != 1:
        raise Bad(f"{label}: no grid offsets (not a seekable archive)")
    r.take(36)  # UUID
    meta = []
    for _ in range(r.u32()):
        name, kind = r.string(), r.string()
        meta.append((name, kind, r.string()))
    base = r.at
    grids = []
    for _ in range(struct.unpack("<i", r.take(4))[0]):
        names = (r.string(), r.string(), r.string())
        grid, block, end = r.i64(), r.i64(), r.i64()
        if not r.at <= grid <= block <= end <= len(r.data):
            raise Bad(f"{label}: grid {names[0]!r} has offsets {grid}, {block}, {end} out of order")
        r.at = grid
        grids.append((names, grid - base, block - base, end - base, r.take(end - grid)))
    return head, meta, grids, r.data[r.at:]


def windows_path_as_linux(path):
    m = re.match(r"^[A-Za-z]:\\(.*)$", path)
    return "/" + m.group(1).replace("\\", "/") if m else None


def same_path(lin, win, folders):
    w = windows_path_as_linux(win)
    if w is None:
        return False
    if folders and (w + "/").startswith(folders[1] + "/"):
        w = folders[0] + w[len(folders[1]):]
    return w == posixpath.normpath(lin)


# The quoted name after "points-file " in the options text ('"' and '\\' escaped with a
# backslash), the text before it and the text after it.
POINTS = re.compile(r'^(.*; points-file )"((?:[^"\\]|\\.)*)"(.*)$', re.S)


def same_entry(name, lin, win, folders):
    l, w = lin.decode("utf-8", "replace"), win.decode("utf-8", "replace")
    if name == b"source_path":
        return same_path(l, w, folders)
    if name == b"conversion_options":
        lm, wm = POINTS.match(l), POINTS.match(w)
        if lm and wm:
            unescape = lambda q: re.sub(r"\\(.)", r"\1", q)
            return (lm.group(1), lm.group(3)) == (wm.group(1), wm.group(3)) and \
                same_path(unescape(lm.group(2)), unescape(wm.group(2)), folders)
    if name == b"source_mtime_ns" and len(lin) == len(win) == 8:
        l, w = struct.unpack("<q", lin)[0], struct.unpack("<q", win)[0]
        return w == l - l % 100
    return lin == win


def compare(lin_path, win_path, folders):
    lh, lm, lg, lt = parse(lin_path, "Linux file")
    wh, wm, wg, wt = parse(win_path, "Windows file")
    if lh != wh:
        return "the headers differ (magic, versions or flags)"
    if [(n, k) for n, k, _ in lm] != [(n, k) for n, k, _ in wm]:
        return f"the metadata entries differ: {[n for n, _, _ in lm]} against {[n for n, _, _ in wm]}"
    for (name, _, lv), (_, _, wv) in zip(lm, wm):
        if not same_entry(name, lv, wv, folders):
            return f"metadata {name.decode()!r}: {lv!r} on Linux, {wv!r} on Windows"
    if len(lg) != len(wg):
        return f"{len(lg)} grids on Linux, {len(wg)} on Windows"
    for l, w in zip(lg, wg):
        if l[0] != w[0]:
            return f"grid descriptors differ: {l[0]} against {w[0]}"
        if l[1:4] != w[1:4]:
            return f"grid {l[0][0]!r}: offsets {l[1:4]} against {w[1:4]} (from the end of the metadata)"
        if l[4] != w[4]:
            n = min(len(l[4]), len(w[4]))
            at = next((i for i in range(n) if l[4][i] != w[4][i]), n)
            return f"grid {l[0][0]!r}: its bytes differ, first at byte {at} of {len(l[4])}"
    if lt != wt:
        return "the bytes after the last grid differ"
    return None


def main():
    args, folders = sys.argv[1:], None
    if args[:1] == ["--folders"] and len(args) == 5:
        folders = tuple(posixpath.normpath(posixpath.abspath(f)) for f in args[1:3])
        args = args[3:]
    if len(args) != 2:
        print(__doc__.split("\n\n")[1].strip())
        return 2
    try:
        why = compare(args[0], args[1], folders)
    except (Bad, OSError) as e:
        why = str(e)
    if why:
        print(why)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
