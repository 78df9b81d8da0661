"""The Python package over the C interface: one copy of the library per process, reports
through the callback, Frame.channel as getChannel, and the README's ctypes example."""
import logging
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import nebloader

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def write_smoke(path, shape=(3, 4, 5)):
    smoke = np.arange(np.prod(shape), dtype=np.float32).reshape(shape) * 0.5 - 3
    nebloader.write(path, shape[::-1], np.eye(4), channels={"smoke": smoke})
    return smoke


def test_a_stored_channel_without_its_mask_bit_reads_as_get_channel_reads_it(tmp_path):
    path = str(tmp_path / "mask.neb")
    smoke = write_smoke(path)
    data = bytearray(open(path, "rb").read())
    assert data[:4] == b"NEBU" and int.from_bytes(data[4:8], "little") == 1  # tag 1: the grid mask
    data[8:12] = (0).to_bytes(4, "little")
    open(path, "wb").write(data)
    with nebloader.open(path) as frame:
        assert "smoke" not in frame.channels
        np.testing.assert_array_equal(frame.channel(2), smoke)
        with pytest.raises(KeyError):
            frame.channel(1)


def test_reports_reach_cache_errors_and_logging(tmp_path, caplog):
    broken = tmp_path / "broken.neb"
    broken.write_bytes(b"NEBU" + b"\xff" * 60)
    with caplog.at_level(logging.DEBUG, logger="nebloader"):
        with pytest.raises(nebloader.CacheError) as error:
            nebloader.open(str(broken))
    assert error.value.report
    logged = [r for r in caplog.records if r.name == "nebloader" and r.levelno >= logging.INFO]
    assert logged and all(line in "\n".join(r.getMessage() for r in logged) for line in error.value.report.split("\n"))


MAPS_PROBE = r"""
import os, sys
import nebloader
path = sys.argv[1]
nebloader.write(path, (2, 2, 2), [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]],
                channels={"smoke": [[[1.0, 2.0], [3.0, 4.0]], [[5.0, 6.0], [7.0, 8.0]]]})
nebloader.open(path)["smoke"]
nebloader._loaded_plugins()
files = set()
for line in open("/proc/self/maps"):
    fields = line.split(None, 5)
    if len(fields) == 6 and fields[5].startswith("/"):
        files.add(os.path.realpath(fields[5].strip()))
for f in sorted(files):
    print(f)
"""


def test_the_library_is_mapped_exactly_once(tmp_path):
    # Reports need no file either: the process's temporary folder stays empty.
    temp = tmp_path / "tmp"
    temp.mkdir()
    run = subprocess.run([sys.executable, "-c", MAPS_PROBE, str(tmp_path / "p.neb")], capture_output=True, text=True,
                         env=dict(os.environ, TMPDIR=str(temp)), check=True)
    assert not os.listdir(temp)
    files = run.stdout.split()
    copies = [f for f in files if os.path.basename(f).startswith("libnebloader.so")]
    assert len(copies) == 1, files
    assert not [f for f in files if "nebpy_layers" in f], files
    # With the OpenVDB plug-in present, it is mapped beside that one library.
    if os.environ.get("NEB_VOLCONVERT"):
        assert [f for f in files if os.path.basename(f).startswith("vdbport")], files


def readme_ctypes_example():
    text = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    match = re.search(r"<!-- ctypes example -->\s*```python\n(.*?)```", text, re.S)
    assert match, "the README's ctypes example is missing"
    return match.group(1)


def test_the_readme_ctypes_example_reads_a_channel_without_the_module(tmp_path):
    path = str(tmp_path / "ctypes_0001.neb")
    smoke = write_smoke(path)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    run = subprocess.run([sys.executable, "-c", readme_ctypes_example(), path], capture_output=True, text=True,
                         env=env, check=True)
    assert run.stdout.splitlines()[-1] == f"smoke: {smoke.size} values, max {float(smoke.max())}"
