#!/usr/bin/env bash
# The Windows build: cross-compiled with MinGW-w64 (cmake/mingw-w64-x86_64.cmake), with
# libdeflate cross-built from Debian's source package, and run under wine. Runs every test
# suite that needs neither OpenVDB nor Python, the example host, and compares with the
# Linux build in build/release (built here when missing):
#   - nebinfo.exe --json on frames the Linux build wrote equals the Linux output (line ends
#     aside), also for a non-ASCII file name and a frame whose chunk list and footer lie
#     past 2 GiB (a sparse file);
#   - frames written by the Windows writer from the same arrays are byte-identical to the
#     Linux writer's;
#   - the decode time of a 256^3 frame on 1 and 2 pool threads, Linux against wine.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
WIN=build/win64
LIN=${LINUX_BUILD:-build/release}

# Cross tools, zlib for the target, wine; googletest is built from libgtest-dev's sources;
# clang, lld and llvm's dlltool build the MSVC-ABI host and nebloader.lib; dpkg-dev unpacks
# libdeflate's source package.
PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 libgtest-dev cmake ninja-build clang lld llvm dpkg-dev)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$ROOT"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# wine: a prefix of its own under the build folder, no debug chatter, no prompts for the
# .NET and HTML runtimes. The prefix is set up once (the slow part), in the background
# while the cross build runs.
export WINEPREFIX="$ROOT/$WIN/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WIN"
boot_pid=""
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (wineboot -i >"$WIN/wineboot.log" 2>&1 || true) &
  boot_pid=$!
fi

# libdeflate for the target: Debian has no MinGW build of it, so its source package is
# fetched (through a source list of the build's own, the machine's apt setup untouched) and
# its static library cross-built. Without it zip blocks inflate with zlib alone, which takes
# about 8 times as long; a 256^3 frame's packed colour is one zip stream that one thread
# inflates, so the pool's second thread would barely shorten the decode.
deflate=()
D="$ROOT/$WIN/libdeflate"
if [ ! -f "$D/src/libdeflatestatic.lib" ]; then
  echo "== libdeflate for the target, from Debian's source package"
  rm -rf "$D" && mkdir -p "$D/lists/partial" "$D/cache/archives/partial"
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  # The machine's own Debian mirror for its release.
  uri=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' 2>/dev/null |
        awk -v r="$release" '$2 == r && $3 == "deb" {print $1; exit}' || true)
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  { echo "Types: deb-src"; echo "URIs: ${uri:-http://deb.debian.org/debian/}"; echo "Suites: $release"
    echo "Components: main"; [ -f "$keyring" ] && echo "Signed-By: $keyring"; } >"$D/src.sources"
  apt_own=(-o Dir::Etc::SourceList="$D/src.sources" -o Dir::Etc::SourceParts=/nonexistent
           -o Dir::State::Lists="$D/lists" -o Dir::Cache="$D/cache" -o APT::Sandbox::User=root)
  if apt-get -qq "${apt_own[@]}" update >"$D/fetch.log" 2>&1 &&
     (cd "$D" && apt-get -q "${apt_own[@]}" source libdeflate >>"$D/fetch.log" 2>&1); then
    src=$(find "$D" -mindepth 1 -maxdepth 1 -type d -name 'libdeflate-*' | head -1)
    mv "$src" "$D/src"
    make -C "$D/src" -j "$JOBS" libdeflatestatic.lib CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
      >"$D/build.log" 2>&1 || { tail "$D/build.log"; rm -f "$D/src/libdeflatestatic.lib"; }
  else
    tail -5 "$D/fetch.log"
  fi
fi
if [ -f "$D/src/libdeflatestatic.lib" ]; then
  deflate=(-DLIBDEFLATE_INCLUDE_DIR="$D/src" -DLIBDEFLATE_LIBRARY="$D/src/libdeflatestatic.lib")
else
  echo "NOTE: libdeflate's source package could not be fetched or built: zip blocks inflate with zlib alone"
fi

echo "== Windows cross build (MinGW-w64)"
cmake -S "$ROOT" -B "$WIN" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DNEB_BUILD_BENCH=OFF -DNEB_BUILD_VOLCONVERT=OFF -DNEB_BUILD_VDBPORT=OFF \
  -DNEB_BUILD_PYTHON=OFF "${deflate[@]}" >/dev/null
# The build runs one program under wine (the sample frame it installs): the prefix must
# be ready first.
if [ -n "$boot_pid" ]; then wait "$boot_pid"; boot_pid=""; fi
# A persistent server: without it every wine process waits about 3 s for the server to
# exit when it ends.
wineserver -p 2>/dev/null || true  # already running for this prefix: fine
# The first wine process also starts wine's background services, which inherit its output
# and keep that open as long as the server lives: a caller reading the output (ninja,
# ctest's test listing) would wait for them. Started here with output going nowhere.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# Every program below runs as ctest runs the tests: again when wine loses its server.
wine() { "$ROOT/cmake/wine-run.sh" "$@"; }
cmake --build "$WIN" -j "$JOBS"

