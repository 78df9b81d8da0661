#!/usr/bin/env bash
# The Windows build: cross-compiled with MinGW-w64 (cmake/mingw-w64-x86_64.cmake), with
# OpenVDB's stack cross-built from Debian's source packages
# (scripts/build-windows-stack.sh, cached outside the checkout), and run under wine. Runs
# the test suites built for Windows, the example host and an MSVC-ABI host (both also
# load a .vdb frame through vdbport.dll), and compares with the Linux build in
# build/release (built here when missing):
#   - nebinfo.exe --json on frames the Linux build wrote equals the Linux output (line ends
#     aside), also for a non-ASCII file name, a frame whose chunk list and footer lie past
#     2 GiB (a sparse file), a .vdb file read through vdbport.dll and Ogawa-encoded .f3d
#     files read through f3dport.dll;
#   - frames written by the Windows writer from the same arrays are byte-identical to the
#     Linux writer's;
#   - volconvert.exe and neb2vdb.exe (with their options, on a sequence with a damaged and
#     a missing frame, under non-ASCII names) write the Linux builds' bytes, the file UUID
#     (bytes 22-57) and neb2vdb's record of the source's path and time aside
#     (scripts/vdb-same.py), and print the same texts and exit codes;
#   - the decode time of a 256^3 frame on 1 and 2 pool threads, and neb2vdb's conversion
#     of it on 1 and 2 threads, Linux against wine.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
WIN=build/win64
LIN=${LINUX_BUILD:-build/release}

# Cross tools, zlib for the target, wine; googletest is built from libgtest-dev's sources;
# clang, lld and llvm's dlltool build the MSVC-ABI host and nebloader.lib; dpkg-dev unpacks
# the stack's source packages; Boost's headers are the machine's.
PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 libgtest-dev cmake ninja-build clang lld llvm dpkg-dev
          libboost-dev)
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
# while the stack and the cross build run.
export WINEPREFIX="$ROOT/$WIN/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WIN"
boot_pid=""
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (wineboot -i >"$WIN/wineboot.log" 2>&1 || true) &
  boot_pid=$!
fi
# A prefix counts as started when a trivial program runs in it. wineboot can end without
# one ("wine: could not load kernel32.dll, status c0000135" was seen once in a new prefix,
# and every program failed after it): the prefix is then made once more, and a second
# failure stops the run with wine's own words.
prefix_runs() { wine cmd.exe /c echo prefix-ok </dev/null 2>"$WIN/wine-check.log" | tr -d '\r' | grep -q '^prefix-ok$'; }
ensure_prefix() {
  if [ -n "$boot_pid" ]; then wait "$boot_pid"; boot_pid=""; fi
  prefix_runs && return 0
  echo "NOTE: the wine prefix does not run programs; wine said:"
  cat "$WIN/wineboot.log" "$WIN/wine-check.log" 2>/dev/null | grep -v '^$' | tail -5
  echo "Removing it and making it once more."
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  wineboot -i >"$WIN/wineboot.log" 2>&1 || true
  prefix_runs && return 0
  echo "FAILED: wine cannot run programs in a new prefix ($WINEPREFIX). wine said:"
  cat "$WIN/wineboot.log" "$WIN/wine-check.log" 2>/dev/null | grep -v '^$' | tail -10
  exit 1
}

# OpenVDB's stack for the target, as an initial cache for the cross build.
# A piece that cannot be built is named with its command and output; everything else is
# built and tested, and the run fails at the end.
echo "== The Windows stack (scripts/build-windows-stack.sh)"
stack_rc=0
bash scripts/build-windows-stack.sh "$WIN/stack.cmake" || stack_rc=$?
[ "$stack_rc" -eq 0 ] || [ "$stack_rc" -eq 3 ] || exit "$stack_rc"

echo "== Windows cross build (MinGW-w64)"
cmake -S "$ROOT" -B "$WIN" -G Ninja "${launcher[@]}" -C "$WIN/stack.cmake" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release -DNEB_BUILD_BENCH=OFF \
  -DNEB_BUILD_PYTHON=OFF >/dev/null
