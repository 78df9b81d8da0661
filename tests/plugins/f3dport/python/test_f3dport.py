"""The Python package on Field3D samples: frames as numpy arrays equal to the expected values."""
import os

import numpy as np
import pytest

import nebloader

DATA = os.environ["F3D_DATA_DIR"]


@pytest.mark.parametrize("name", ["a_smoke_dense_ogawa.f3d", "a_smoke_dense.f3d"])
def test_smoke_twins_give_the_expected_arrays(name):
    expected = np.load(os.path.join(DATA, "a_smoke_dense.npz"))
    path = os.path.join(DATA, name)
    with nebloader.open(path, {"smoke": "density", 4: "vel(x)", 5: "vel(y)", 6: "vel(z)"}) as frame:
        assert frame.grid_size == (32, 24, 16)
        assert np.array_equal(frame["smoke"], expected["smoke/smoke.0/density"])
        assert np.array_equal(frame["velocity"], expected["smoke/smoke.0/vel"])
    with nebloader.open(path) as frame:  # the default mapping: density and temperature
        assert np.array_equal(frame["temperature"], expected["smoke/smoke.0/temperature"])


def test_a_cut_short_file_raises_with_the_plugins_report(tmp_path):
    data = open(os.path.join(DATA, "d_types_ogawa.f3d"), "rb").read()
    cut = tmp_path / "cut.f3d"
    cut.write_bytes(data[: len(data) // 2])
    with pytest.raises(nebloader.CacheError) as error:
        nebloader.open(str(cut), {"smoke": "dense_half"})
    assert "f3dport" in error.value.report