echo "== Linux tools for the comparisons ($LIN)"
if [ ! -f "$LIN/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$LIN" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$LIN" -j "$JOBS" --target nebinfo nebsample neb_write_fixed neb_decode_timer

# nebloader.dll for the test programs that link it (Windows looks beside the program,
# then along PATH).
winpath() { echo "Z:$(cd "$1" && pwd)" | tr / '\\'; }
export WINEPATH="$(winpath "$WIN/loader")"

echo "== Test suites under wine"
(cd "$WIN" && ctest --output-on-failure -j "$JOBS" --timeout 600)

echo "== The package nebloader-<version>-win64.zip"
rm -f "$WIN"/nebloader-*-win64.zip
(cd "$WIN" && cpack >/dev/null)
ZIP=$(ls "$WIN"/nebloader-*-win64.zip)
rm -rf "$WIN/package" && mkdir -p "$WIN/package"
(cd "$WIN/package" && cmake -E tar xf "$ROOT/$ZIP")
PREFIX="$ROOT/$WIN/package/$(basename "$ZIP" .zip)"
for f in bin/nebloader.dll bin/nebinfo.exe bin/nebsample.exe lib/libnebloader.dll.a lib/nebloader.lib \
         include/nebloader.h lib/cmake/nebloader/nebloaderConfig.cmake share/nebloader/sample_0001.neb; do
  [ -f "$PREFIX/$f" ] || { echo "FAILED: $f missing from $ZIP"; exit 1; }
done
if [ ${#deflate[@]} -gt 0 ] && [ ! -f "$PREFIX/share/doc/nebloader/libdeflate-COPYING" ]; then
  echo "FAILED: libdeflate is linked into the DLL but its licence is missing from $ZIP"; exit 1
fi
echo "ok   $(basename "$ZIP") holds the DLL, the tools, both import libraries, the header and the CMake package"
checks=1

echo "== Example host (MinGW) against the unpacked package, under wine"
rm -rf "$WIN/example"
cmake -S examples/host -B "$WIN/example" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$PREFIX" >/dev/null
cmake --build "$WIN/example" -j "$JOBS"
(export WINEPATH="$(winpath "$PREFIX/bin")"; cd "$WIN/example" && ctest --output-on-failure)

echo "== MSVC-ABI host (clang --target=x86_64-pc-windows-msvc, lld-link, no C runtime) against the unpacked package, under wine"
M="$ROOT/$WIN/msvc-host"
rm -rf "$M" && mkdir -p "$M/plugins"
DLLTOOL=$(command -v llvm-dlltool || command -v llvm-dlltool-14)
clang++ --target=x86_64-pc-windows-msvc -std=c++17 -O1 -Wall -Wextra -Werror -fno-exceptions -fno-rtti \
  -fno-stack-protector -mno-stack-arg-probe -fno-builtin -I "$PREFIX/include" \
  -c examples/msvc-host/MsvcHost.cpp -o "$M/host.obj"
# The host's few kernel32 functions, as an import library of its own (no SDK here).
{ printf 'LIBRARY kernel32.dll\nEXPORTS\n'
  printf '%s\n' CloseHandle CreateThread DeleteFileA ExitProcess GetCommandLineA GetCurrentThreadId \
    GetFileAttributesA GetStdHandle Sleep WaitForSingleObject WriteFile; } >"$M/kernel32.def"
"$DLLTOOL" -m i386:x86-64 -d "$M/kernel32.def" -l "$M/kernel32.lib"
lld-link /nologo /entry:hostMain /subsystem:console /nodefaultlib "$M/host.obj" "$PREFIX/lib/nebloader.lib" \
  "$M/kernel32.lib" /out:"$M/msvc_host.exe"
# The stand-in import plug-in under both plug-in names, so that the host's thread manager
# is registered and handed on.
cp "$WIN/tests/loader/fakeport.dll" "$M/plugins/vdbport_msvc.dll"
cp "$WIN/tests/loader/fakeport.dll" "$M/plugins/f3dport_msvc.dll"
cp "$PREFIX/share/nebloader/sample_0001.neb" "$M/"
(export WINEPATH="$(winpath "$PREFIX/bin")"; cd "$M" && wine msvc_host.exe sample_0001.neb plugins msvc | tr -d '\r' | tee host.log)
grep -q '^MSVC-ABI host: all checks passed$' "$M/host.log" || { echo "FAILED: the MSVC-ABI host"; exit 1; }
checks=$((checks + 1))

echo "== Linux and Windows builds agree"
X="$ROOT/$WIN/xcheck"
rm -rf "$X" && mkdir -p "$X"
WNEBINFO="$ROOT/$WIN/tools/nebinfo/nebinfo.exe"
WNEBSAMPLE="$ROOT/$WIN/tools/nebsample/nebsample.exe"
LNEBINFO="$ROOT/$LIN/tools/nebinfo/nebinfo"
LNEBSAMPLE="$ROOT/$LIN/tools/nebsample/nebsample"
fail() { echo "FAILED: $*"; exit 1; }
same_json() {  # label, file as given to both programs (relative to $X)
  (cd "$X" && "$LNEBINFO" --json "$2" >"$X/linux.json") || fail "$1: Linux nebinfo"
  (cd "$X" && wine "$WNEBINFO" --json "$2" >"$X/windows.json") || fail "$1: nebinfo.exe"
  tr -d '\r' <"$X/windows.json" | cmp -s - "$X/linux.json" || { diff <(tr -d '\r' <"$X/windows.json") "$X/linux.json" | head; fail "$1: JSON differs"; }
  echo "ok   $1"
}

(cd "$X" && "$LNEBSAMPLE" -out 'plume_####.neb' -frames 3 -res 40 >/dev/null)
for f in plume_0000.neb plume_0001.neb plume_0002.neb; do same_json "nebinfo --json on Linux-written $f" "$f"; checks=$((checks + 1)); done
(cd "$X" && wine "$WNEBINFO" --check 'plume_####.neb' --frames 0-2 | tr -d '\r' | tail -1 | grep -q '^3 of 3 frames sound$') ||
  fail "nebinfo.exe --check on Linux-written frames"
echo "ok   nebinfo.exe --check decodes every channel of the Linux-written frames"; checks=$((checks + 1))

"$ROOT/$LIN/tests/cache/neb_write_fixed" "$X/fixed_linux.neb" 64
wine "$ROOT/$WIN/tests/cache/neb_write_fixed.exe" "$(winpath "$X")\\fixed_windows.neb" 64
cmp "$X/fixed_linux.neb" "$X/fixed_windows.neb" || fail "the Windows writer's frame differs from the Linux writer's"
echo "ok   frames written from the same arrays are byte-identical ($(stat -c %s "$X/fixed_linux.neb") bytes)"; checks=$((checks + 1))

# A name outside every ANSI code page reaches the tools only through the wide command line.
mkdir -p "$X/ünï"
(cd "$X" && wine "$WNEBSAMPLE" -out 'ünï/雲_Ωmega_####.neb' -frames 1 -res 24 >/dev/null) || fail "nebsample.exe with a non-ASCII name"
[ -f "$X/ünï/雲_Ωmega_0000.neb" ] || fail "nebsample.exe did not write the non-ASCII name as UTF-8"
same_json "non-ASCII path written by nebsample.exe, read by both" 'ünï/雲_Ωmega_0000.neb'; checks=$((checks + 1))
cp "$X/plume_0001.neb" "$X/ünï/Ωmega_ü.neb"
same_json "non-ASCII path of a Linux-written frame" 'ünï/Ωmega_ü.neb'; checks=$((checks + 1))

# Past 2 GiB: the chunk list (particles, value ranges) and the footer lie beyond 2^31 and
# the footer's data offset needs its 64 bits.
/usr/bin/python3 scripts/make-far-frame.py "$X/fixed_linux.neb" "$X/far.neb" 2500000000
(cd "$X" && "$LNEBINFO" --json fixed_linux.neb | sed 's/"fixed_linux.neb"/"far.neb"/' >"$X/near.json")
same_json "frame with its chunk list past 2 GiB" far.neb; checks=$((checks + 1))
cmp -s "$X/near.json" "$X/linux.json" || fail "the frame past 2 GiB reads differently from the original"
(cd "$X" && wine "$WNEBINFO" --check far.neb | tr -d '\r' | tail -1 | grep -q '^1 of 1 frames sound$') || fail "nebinfo.exe --check far.neb"
echo "ok   ... and decodes like the original"
rm -f "$X/far.neb"

echo "== Decode time of a 256^3 frame through the worker pool, Linux against wine (same run)"
(cd "$X" && "$LNEBSAMPLE" -out 'big_####.neb' -frames 1 -res 256 >/dev/null)
declare -A wall
for n in 1 2; do
  # The fastest of 5 decodes each: the machine may be busy with other work.
  l=$(cd "$X" && QARN_NUM_THREADS=$n "$ROOT/$LIN/tests/cache/neb_decode_timer" big_0000.neb 5)
  w=$(cd "$X" && QARN_NUM_THREADS=$n wine "$ROOT/$WIN/tests/cache/neb_decode_timer.exe" big_0000.neb 5 | tr -d '\r')
  echo "Linux: $l"; echo "wine:  $w"
  wall[linux$n]=$(echo "$l" | awk '{print $7}'); wall[wine$n]=$(echo "$w" | awk '{print $7}')
done
awk -v l1="${wall[linux1]}" -v l2="${wall[linux2]}" -v w1="${wall[wine1]}" -v w2="${wall[wine2]}" \
  'BEGIN {printf "2 threads against 1: %.2fx faster on Linux, %.2fx under wine\n", l1 / l2, w1 / w2}'
rm -f "$X"/big_*.neb

echo "$checks passed, 0 failed: Windows build checks"
