#!/usr/bin/env bash
# Installs the Debian packages the build needs. Idempotent: when everything is present it
# only asks dpkg and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  # build speed only: rebuilds of unchanged sources come from the compiler cache
  ccache
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenvdb-dev libboost-iostreams-dev libtbb-dev libblosc-dev libimath-dev
  libopenvdb-tools
  # the Field3D plug-in's HDF5 half (the serial flavour, through pkg-config hdf5-serial)
  libhdf5-dev
  # fuzzing: clang's libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # the Python module (built against Debian's /usr/bin/python3 and its numpy)
  pybind11-dev python3-dev python3-numpy python3-pytest
  # packaging: manual pages from the tools' help texts, the pip and wheel builds (offline)
  help2man man-db python3-setuptools python3-wheel python3-pybind11 python3-build python3-venv python3-pip
  # the Blender add-on's tests and previews (Debian's Blender, headless and with a window
  # on a virtual X server), and pyopenvdb reading neb2vdb's files
  blender xvfb python3-openvdb
  # the farm test: a single-node Slurm cluster on localhost
  slurmctld slurmd slurm-client munge
  # nebview: its web server, and its page's tests in a headless browser over the DevTools
  # protocol
  libcpp-httplib-dev chromium python3-websocket
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