have_vdb=$(grep -q 'NEB_BUILD_VOLCONVERT ON' "$WIN/stack.cmake" && echo 1 || echo 0)
# The build runs one program under wine (the sample frame it installs): the prefix must
# be ready first.
ensure_prefix
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
lin_targets=(nebinfo nebsample neb_write_fixed neb_decode_timer f3dport)
[ "$have_vdb" = 1 ] && lin_targets+=(volconvert neb2vdb vdbport)
cmake --build "$LIN" -j "$JOBS" --target "${lin_targets[@]}"

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
expected=(bin/nebloader.dll bin/f3dport.dll bin/nebinfo.exe bin/nebsample.exe lib/libnebloader.dll.a lib/nebloader.lib
          include/nebloader.h include/nebloader_c.h lib/cmake/nebloader/nebloaderConfig.cmake
          share/nebloader/sample_0001.neb)
# The licence of everything linked in, by the name of its library.
licences=(zlib)
if [ "$have_vdb" = 1 ]; then
  expected+=(bin/volconvert.exe bin/neb2vdb.exe bin/vdbport.dll)
  licences+=(openvdb onetbb c-blosc lz4 imath boost)
fi
for f in "${expected[@]}"; do
  [ -f "$PREFIX/$f" ] || { echo "FAILED: $f missing from $ZIP"; exit 1; }
done
for l in "${licences[@]}"; do
  ls "$PREFIX/share/doc/nebloader/$l-"* >/dev/null 2>&1 ||
    { echo "FAILED: $l is linked in but its licence is missing from $ZIP (share/doc/nebloader/$l-*)"; exit 1; }
done
echo "ok   $(basename "$ZIP") holds the DLL, the plug-in, the programs, both import libraries, the header, the CMake package and the licences (${licences[*]})"
checks=1

# The sample frame as an OpenVDB file, written by the packaged volconvert.exe, for the hosts.
VDB_SAMPLE=""
if [ "$have_vdb" = 1 ]; then
  rm -rf "$WIN/vdb-sample" && mkdir -p "$WIN/vdb-sample"
  cp "$PREFIX/share/nebloader/sample_0001.neb" "$WIN/vdb-sample/"
  (cd "$WIN/vdb-sample" && wine "$PREFIX/bin/volconvert.exe" -srcfile sample_0001.neb -dstfile sample_0001.vdb -silent)
  VDB_SAMPLE="$ROOT/$WIN/vdb-sample/sample_0001.vdb"
  [ -f "$VDB_SAMPLE" ] || { echo "FAILED: the packaged volconvert.exe wrote no sample_0001.vdb"; exit 1; }
fi

echo "== Example host (MinGW) against the unpacked package, under wine"
rm -rf "$WIN/example"
cmake -S examples/host -B "$WIN/example" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$PREFIX" >/dev/null
cmake --build "$WIN/example" -j "$JOBS"
(export WINEPATH="$(winpath "$PREFIX/bin")"; cd "$WIN/example" && ctest --output-on-failure)
if [ -n "$VDB_SAMPLE" ]; then
  # initalizeNebuLoader(nullptr, nullptr, 0) finds vdbport.dll and f3dport.dll beside
  # nebloader.dll.
  (export WINEPATH="$(winpath "$PREFIX/bin")"; wine "$WIN/example/nebhost.exe" "$VDB_SAMPLE" | tr -d '\r' >"$WIN/example/vdb.log") ||
    { cat "$WIN/example/vdb.log"; echo "FAILED: the example host on an OpenVDB file"; exit 1; }
  grep -q '^import plug-ins: 3$' "$WIN/example/vdb.log" && grep -q '^grid 8 x 6 x 4$' "$WIN/example/vdb.log" &&
    grep -q '^channels: 1 2$' "$WIN/example/vdb.log" ||
    { cat "$WIN/example/vdb.log"; echo "FAILED: the example host did not load the OpenVDB file through vdbport.dll"; exit 1; }
  echo "ok   the example host loads an OpenVDB frame through vdbport.dll beside nebloader.dll"
  checks=$((checks + 1))
fi

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
# Import plug-ins under both names, so that the host's thread manager is registered and
# handed on: the packaged vdbport.dll, which then also imports the sample as an OpenVDB
# file, and the stand-in plug-in as the Field3D one (or as both without OpenVDB).
cp "$WIN/tests/loader/fakeport.dll" "$M/plugins/f3dport_msvc.dll"
cp "$PREFIX/share/nebloader/sample_0001.neb" "$M/"
vdb_arg=()
if [ -n "$VDB_SAMPLE" ]; then
  cp "$PREFIX/bin/vdbport.dll" "$M/plugins/vdbport_msvc.dll"
  cp "$VDB_SAMPLE" "$M/" && vdb_arg=(sample_0001.vdb)
else
  cp "$WIN/tests/loader/fakeport.dll" "$M/plugins/vdbport_msvc.dll"
