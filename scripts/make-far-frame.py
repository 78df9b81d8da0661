#!/usr/bin/python3
"""make-far-frame.py IN.neb OUT.neb GAP_BYTES

Copies a nebu2 frame (container version 4 or later) with a hole of GAP_BYTES between its
tag stream and its chunk list, and moves the footer's 64-bit data offset along, so the
chunk list and the footer lie past GAP_BYTES in the new file. The hole is left unwritten:
on file systems with sparse files the copy costs no disk space. Readers must return the
same frame from both files.
"""
import struct
import sys


def main():
    src, dst, gap = sys.argv[1], sys.argv[2], int(sys.argv[3])
    data = open(src, "rb").read()
    if data[-8:] != b"NEBU2OST":
        sys.exit("not a nebu2 file: " + src)
    version = struct.unpack_from("<i", data, len(data) - 12)[0]
    if version < 4:
        sys.exit("container version %d has a 32-bit data offset" % version)
    offset = struct.unpack_from("<q", data, len(data) - 20)[0]
    if not 0 < offset < len(data) - 20:
        sys.exit("bad data offset %d" % offset)
    footer = bytearray(data[-20:])
    struct.pack_into("<q", footer, 0, offset + gap)
    with open(dst, "wb") as out:
        out.write(data[:offset])
        out.seek(offset + gap)
        out.write(data[offset:-20])
        out.write(footer)


if __name__ == "__main__":
    main()
