#!/usr/bin/env bash
# The install test (as root; run by scripts/test.sh): makes the Debian package from the
# Release build and installs it with apt-get as a user would, then uses what it installed
# from outside the checkout: the tools from PATH on a sample sequence and on Field3D files,
# the Python module with /usr/bin/python3 (OpenVDB and Field3D files through the installed
# plug-ins), the example host built against /usr with find_package and with pkg-config, a
# manual page. It removes the package and checks that nothing of it is left, then builds
# the wheel and reads a frame with it in a fresh virtual environment.
#
#   bash scripts/test-install.sh          # reuses build/release (BUILD=... for another)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD:-build/release}
JOBS=${JOBS:-$(nproc)}

if [ "$(id -u)" -ne 0 ]; then
  echo "test-install.sh installs a Debian package: run it as root" >&2
  exit 2
fi
bash scripts/install-deps.sh

WORK=$(mktemp -d /tmp/nebloader-install.XXXXXX)
cleanup() {
  if dpkg-query -W nebloader >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq nebloader >/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

echo "== Debian package from $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
rm -f "$BUILD"/nebloader_*.deb
cmake --build "$BUILD" -j "$JOBS" --target package >/dev/null
debs=("$BUILD"/nebloader_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single nebloader_<version>_amd64.deb in $BUILD"
deb=$(realpath "${debs[0]}")
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "nebloader_${version}_amd64.deb" ] || fail "package file name $(basename "$deb")"
echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q python3-numpy || fail "python3-numpy is not a dependency"
dpkg-deb -f "$deb" Depends | grep -q libhdf5 || fail "libhdf5 is not a dependency (the f3dport plug-in)"
# The library under its soname, and the shlibs file that names it for packages built on it.
# (The listing is taken whole first: grep -q would stop reading, and under pipefail the
# producer's broken pipe would fail the check.)
listing=$(dpkg-deb -c "$deb")
grep -q '/libnebloader\.so\.1 -> ' <<<"$listing" || fail "no libnebloader.so.1 in the package"
grep -q '/f3dport\.so$' <<<"$listing" || fail "f3dport.so is not in the package"
dpkg-deb -I "$deb" shlibs | grep -qx "libnebloader 1 nebloader (>= $(dpkg-deb -f "$deb" Version))" ||
  fail "the shlibs file does not name libnebloader 1"
# Nothing that is only for building and testing goes in.
if grep -E 'test_|Bench|[Ff]uzz|neb_make_sample|MakeSeeds' <<<"$listing"; then
  fail "test, benchmark or fuzz files in the package"
fi

# Folders of the package that exist before it is installed (they may stay afterwards).
awk '$1 ~ /^d/ { print substr($6, 2) }' <<<"$listing" | sed 's|/$||' | grep . |
  while read -r d; do if [ -d "$d" ]; then echo "$d"; fi; done > "$WORK/dirs-before"

# A minimal image may keep dpkg from installing manual pages; ours are part of the test.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o Dpkg::Options::=--path-include='/usr/share/man/man1/*' \
  "$deb" >/dev/null
dpkg -L nebloader > "$WORK/files"

echo "== The tools from PATH"
for tool in neb2vdb nebinfo nebsample volconvert; do
  [ "$(command -v $tool)" = "/usr/bin/$tool" ] || fail "$tool is not /usr/bin/$tool"
done
for tool in neb2vdb nebinfo nebsample; do
  line=$($tool --version | head -n 1)
  case "$line" in *" $version") ;; *) fail "$tool --version says '$line', the package is $version" ;; esac
done
mkdir -p "$WORK/seq" "$WORK/vdb"
cd "$WORK"
nebsample --out seq/plume_####.neb --frames 3 --res 24 >/dev/null
neb2vdb seq/plume_####.neb vdb/plume_####.vdb --frames 0-2 --quiet
[ -s vdb/plume_0002.vdb ] || fail "neb2vdb wrote no vdb/plume_0002.vdb"
nebinfo seq/plume_0001.neb | grep -q 'grid 24 x 24 x 24' || fail "nebinfo does not show the sample's grid"
nebinfo --check seq/plume_####.neb --frames 0-2 >/dev/null || fail "nebinfo --check"
nebinfo vdb/plume_0001.vdb | grep -q 'channels:' || fail "nebinfo does not read a .vdb through the installed plug-in"
F3D=$ROOT/tests/plugins/f3dport/data
nebinfo "$F3D/e_matrix_ogawa.f3d" | grep -q 'grid 10 x 8 x 6' || fail "nebinfo does not read an Ogawa .f3d through the installed plug-in"
nebinfo "$F3D/e_matrix.f3d" | grep -q 'grid 10 x 8 x 6' || fail "nebinfo does not read an HDF5 .f3d through the installed plug-in"
neb2vdb "$F3D/a_smoke_dense.f3d" vdb/smoke.vdb --quiet
[ -s vdb/smoke.vdb ] || fail "neb2vdb wrote no vdb/smoke.vdb from a .f3d"

