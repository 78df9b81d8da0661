"""A cache sequence from one of its files: the frame pattern and the frames on disk.

A frame file's number is the last run of digits in its name before the extension
("plume_0007.neb" -> 7, written with 4 digits). The sequence is every file of the folder
with the same text around a number of the same width (or wider, past 10^width - 1).
"""

import os
import re

_NUMBER = re.compile(r"^(.*?)(\d+)(\.[^.]*)$")


class Sequence:
    """folder, prefix, digits, suffix; frames: sorted frame numbers found on disk."""

    def __init__(self, folder, prefix, digits, suffix, frames):
        self.folder = folder
        self.prefix = prefix
        self.digits = digits
        self.suffix = suffix
        self.frames = frames

    @property
    def first(self):
        return self.frames[0]

    @property
    def last(self):
        return self.frames[-1]

    def missing(self):
        """Frame numbers inside [first, last] without a file."""
        present = set(self.frames)
        return [f for f in range(self.first, self.last + 1) if f not in present]

    def pattern(self, folder=None, suffix=None):
        """The sequence as a '#' pattern, e.g. /caches/plume_####.neb."""
        return os.path.join(folder or self.folder, self.prefix + "#" * self.digits + (suffix or self.suffix))

    def path(self, frame, folder=None, suffix=None):
        return os.path.join(folder or self.folder,
                            "%s%0*d%s" % (self.prefix, self.digits, frame, suffix or self.suffix))


def find_sequence(path):
    """The Sequence that `path` belongs to, or None when its name has no frame number."""
    folder, name = os.path.split(os.path.abspath(path))
    match = _NUMBER.match(name)
    if not match:
        return None
    prefix, number, suffix = match.groups()
    frames = []
    try:
        names = os.listdir(folder)
    except OSError:
        names = [name]
    for other in names:
        m = _NUMBER.match(other)
        if m and m.group(1) == prefix and m.group(3) == suffix and len(m.group(2)) >= len(number):
            digits = m.group(2)
            if len(digits) == len(number) or not digits.startswith("0"):
                frames.append(int(digits))
    if int(number) not in frames:
        frames.append(int(number))
    return Sequence(folder, prefix, len(number), suffix, sorted(set(frames)))
