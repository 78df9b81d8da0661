"""Read and write nebu2 simulation cache frames as numpy arrays.

Reading goes through libnebloader.so, as any host's reading does: frames asked for again
while their file is unchanged are shared, grid channels are decoded on first use, and
OpenVDB (.vdb) files load through the vdbport plug-in when it is installed.

    import nebloader
    with nebloader.open("fire_0042.neb") as frame:
        smoke = frame["smoke"]          # float32 (nz, ny, nx), read-only, no copy
        velocity = frame["velocity"]    # float32 (nz, ny, nx, 3), a copy
        for group in frame.groups:
            print(group.name, group.count, group.positions[:3])

Arrays are indexed [z, y, x]: the cell (i, j, k) of the grid is array[k, j, i].

Transforms. `Frame.world_to_index` and `Frame.index_to_world` are 4x4 float64 matrices
for column vectors in homogeneous coordinates:

    index = frame.world_to_index @ [wx, wy, wz, 1]
    world = frame.index_to_world @ [i, j, k, 1]

Index coordinates are the grid coordinates of the file's transform: the cell (i, j, k) sits
at index coordinates (i, j, k), as in the OpenVDB files volconvert writes. world_to_index
holds the file's single-precision values exactly; index_to_world is its inverse computed in
double precision (all NaN when the file's matrix is singular).

Channel names (frame["name"], Frame.channels, write(channels=...)):

    temperature 1, smoke 2, speed 3, velocity_x/_y/_z 4-6, color_r/_g/_b 7-9, fuel 10,
    wavelet_energy 14, advection_origin_x/_y/_z 15-17, wavelet_u/_v/_w 19-21,
    channel_<n> for the other numbers 0, 11-13 and 22-31.

The vector names velocity (4-6), color (7-9), advection_origin (15-17) and wavelet (19-21)
read as float32 (nz, ny, nx, 3) arrays. These are COPIES (the library keeps the three
components in separate buffers); every scalar channel is a read-only view of the
library's own buffer, which keeps the frame's data alive after close() or del. Speed (3) is
derived from the velocity when it is not stored; color is unpacked from the packed colour
channel of the file.

Particle groups: Frame.groups lists the groups that have positions; Frame.group(name)
finds any group by name. Group.positions and .velocities are float32 (n, 3), .ids int64
(n,), Group.channel(slot) any slot: float32 for float slots, int64 for the identifier slot
10, int32 for the integer slots 12-16, uint32 words for the others; (n,) for one
component, (n, 3) for three. Particle arrays are copies.

Errors: a missing file raises FileNotFoundError; a file the library refuses, a channel it
cannot decode, or a failed write raises CacheError, whose message ends with the library's
report text (also in .report); a bad argument raises ValueError or TypeError.

Threads: loading and decoding release the GIL, so Python threads loading different frames
run at the same time. A channel is decoded on the thread that first reads it.
"""

import os
import threading

import numpy as np

from . import _nebloader as _native
from ._nebloader import CacheError, Frame, Group
from ._version import __version__

__all__ = ["open", "sequence", "write", "memory_budget", "set_memory_budget", "memory_held", "Frame", "Group",
           "CacheError", "CHANNEL_NAMES", "NEWEST_VERSION"]

#: Container version written by default: the newest the library reads.
NEWEST_VERSION = 5
#: Every channel name understood by Frame.__getitem__ and write().
CHANNEL_NAMES = tuple(_native.channel_names())

_READABLE = ("neb", "vdb", "f3d")
_PLUGIN_BITS = {"f3d": 1, "vdb": 2}
_PLUGIN_NAMES = {"f3d": "Field3D import plug-in f3dport", "vdb": "OpenVDB import plug-in vdbport"}
_plugins = None
_plugins_lock = threading.Lock()


def _extension(path):
    base = os.path.basename(path)
    return base.rsplit(".", 1)[1].lower() if "." in base else ""


def _loaded_plugins():
    """Loads the import plug-ins once: beside libnebloader.so (installed), else the build
    tree's link beside this package."""
    global _plugins
    with _plugins_lock:
        if _plugins is None:
            mask = _native.load_plugins(None, None)
            here = os.path.dirname(os.path.abspath(__file__))
            if not mask & 2 and os.path.exists(os.path.join(here, "vdbport_build.so")):
                mask |= _native.load_plugins(here, "build")
            _plugins = mask
        return _plugins