echo "== The Python module with /usr/bin/python3"
env -u PYTHONPATH /usr/bin/python3 - "$version" "$F3D" <<'EOF'
import sys
import numpy as np
import nebloader
assert nebloader.__file__.startswith("/usr/lib/python3/dist-packages/nebloader/"), nebloader.__file__
assert nebloader.__version__ == sys.argv[1], (nebloader.__version__, sys.argv[1])
expected = np.load(sys.argv[2] + "/a_smoke_dense.npz")["smoke/smoke.0/density"]
with nebloader.open(sys.argv[2] + "/a_smoke_dense_ogawa.f3d") as f3d:
    assert np.array_equal(f3d["smoke"], expected)
with nebloader.open("seq/plume_0001.neb") as cache, nebloader.open("vdb/plume_0001.vdb") as volume:
    # neb2vdb keeps the active voxels' values bit for bit; the plug-in maps density to smoke.
    smoke, density = cache["smoke"], volume["smoke"]
    assert density.max() == smoke.max() > 0, (density.max(), smoke.max())
    assert np.isclose(density.sum(dtype=np.float64), smoke.sum(dtype=np.float64)), "smoke totals differ"
EOF
cd "$ROOT"

echo "== The example host against /usr: find_package and pkg-config"
cmake -S examples/host -B "$WORK/host" -G Ninja >/dev/null
cmake --build "$WORK/host" >/dev/null
(cd "$WORK/host" && ctest --output-on-failure >/dev/null) || fail "the example host built with find_package"
pkg-config --modversion nebloader | grep -qx "$version" || fail "pkg-config --modversion nebloader"
# shellcheck disable=SC2046
g++ -std=c++17 -o "$WORK/nebhost-pc" examples/host/nebhost.cpp $(pkg-config --cflags --libs nebloader)
"$WORK/nebhost-pc" /usr/share/nebloader/sample_0001.neb | grep -q 'grid 8 x 6 x 4' ||
  fail "the example host built with pkg-config"

echo "== man neb2vdb"
MANWIDTH=80 man -P cat neb2vdb 2>/dev/null | grep -- '--frames' >/dev/null || fail "man neb2vdb does not render"

echo "== Removing the package"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq nebloader >/dev/null
left=$(while read -r f; do
  if [ "$f" = /. ]; then
    continue
  elif [ -d "$f" ] && ! [ -L "$f" ]; then
    grep -qxF "$f" "$WORK/dirs-before" || echo "$f"
  elif [ -e "$f" ] || [ -L "$f" ]; then
    echo "$f"
  fi
done < "$WORK/files")
[ -z "$left" ] || fail "left after removal: $left"

echo "== The wheel in a fresh virtual environment"
rm -rf build/wheel
NEB_CMAKE_BUILD_DIR="$ROOT/$BUILD" /usr/bin/python3 -m build --wheel --no-isolation --outdir build/wheel >/dev/null
wheels=(build/wheel/nebloader-"$version"-*.whl)
[ -f "${wheels[0]}" ] || fail "no wheel of version $version in build/wheel"
echo "$(basename "${wheels[0]}"): $(du -k "${wheels[0]}" | cut -f1) KiB"
/usr/bin/python3 -m venv --system-site-packages "$WORK/venv"
"$WORK/venv/bin/pip" install -q --no-index "${wheels[0]}"
cd "$WORK"
env -u PYTHONPATH "$WORK/venv/bin/python" - "$version" "$WORK/venv" "$F3D" <<'EOF'
import sys
import nebloader
assert nebloader.__file__.startswith(sys.argv[2]), nebloader.__file__
assert nebloader.__version__ == sys.argv[1]
with nebloader.open(sys.argv[3] + "/e_matrix.f3d") as f3d:
    assert f3d.grid_size == (10, 8, 6)
with nebloader.open("seq/plume_0002.neb") as frame, nebloader.open("vdb/plume_0002.vdb") as volume:
    assert frame["smoke"].max() == volume["smoke"].max() > 0
    assert frame.groups and frame.groups[0].name == "Sparks"
EOF
echo "Install test passed (nebloader $version)."
