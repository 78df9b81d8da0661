#!/usr/bin/env bash
# The whole test command: installs what is missing, checks the C interface's binary
# description, then builds and runs every test in a Release build (then the Blender add-on
# in a headless Blender, with that build's neb2vdb and Python module), an
# AddressSanitizer+UndefinedBehaviorSanitizer build and a
# ThreadSanitizer build of the concurrency suites, builds the example hosts (C++ and C)
# against the installed package, tests the Debian package and the wheel (as root) and the
# Windows cross build under wine. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

bash scripts/install-deps.sh

echo "== C interface against its binary description (loader/nebloader_c.abi)"
# Fails when the header breaks hosts built against the description without a new major
# version, or when the description is out of date (the Release tests run it again).
python3 scripts/c-abi.py check

# A compiler cache, when installed, makes a rebuild of an unchanged tree cheap; paths are
# taken relative to the checkout, so a fresh clone elsewhere hits the same entries.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$ROOT"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

configure_build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

echo "== Release build"
configure_build build/release -DCMAKE_BUILD_TYPE=Release
(cd build/release && ctest --output-on-failure -j "$JOBS" --timeout 600)

echo "== Blender add-on in Debian's Blender (headless, the Release build's neb2vdb and module)"
bash scripts/test-blender.sh

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
configure_build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEB_SANITIZE=address -DNEB_BUILD_BENCH=OFF -DNEB_BUILD_PYTHON=OFF
(cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j "$JOBS" --timeout 900)

echo "== ThreadSanitizer build (concurrency suites)"
configure_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEB_SANITIZE=thread -DNEB_BUILD_BENCH=OFF -DNEB_BUILD_VOLCONVERT=OFF -DNEB_BUILD_VDBPORT=OFF -DNEB_BUILD_PYTHON=OFF
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
   ctest --output-on-failure -j "$JOBS" --timeout 900 -L concurrency)

if [ -f examples/host/CMakeLists.txt ]; then
  echo "== Example host against the installed package"
  rm -rf build/prefix build/example
  cmake --install build/release --prefix "$ROOT/build/prefix" >/dev/null
  cmake -S examples/host -B build/example -G Ninja -DCMAKE_PREFIX_PATH="$ROOT/build/prefix" >/dev/null
  cmake --build build/example -j "$JOBS"
  (cd build/example && ctest --output-on-failure)
fi

if [ -f examples/chost/CMakeLists.txt ]; then
  echo "== C example host against the installed package (find_package and pkg-config)"
  rm -rf build/cexample
  [ -d build/prefix ] || cmake --install build/release --prefix "$ROOT/build/prefix" >/dev/null
  cmake -S examples/chost -B build/cexample -G Ninja -DCMAKE_PREFIX_PATH="$ROOT/build/prefix" \
    -DNEB_CXX_HOST="$ROOT/build/example/nebhost" >/dev/null
  cmake --build build/cexample -j "$JOBS"
  (cd build/cexample && ctest --output-on-failure)
fi

if [ -f scripts/test-install.sh ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "== Install test: the Debian package and the wheel, used from outside the checkout"
    BUILD=build/release bash scripts/test-install.sh
  else
    echo "== Install test skipped: it installs a Debian package, run as root"
  fi
fi

echo "== Windows build (MinGW-w64 cross build, tests under wine)"
LINUX_BUILD=build/release bash scripts/test-windows.sh

if [ -f scripts/fuzz.sh ]; then
  echo "== Fuzz smoke run (every target, briefly)"
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-40}"
fi

if [ -f scripts/test-farm.sh ]; then
  echo "== Farm test: neb2vdb as a Slurm array job on a single-node cluster"
  bash scripts/test-farm.sh
fi

echo "All test suites passed."
