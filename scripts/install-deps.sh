#!/usr/bin/env bash
# Installs the Debian packages the build needs. Idempotent: when everything is present it
# only asks dpkg and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenvdb-dev libboost-iostreams-dev libtbb-dev libblosc-dev libimath-dev
  libopenvdb-tools
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