def _mapping_text(mapping):
    if mapping is None or isinstance(mapping, str):
        if mapping is not None and "\0" in mapping:
            raise ValueError("mapping must not contain NUL")
        return mapping
    if not hasattr(mapping, "items"):
        raise TypeError("mapping is a 'channel,name;' string or a dict {channel: grid name}")
    text = []
    for key, grid in mapping.items():
        if isinstance(key, str):
            try:
                first, components = _native.channel_key(key)
            except KeyError:
                raise ValueError(f"unknown channel name {key!r}") from None
            if components != 1:
                raise ValueError(f"map the components of {key!r} one by one")
            key = first
        elif not isinstance(key, int) or isinstance(key, bool):
            raise TypeError("mapping keys are channel names or numbers")
        if not isinstance(grid, str):
            raise TypeError("mapping values are grid names")
        if not grid or any(c in grid for c in ";\0"):
            raise ValueError(f"grid name {grid!r} is empty or holds ';'")
        text.append(f"{key},{grid};")
    return "".join(text)


def memory_budget():
    """The most, in bytes, that the process's frames may hold at once (channel buffers,
    particle channels, decoder scratch, freed buffers kept for reuse). A channel that would
    pass it raises CacheError naming the request, the total held and the budget. Default:
    physical memory, or NEB_MEMORY_LIMIT_MB."""
    return _native.memory_limit()


def set_memory_budget(nbytes):
    """Replaces the memory budget for allocations that start afterwards; 0 restores the
    default."""
    nbytes = int(nbytes)
    if nbytes < 0:
        raise ValueError("the memory budget is a number of bytes, 0 or more")
    _native.set_memory_limit(nbytes)


def memory_held():
    """What the process's frames hold of the budget now, in bytes."""
    return _native.memory_held()


def open(path, mapping=None, max_voxels=None, header_only=False):
    """Loads a cache frame (.neb) or a foreign volume (.vdb, .f3d through the plug-ins).

    mapping: which grid of a foreign file feeds which channel, as the library's string
    ("2,density;1,temperature;") or a dict {"smoke": "density", 1: "temperature"}; None
    takes the library's default mapping. max_voxels: a voxel limit passed to the OpenVDB
    plug-in (None: no limit). header_only: load the description (grid size, transform,
    channels present, particle groups) without channel data. Frames loaded with either
    are not shared with other requests.
    """
    path = os.fsdecode(os.fspath(path))
    if not isinstance(header_only, bool):
        raise TypeError("header_only is a bool")
    if max_voxels is None:
        max_voxels = -1
    elif isinstance(max_voxels, bool) or not isinstance(max_voxels, int):
        raise TypeError("max_voxels is an int or None")
    elif max_voxels <= 0:
        raise ValueError("max_voxels must be positive")
    mapping = _mapping_text(mapping)
    if "\0" in path:
        raise ValueError("path must not contain NUL")
    ext = _extension(path)
    if ext not in _READABLE:
        raise ValueError(f"{path}: not a .neb, .vdb or .f3d file")
    os.stat(path)  # FileNotFoundError, PermissionError, ... with the system's reason
    if os.path.isdir(path):
        raise IsADirectoryError(path)
    if ext in _PLUGIN_BITS and not _loaded_plugins() & _PLUGIN_BITS[ext]:
        error = CacheError(f"cannot load {path}: the {_PLUGIN_NAMES[ext]} is not available")
        error.path, error.report = path, ""
        raise error
    return _native.open_frame(path, mapping, max_voxels, header_only)


