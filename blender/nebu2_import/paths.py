"""Where things are: Blender's '//' paths, the default output folder, neb2vdb and the
nebloader Python module.

Installed from nebloader's package (or `cmake --install`), the add-on sits in
<prefix>/share/blender/scripts/addons/nebu2_import beside a file _installed.py that CMake
writes: where that install put neb2vdb and the module, relative to the add-on's folder. So
an installed add-on finds both with nothing set; a zip installed by hand has no such file
and takes the preferences, $NEB2VDB and PATH.
"""

import hashlib
import importlib
import os
import shutil
import subprocess
import sys
import tempfile

import bpy

try:
    from . import _installed
except ImportError:  # a zip installed by hand
    _installed = None

_HERE = os.path.dirname(os.path.abspath(__file__))


def absolute(path):
    """`path` with Blender's '//' (the .blend's folder) and '~' resolved; '' stays ''."""
    return os.path.normpath(bpy.path.abspath(os.path.expanduser(path))) if path else ""


def stored(path):
    """How the add-on keeps a path in the .blend: '//'-relative when the file is saved and
    the preferences ask for relative paths (File Paths > Default > Relative Paths), and on
    the same drive; absolute otherwise."""
    if bpy.data.filepath and bpy.context.preferences.filepaths.use_relative_paths:
        try:
            return bpy.path.relpath(path)
        except ValueError:  # another drive (Windows)
            pass
    return path


def default_output_folder(seq):
    """vdb/<name>_<tag> beside the saved .blend, or nebu2_vdb/<name>_<tag> in the temporary
    folder for an unsaved file. The tag is taken from the cache's folder: two caches of the
    same name in different folders never share a folder, where the second import would
    replace the files the first one's volume plays."""
    stem = seq.prefix.rstrip("_.-") or "cache"
    tag = hashlib.sha1(os.path.abspath(seq.folder).encode("utf-8", "surrogateescape")).hexdigest()[:8]
    if bpy.data.filepath:
        return os.path.join(os.path.dirname(bpy.data.filepath), "vdb", "%s_%s" % (stem, tag))
    return os.path.join(tempfile.gettempdir(), "nebu2_vdb", "%s_%s" % (stem, tag))


def _installed_paths(names):
    return [os.path.normpath(os.path.join(_HERE, n)) for n in names] if names else []


def find_neb2vdb(configured=""):
    """The neb2vdb to run: the preference, $NEB2VDB, the one installed with the add-on,
    or the one on PATH; None when there is none."""
    for candidate in [absolute(configured), absolute(os.environ.get("NEB2VDB", ""))]:
        if candidate:
            return candidate
    for candidate in _installed_paths(_installed and [_installed.NEB2VDB]):
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return shutil.which("neb2vdb")


def check_neb2vdb(configured=""):
    """(ok, text): the program and its version, or why it cannot be used."""
    program = find_neb2vdb(configured)
    if not program:
        return False, "neb2vdb not found: set its path here, or $NEB2VDB, or put it on PATH"
    if not os.path.isfile(program):
        return False, "no such program: %s" % program
    try:
        version = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=10,
                                 stdin=subprocess.DEVNULL, errors="replace")
    except (OSError, subprocess.TimeoutExpired) as error:
        return False, "cannot run %s: %s" % (program, getattr(error, "strerror", None) or error)
    first = (version.stdout.splitlines() or [""])[0]
    if version.returncode != 0 or not first.startswith("neb2vdb "):
        return False, "%s is not neb2vdb (exit status %d)" % (program, version.returncode)
    return True, "%s: %s" % (first, program)


def import_nebloader(folder=""):
    """The nebloader module: from the preference's folder when set, else from where the
    add-on's install put it, else importable as it is (PYTHONPATH; Debian's Blender also
    reads the system's Python packages). Raises ImportError with the reason."""
    if "nebloader" in sys.modules:
        return sys.modules["nebloader"]
    if folder:
        candidates = [absolute(folder)]
        if not os.path.isfile(os.path.join(candidates[0], "nebloader", "__init__.py")):
            raise ImportError("no nebloader package in %s" % candidates[0])
    else:
        candidates = _installed_paths(_installed and _installed.MODULE_DIRS)
    for candidate in candidates:
        if os.path.isfile(os.path.join(candidate, "nebloader", "__init__.py")):
            if candidate not in sys.path:
                sys.path.insert(0, candidate)
            return importlib.import_module("nebloader")
    try:
        return importlib.import_module("nebloader")
    except ImportError as error:
        raise ImportError("the nebloader Python module is not available (%s): set its folder in the add-on "
                          "preferences" % error) from None


def check_nebloader(folder=""):
    """(ok, text): the module's version and folder, or why it cannot be imported."""
    try:
        module = import_nebloader(folder)
    except Exception as error:  # ImportError, or an extension built for another Python
        return False, str(error)
    return True, "nebloader %s: %s" % (getattr(module, "__version__", "?"),
                                       os.path.dirname(os.path.dirname(module.__file__)))
