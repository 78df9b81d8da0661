"""pyopenvdb (Debian's python3-openvdb) reads the grid metadata of a --points-file conversion.

pyopenvdb 10 refuses a whole file that holds a point data grid, which neb2vdb's default
output does; with --points-file the volume file holds only grids it knows.

    python3 pyopenvdb_metadata.py NEB2VDB NEBSAMPLE
"""

import os
import subprocess
import sys
import tempfile

import pyopenvdb

neb2vdb, nebsample = sys.argv[1:3]
with tempfile.TemporaryDirectory() as work:
    subprocess.run([nebsample, "-out", os.path.join(work, "s_####.neb"), "-frames", "6", "-res", "16"], check=True,
                   stdout=subprocess.DEVNULL)
    source = os.path.join(work, "s_####.neb")
    volume, points = os.path.join(work, "v_####.vdb"), os.path.join(work, "p_####.vdb")
    subprocess.run([neb2vdb, "-q", "--frames", "5", "--points-file", points, source, volume], check=True)

    grids = pyopenvdb.readAllGridMetadata(os.path.join(work, "v_0005.vdb"))
    names = sorted(g.name for g in grids)
    assert names == ["Cd", "density", "flame", "temperature", "vel"], names
    vel = next(g for g in grids if g.name == "vel")
    assert vel.vectorType == "contravariant relative" or vel["vector_type"] == "contravariant relative", vel.metadata
    assert next(g for g in grids if g.name == "density").gridClass == "fog volume"
    metadata = pyopenvdb.readMetadata(os.path.join(work, "v_0005.vdb"))
    assert metadata["frame"] == 5 and metadata["converter"] == "neb2vdb", metadata
    assert os.path.isfile(os.path.join(work, "p_0005.vdb"))
print("1 passed, 0 failed")