def sequence(pattern, frames, mapping=None, skip_damaged=False):
    """Yields (number, Frame) for each number of `frames` whose file exists.

    The pattern names the frame number by a '#' run ("fire_####.neb"), a printf token
    ("fire_%04d.neb") or an angle token ("fire_<frame04>.neb"), as volconvert's patterns
    do. Missing frames are skipped. A damaged frame raises CacheError, which ends the
    iteration (the frames before it were yielded); with skip_damaged=True it is skipped
    like a missing one.
    """
    pattern = os.fsdecode(os.fspath(pattern))
    if not _native.has_frame_pattern(pattern):
        raise ValueError(f"{pattern}: no frame number token ('####', '%04d' or '<frame04>')")
    numbers = [int(n) if isinstance(n, (int, np.integer)) and not isinstance(n, bool) else _not_frame(n) for n in frames]
    return _frames(pattern, numbers, mapping, skip_damaged)


def _not_frame(n):
    raise TypeError(f"frame numbers are ints, not {type(n).__name__}")


def _frames(pattern, numbers, mapping, skip_damaged):
    for n in numbers:
        path = _native.expand_frame_pattern(pattern, n)
        try:
            frame = open(path, mapping=mapping)
        except FileNotFoundError:
            continue
        except CacheError:
            if skip_damaged:
                continue
            raise
        yield n, frame


def _grid_size(grid_size):
    try:
        size = tuple(grid_size)
    except TypeError:
        raise TypeError("grid_size is (nx, ny, nz)") from None
    if len(size) != 3 or not all(isinstance(n, (int, np.integer)) and not isinstance(n, bool) for n in size):
        raise TypeError("grid_size is three ints (nx, ny, nz)")
    if not all(1 <= n < 2**31 for n in size):
        raise ValueError("grid sizes are positive")
    return tuple(int(n) for n in size)


def _float_array(values, what):
    array = np.asarray(values)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"{what} holds {array.dtype}, not numbers")
    return array


def _transform(index_to_world):
    m = np.asarray(_float_array(index_to_world, "index_to_world"), dtype=np.float64)
    if m.shape != (4, 4):
        raise ValueError("index_to_world is a 4x4 matrix")
    if not np.array_equal(m[3], [0, 0, 0, 1]) or not np.isfinite(m).all():
        raise ValueError("index_to_world must be finite with the last row 0, 0, 0, 1")
    try:
        w = np.linalg.inv(m)
    except np.linalg.LinAlgError:
        raise ValueError("index_to_world is singular") from None
    # The file keeps world-to-grid for row vectors: A = W[:3, :3]^T by rows, then W[:3, 3].
    t = np.concatenate([w[:3, :3].T.ravel(), w[:3, 3]]).astype(np.float32)
    if not np.isfinite(t).all():
        raise ValueError("index_to_world cannot be inverted in single precision")
    return t


def _grid_channels(channels, size):
    nx, ny, nz = size
    out = {}
    for key, values in (channels or {}).items():
        if isinstance(key, str):
            try:
                first, components = _native.channel_key(key)
            except KeyError:
                raise ValueError(f"unknown channel name {key!r}") from None
        elif isinstance(key, (int, np.integer)) and not isinstance(key, bool):
            first, components = int(key), 1
            if not 0 <= first < 32 or first == 18:
                raise ValueError(f"channel numbers are 0..31 except 18, not {first}")
        else:
            raise TypeError("channels keys are channel names or numbers")
        array = _float_array(values, f"channel {key!r}")
        shape = (nz, ny, nx) if components == 1 else (nz, ny, nx, components)
        if array.shape != shape:
            raise ValueError(f"channel {key!r} has shape {array.shape}, expected {shape} (nz, ny, nx[, 3])")
        for k in range(components):
            part = array if components == 1 else array[..., k]
            if first + k in out:
                raise ValueError(f"channel {first + k} is given twice")
            out[first + k] = np.ascontiguousarray(part, dtype=np.float32)
    return sorted(out.items())


_SLOT_DTYPES = {10: np.float32, 7: np.int64, 6: np.int32}


def _group_slots(group):
    """(name, {slot: values}, type) of a dict or a Group read from a frame."""
    if isinstance(group, Group):
        return group.name, {s: group.channel(s) for s in group.slots}, 0
    if not hasattr(group, "get"):
        raise TypeError("groups are dicts {'name', 'positions', 'velocities', 'ids', 'channels', 'type'} or Groups")
    unknown = set(group) - {"name", "positions", "velocities", "ids", "channels", "type"}
    if unknown:
        raise ValueError(f"unknown group keys {sorted(unknown)}")
    slots = dict(group.get("channels") or {})
    for slot, key in ((0, "positions"), (1, "velocities"), (10, "ids")):
        if group.get(key) is not None:
            if slot in slots:
                raise ValueError(f"slot {slot} is given twice")
            slots[slot] = group[key]
    name = group.get("name")
    if not isinstance(name, str):
        raise TypeError("a group needs a str 'name'")
    group_type = group.get("type", 0)
    if isinstance(group_type, bool) or not isinstance(group_type, int):
        raise TypeError("a group 'type' is an int")
    return name, slots, group_type