fi
(export WINEPATH="$(winpath "$PREFIX/bin")"; cd "$M" && wine msvc_host.exe sample_0001.neb plugins msvc "${vdb_arg[@]}" |
   tr -d '\r' | tee host.log)
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

if [ "$have_vdb" = 1 ]; then
  echo "== volconvert.exe and neb2vdb.exe write the Linux builds' files, the UUID aside"
  LVOL="$ROOT/$LIN/tools/volconvert/volconvert"
  WVOL="$ROOT/$WIN/tools/volconvert/volconvert.exe"
  LN2V="$ROOT/$LIN/tools/neb2vdb/neb2vdb"
  WN2V="$ROOT/$WIN/tools/neb2vdb/neb2vdb.exe"
  # Two OpenVDB files agree when their bytes are the same apart from the file's UUID and,
  # in neb2vdb's files, the record of the source's path and time and of the points file's
  # path, which name the same files in each system's terms (scripts/vdb-same.py).
  same_vdb() {  # label, Linux file, Windows file[, Linux and Windows run folders]
    [ -f "$2" ] || fail "$1: the Linux build wrote no ${2#"$X"/}"
    [ -f "$3" ] || fail "$1: the Windows build wrote no ${3#"$X"/}"
    local why folders=()
    [ $# -eq 5 ] && folders=(--folders "$4" "$5")
    why=$(/usr/bin/python3 "$ROOT/scripts/vdb-same.py" "${folders[@]}" "$2" "$3") ||
      fail "$1: ${3#"$X"/} differs from ${2#"$X"/}: $why"
  }
  # Both folders hold the same .vdb files, each agreeing; no temporaries are left.
  same_vdb_folders() {  # label, Linux folder, Windows folder
    local lf wf
    lf=$(cd "$2" && find . -name '*.vdb' | sort); wf=$(cd "$3" && find . -name '*.vdb' | sort)
    [ "$lf" = "$wf" ] || { diff <(echo "$lf") <(echo "$wf"); fail "$1: the builds wrote different files"; }
    [ -n "$lf" ] || fail "$1: no files written"
    for f in $lf; do same_vdb "$1" "$2/$f" "$3/$f" "$2" "$3"; done
    [ -z "$(find "$3" -name '*.part')" ] || fail "$1: temporaries left behind: $(find "$3" -name '*.part')"
  }
  # Runs a converter in <dir>/lin and <dir>/win with the same arguments: same exit code, same
  # standard output and error (line ends aside, after `filter`), and the same files.
  both() {  # label, dir, filter (sed script), Linux program, Windows program, args...
    local label=$1 dir=$2 filter=$3 lp=$4 wp=$5 lrc=0 wrc=0; shift 5
    mkdir -p "$dir/lin" "$dir/win"
    (cd "$dir/lin" && "$lp" "$@" >stdout.txt 2>stderr.txt) || lrc=$?
    (cd "$dir/win" && wine "$wp" "$@" >stdout.txt 2>stderr.txt) || wrc=$?
    [ "$lrc" = "$wrc" ] || { cat "$dir/win/stderr.txt"; fail "$label: exit code $wrc under wine, $lrc on Linux"; }
    for out in stdout stderr; do
      cmp -s <(sed -e "$filter" "$dir/lin/$out.txt" | sort) <(tr -d '\r' <"$dir/win/$out.txt" | sed -e "$filter" | sort) ||
        { diff <(sed -e "$filter" "$dir/lin/$out.txt" | sort) <(tr -d '\r' <"$dir/win/$out.txt" | sed -e "$filter" | sort) | head
          fail "$label: $out differs"; }
    done
    same_vdb_folders "$label" "$dir/lin" "$dir/win"
    echo "ok   $label (exit code $lrc)"
    checks=$((checks + 1))
  }

  # Frames 0-5 of the plume: 1 cut short (it does not load), 2 with 64 bytes overwritten in
  # the middle of its grid data, 3 missing.
  S="$X/seq"
  mkdir -p "$S"
  (cd "$S" && "$LNEBSAMPLE" -out 'f_####.neb' -frames 6 -res 32 >/dev/null)
  truncate -s $(($(stat -c %s "$S/f_0001.neb") * 3 / 5)) "$S/f_0001.neb"
  head -c 64 /dev/zero | tr '\0' '\377' | dd of="$S/f_0002.neb" bs=1 seek=$(($(stat -c %s "$S/f_0002.neb") / 2)) \
    conv=notrunc status=none
  rm "$S/f_0003.neb"

  both "volconvert.exe: frames 0-5 with a cut, a damaged and a missing frame" "$X/vc" '' "$LVOL" "$WVOL" \
    -srcfile ../../seq/f_####.neb -dstfile f_####.vdb -start 0 -end 5
  both "volconvert.exe -silent, single-file mode" "$X/vc-single" '' "$LVOL" "$WVOL" \
    -silent -srcfile ../../seq/f_0004.neb -dstfile 'one_##.vdb'
  for args in "" "-start x" "-help -credits"; do
    lrc=0 wrc=0
    "$LVOL" $args >"$X/vc-text-lin.txt" || lrc=$?
    wine "$WVOL" $args 2>/dev/null | tr -d '\r' >"$X/vc-text-win.txt" || wrc=$?
    [ "$lrc" = "$wrc" ] && cmp -s "$X/vc-text-lin.txt" "$X/vc-text-win.txt" ||
      { diff "$X/vc-text-lin.txt" "$X/vc-text-win.txt" | head; fail "volconvert.exe ${args:-without arguments}: text or exit code ($wrc, Linux $lrc) differs"; }
    echo "ok   volconvert.exe ${args:-without arguments}: the same text and exit code ($lrc)"
    checks=$((checks + 1))
  done

  # neb2vdb's lines carry timings and, with several jobs, come in any order and are counted
  # as they end: timings and counts are taken out and the lines sorted. The sizes written
  # are taken out too: the record of the source's path makes each file as much longer as
  # the path is (vdb-same.py compares the files themselves).
  times='s/^\[[0-9]*\/[0-9]*\] //; s/ in [0-9.]* s//; s/; [0-9.]* s with/; with/'
  times+='; s/: [0-9.]* [kMGT]\{0,1\}B$/:/; s/, [0-9.]* [kMGT]\{0,1\}B written/, written/'
  both "neb2vdb.exe --jobs 2: frames 0-5 with a cut, a damaged and a missing frame" "$X/n2v" "$times" "$LN2V" "$WN2V" \
    ../../seq/f_####.neb out/f_####.vdb --frames 0-5 --jobs 2
  both "neb2vdb.exe --preset blender --half --compression zip --points-file, one job" "$X/n2v-blender" "$times" \
    "$LN2V" "$WN2V" ../../seq/f_####.neb out/f_####.vdb --frames 0,4,5 --jobs 1 --preset blender --half \
    --compression zip --points-file 'points/f_####.vdb'
  both "neb2vdb.exe --preset native --dense --compression none --rename, --up-axis z" "$X/n2v-native" "$times" \
    "$LN2V" "$WN2V" ../../seq/f_0005.neb f_0005.vdb --preset native --dense --compression none \
    --rename Smoke_ost=smoke --up-axis z --no-particles
  # --skip-existing: frame 0's output stays as it is (a new one would have a new UUID), frame
  # 4's, removed, is written again.
  for d in lin win; do cp "$X/n2v/$d/out/f_0000.vdb" "$X/n2v/$d/kept.vdb"; rm "$X/n2v/$d/out/f_0004.vdb"; done
  both "neb2vdb.exe --skip-existing" "$X/n2v" "$times" "$LN2V" "$WN2V" \
    ../../seq/f_####.neb out/f_####.vdb --frames 0-5 --jobs 2 --skip-existing
  cmp -s "$X/n2v/win/kept.vdb" "$X/n2v/win/out/f_0000.vdb" || fail "neb2vdb.exe --skip-existing wrote frame 0 again"
  # Non-ASCII folder and file names in both patterns, the output folder made on the way.
  mkdir -p "$X/n2v-names/src/ünï"
  for f in 0 4 5; do cp "$S/f_000$f.neb" "$X/n2v-names/src/ünï/雲_Ωmega_000$f.neb"; done
  both "neb2vdb.exe with non-ASCII folder and file names" "$X/n2v-names" "$times" "$LN2V" "$WN2V" \
    '../src/ünï/雲_Ωmega_####.neb' 'vdb_ü/雲_####.vdb' --frames 0,4,5
  [ -f "$X/n2v-names/win/vdb_ü/雲_0005.vdb" ] || fail "neb2vdb.exe did not write the non-ASCII names as UTF-8"

  # vdbport.dll reads a .vdb file as the Linux plug-in does.
  cp "$X/vc/lin/f_0005.vdb" "$X/plume.vdb"
  same_json "nebinfo --json on a .vdb file, through vdbport" plume.vdb; checks=$((checks + 1))
fi

# f3dport.dll reads Ogawa-encoded Field3D files (written by Field3D 1.7.3) as the Linux
# plug-in does; the Windows build has no libhdf5 and refuses HDF5-encoded ones by name.
for f in a_smoke_dense_ogawa d_types_ogawa e_matrix_ogawa; do
  cp "tests/plugins/f3dport/data/$f.f3d" "$X/"
  same_json "nebinfo --json on the Ogawa-encoded Field3D file $f.f3d, through f3dport" "$f.f3d"; checks=$((checks + 1))
done
cp tests/plugins/f3dport/data/a_smoke_dense.f3d "$X/"
(cd "$X" && wine "$WNEBINFO" --json a_smoke_dense.f3d >/dev/null 2>"$X/hdf5.txt") && fail "nebinfo.exe read an HDF5-encoded .f3d file"
grep -q "HDF5-encoded .f3d files are not supported by this build" "$X/hdf5.txt" ||
  { cat "$X/hdf5.txt"; fail "nebinfo.exe on an HDF5-encoded .f3d file: no word of HDF5 files being unsupported"; }
echo "ok   nebinfo.exe refuses an HDF5-encoded .f3d file, saying why"; checks=$((checks + 1))

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

if [ "$have_vdb" = 1 ]; then
  echo "== neb2vdb on a 256^3 frame (frame 5 of the plume), Linux against wine (same run)"
  (cd "$X" && "$LNEBSAMPLE" -out 'big_####.neb' -start 5 -frames 1 -res 256 >/dev/null)
  best() {  # the fastest of 3 runs: process wall time, and the frame time neb2vdb reports
    local i t0 t1 frame wall="" ftime=""
    for i in 1 2 3; do
      t0=$(date +%s.%N)
      frame=$("$@" | tr -d '\r' | sed -n 's/.* in \([0-9.]*\) s$/\1/p')
      t1=$(date +%s.%N)
      wall=$(awk -v a="$wall" -v b="$(awk -v s="$t0" -v e="$t1" "BEGIN {print e - s}")" 'BEGIN {print (a == "" || b < a) ? b : a}')
      ftime=$(awk -v a="$ftime" -v b="$frame" 'BEGIN {print (a == "" || b < a) ? b : a}')
    done
    echo "$wall $ftime"
  }
  for n in 1 2; do
    l=$(cd "$X" && best "$LN2V" big_0005.neb big_lin.vdb --jobs "$n")
    w=$(cd "$X" && best wine "$WN2V" big_0005.neb big_win.vdb --jobs "$n")
    printf 'neb2vdb --jobs %d: Linux %.2f s (frame %s s), wine %.2f s (frame %s s)\n' "$n" ${l% *} ${l#* } ${w% *} ${w#* }
  done
  same_vdb "neb2vdb on the 256^3 frame" "$X/big_lin.vdb" "$X/big_win.vdb"
  echo "ok   the 256^3 frame's files agree"
  checks=$((checks + 1))
  # Ctrl+C (wine turns SIGINT into the console's control event) while the file is being
  # written: its temporary goes, and nothing appears under the destination name.
  rm -rf "$X/interrupted"
  # (zip compression: the write takes seconds, time enough to be interrupted in.)
  (cd "$X" && exec wine "$WN2V" big_0005.neb interrupted/big.vdb --jobs 1 -q --compression zip >/dev/null 2>&1) &
  pid=$!
  for i in $(seq 1 600); do
    compgen -G "$X/interrupted/.*.part" >/dev/null && break
    sleep 0.1
  done
  compgen -G "$X/interrupted/.*.part" >/dev/null || fail "neb2vdb.exe made no temporary to interrupt"
  kill -INT "$pid"
  wait "$pid" || true
  for i in $(seq 1 50); do [ -z "$(ls -A "$X/interrupted")" ] && break; sleep 0.1; done
  [ -z "$(ls -A "$X/interrupted")" ] || fail "neb2vdb.exe interrupted left $(ls -A "$X/interrupted")"
  echo "ok   neb2vdb.exe interrupted while writing leaves nothing behind"
  checks=$((checks + 1))
  rm -f "$X"/big_*
fi

if [ "$stack_rc" -ne 0 ]; then
  echo "FAILED: the Windows stack is incomplete (see its output above); $checks checks passed"
  exit 1
fi
echo "$checks passed, 0 failed: Windows build checks"