def _groups(groups):
    out = []
    for group in groups or []:
        name, slots, group_type = _group_slots(group)
        if "\0" in name:
            raise ValueError("group names must not contain NUL")
        if 0 not in slots:
            raise ValueError(f"group {name!r} has no positions")
        count = None
        data = []
        for slot, values in sorted(slots.items()):
            if isinstance(slot, bool) or not isinstance(slot, (int, np.integer)):
                raise TypeError("particle slots are ints")
            words, components, type_code = _native.slot_layout(int(slot))
            if words == 0:
                raise ValueError(f"particle slot {slot} holds no data")
            array = _float_array(values, f"slot {slot} of group {name!r}")
            n = array.shape[0] if array.ndim else -1
            expected = (n,) if components == 1 else (n, components)
            if array.shape != expected:
                raise ValueError(f"slot {slot} of group {name!r} has shape {array.shape}, expected (n,) or (n, 3)")
            if count is None:
                count = n
            elif n != count:
                raise ValueError(f"the slots of group {name!r} differ in particle count")
            dtype = _SLOT_DTYPES.get(type_code, np.uint32)
            if array.dtype.kind == "f" and np.dtype(dtype).kind != "f":
                raise TypeError(f"slot {slot} holds integers, not {array.dtype}")
            data.append((int(slot), np.ascontiguousarray(array, dtype=dtype)))
        if count >= 2**31:
            raise ValueError(f"group {name!r} has too many particles")
        out.append((name, count, group_type, data))
    return out


def write(path, grid_size, index_to_world, channels=None, groups=None, frame_number=0, version=NEWEST_VERSION,
          precision_bits=None):
    """Writes one cache frame with the project's writer.

    grid_size: (nx, ny, nz). index_to_world: 4x4 matrix as read from Frame.index_to_world;
    the file keeps its inverse in single precision. channels: {name or number: array},
    scalar channels (nz, ny, nx), vector names (nz, ny, nx, 3); values are stored as
    float32. groups: dicts {"name": str, "positions": (n, 3), optional "velocities": (n, 3),
    "ids": (n,) int64, "channels": {slot: array}, "type": int}, or Groups of a read frame.

    Grid channels are stored losslessly, so open() gives back the same bits, unless
    precision_bits (1..19) asks for the lossy codec, which quantizes each zone of values to
    that many bits over its range. Particle slots are always stored losslessly (zlib).
    version: container version 3, 4 or 5 (the default, the newest).
    """
    path = os.fsdecode(os.fspath(path))
    size = _grid_size(grid_size)
    transform = _transform(index_to_world)
    grid = _grid_channels(channels, size)
    group_data = _groups(groups)
    if isinstance(frame_number, bool) or not isinstance(frame_number, (int, np.integer)):
        raise TypeError("frame_number is an int")
    if not -2**31 <= frame_number < 2**31:
        raise ValueError("frame_number does not fit 32 bits")
    if version not in (3, 4, 5) or isinstance(version, bool):
        raise ValueError("version is 3, 4 or 5")
    if precision_bits is None:
        precision_bits = 0
    elif isinstance(precision_bits, bool) or not isinstance(precision_bits, int):
        raise TypeError("precision_bits is an int or None")
    elif not 1 <= precision_bits <= 19:
        raise ValueError("precision_bits is 1..19 (None: lossless)")
    if "\0" in path:
        raise ValueError("path must not contain NUL")
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise FileNotFoundError(2, "No such directory", folder)
    _native.write_frame(path, size, transform, int(frame_number), version, precision_bits, grid, group_data)


import atexit  # noqa: E402

atexit.register(_native.shutdown)
