#!/usr/bin/env bash
# OpenVDB's stack for the Windows build, from Debian's source packages, cross-built with
# MinGW-w64 as static libraries: Imath, lz4, c-blosc
# (with that lz4 and the MinGW zlib Debian packages), oneTBB, OpenVDB's core library,
# and the Boost headers OpenVDB includes, copied from the machine's own.
#
#   scripts/build-windows-stack.sh <initial-cache file to write>
#
# The file it writes is given to cmake with -C (scripts/test-windows.sh does): it names the
# pieces that were built, and turns NEB_BUILD_VOLCONVERT and NEB_BUILD_VDBPORT off when
# OpenVDB could not be. Progress goes to standard error. Exit status: 0 every piece is
# there, 3 some piece could not be built (the file is written all the same), 1 nothing
# could be done (no Debian archive in the apt configuration, say).
#
# Each piece is built once per machine, into a folder outside the checkout
# (${XDG_CACHE_HOME:-~/.cache}/nebloader/win64-stack, or NEB_WIN_STACK_CACHE) named by
# the piece, its source version and a key over that version, the cross toolchain's
# package versions, the toolchain file, the piece's recipe below and its dependencies'
# keys; a fresh clone on the same machine finds it there. Source packages come through a
# source list of this script's own, made from the Debian archives in the machine's apt
# configuration (apt-get indextargets); the machine's apt setup is left untouched. A file
# of a source package that cannot be fetched (Debian's patch tarball of openvdb answered
# "404 Not Found" here) is said so, and the piece is built from its upstream tarball,
# checked against the .dsc, alone. A piece that cannot be built is said so with the
# command and its output, and everything not needing it is built all the same.
set -euo pipefail
OUT=$(realpath -m "${1:?usage: $0 <initial-cache file to write>}")
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
CACHE=${NEB_WIN_STACK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/nebloader/win64-stack}
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
T=x86_64-w64-mingw32
CC=$T-gcc-posix CXX=$T-g++-posix AR=$T-ar

say() { echo "[windows stack] $*" >&2; }
die() { say "FAILED: $*"; exit 1; }

mkdir -p "$CACHE"
# One build of the stack at a time on this machine: a second checkout waits and then
# finds the pieces built.
exec 9>"$CACHE/lock"
flock 9

launcher=() ccache=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  ccache=(ccache)
fi

# ---- Source packages, through a source list of our own -------------------------------

APT=$CACHE/apt
apt_own=(-o Dir::Etc::SourceList="$APT/src.sources" -o Dir::Etc::SourceParts=/nonexistent
         -o Dir::State::Lists="$APT/lists" -o Dir::Cache="$APT/cache" -o APT::Sandbox::User=root)

# Source entries for the Debian archives the machine's apt reads its binary packages from
# (every URI, suite and component), for the source packages of the same versions.
apt_sources() {
  mkdir -p "$APT/lists/partial" "$APT/cache/archives/partial"
  local entries
  entries=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Origin: Debian' 'Target-Of: deb' \
              'Identifier: Packages' 2>/dev/null | sort -u)
  [ -n "$entries" ] || die "the machine's apt configuration names no Debian archive (apt-get indextargets lists no
  Debian package index), so there is nowhere to fetch source packages from. Add the Debian archive of this release
  to /etc/apt/sources.list.d/ and run apt-get update."
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  : >"$APT/src.sources.new"
  while read -r uri suite component; do
    { echo "Types: deb-src"; echo "URIs: $uri"; echo "Suites: $suite"; echo "Components: $component"
      [ -f "$keyring" ] && echo "Signed-By: $keyring"; echo; } >>"$APT/src.sources.new"
  done <<<"$entries"
  mv "$APT/src.sources.new" "$APT/src.sources"
  # The lists are kept: an unchanged archive answers the update with "not modified".
  if ! apt-get -q "${apt_own[@]}" update >"$APT/update.log" 2>&1; then
    if ls "$APT/lists/"*Sources* >/dev/null 2>&1; then
      say "NOTE: the source package lists could not be updated, using the ones of an earlier run:"
      grep -E '^(E|W|Err):' "$APT/update.log" | head -5 >&2 || true
    else
      cat "$APT/update.log" >&2
      die "the source package lists could not be fetched (apt-get update through $APT/src.sources, output above)"
    fi
  fi
}

declare -A SRC_VERSION SRC_FILES
# Reads which files make up a source package and their checksums; sets SRC_VERSION[pkg]
# (the version in the .dsc's name) and SRC_FILES[pkg] (lines of: uri name size hash).
source_files() {
  local pkg=$1 lines
  lines=$(apt-get "${apt_own[@]}" source --print-uris "$pkg" 2>"$APT/$pkg.err" | grep "^'" | tr -d "'") ||
    { cat "$APT/$pkg.err" >&2; die "apt-get source --print-uris $pkg found no source package $pkg"; }
  SRC_FILES[$pkg]=$lines
  local dsc
  dsc=$(awk '$2 ~ /\.dsc$/ {print $2}' <<<"$lines")
  dsc=${dsc%.dsc}
  SRC_VERSION[$pkg]=${dsc#"${pkg}_"}
}

# Downloads the files of a source package into $CACHE/sources/<pkg>_<version>/ (each
# checked against its hash from the signed index; files there already are not fetched
# again) and unpacks it into $2. With every file there, dpkg-source unpacks it with
# Debian's patches; with only the Debian part missing, the upstream tarballs are unpacked
# as they are and that is said.
fetch_source() {
  local pkg=$1 dest=$2 dir uri name size hash missing=() debian_missing=""
  dir=$CACHE/sources/${pkg}_${SRC_VERSION[$pkg]}
  mkdir -p "$dir"
  while read -r uri name size hash; do
    if [ -f "$dir/$name" ] && [ "$(sha256sum "$dir/$name" | cut -d' ' -f1)" = "${hash#SHA256:}" ]; then continue; fi
    if ! /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file "$uri" "$dir/$name.part" "$hash" \
         >"$dir/$name.log" 2>&1; then
      rm -f "$dir/$name.part"
      say "NOTE: $name of the source package $pkg could not be fetched: $(grep -m1 -E '^(Err|E):' -A1 "$dir/$name.log" |
           tr '\n' ' ' | sed 's/  */ /g')"
      missing+=("$name")
      case $name in *.debian.tar.*|*.diff.gz) debian_missing=$name ;; esac
      continue
    fi
    mv "$dir/$name.part" "$dir/$name"
    rm -f "$dir/$name.log"
  done <<<"${SRC_FILES[$pkg]}"
  rm -rf "$dest"
  if [ ${#missing[@]} -eq 0 ]; then
    dpkg-source --no-check -x "$dir"/*.dsc "$dest" >"$dir/unpack.log" 2>&1 ||
      { cat "$dir/unpack.log" >&2; return 1; }
    return 0
  fi
  if [ ${#missing[@]} -gt 1 ] || [ -z "$debian_missing" ]; then
    say "the source package $pkg lacks ${missing[*]}: it cannot be unpacked"
    return 1
  fi
  # Only Debian's part is missing: the upstream tarball (checked against the .dsc's
  # checksum above) is unpacked alone, with any component tarballs in their folders.
  say "NOTE: building $pkg ${SRC_VERSION[$pkg]} from its upstream tarball alone, without Debian's patches ($debian_missing missing)"
  local orig comp
  mkdir -p "$dest"
  for orig in "$dir"/*.orig.tar.*; do
    case $orig in *.asc) continue ;; esac
    tar -xf "$orig" -C "$dest" --strip-components=1
  done
  for orig in "$dir"/*.orig-*.tar.*; do
    [ -e "$orig" ] || continue
    case $orig in *.asc) continue ;; esac
    comp=${orig##*.orig-}; comp=${comp%%.tar.*}
    mkdir -p "$dest/$comp" && tar -xf "$orig" -C "$dest/$comp" --strip-components=1
  done
}

# ---- Pieces ---------------------------------------------------------------------------
# Each recipe builds from $S (the unpacked source) in $B and installs into $P: headers in
# include/, libraries in lib/, licence files in licences/ (packed into the Windows zip).
# Dependencies' folders are in $DEPS (also the CMake find roots). Commands go through
# `run`, which logs them and their output.

run() {
  printf '+ %s\n' "$*" >>"$LOG"
  if ! "$@" >>"$LOG" 2>&1; then
    FAILED_COMMAND="$*"
    return 1
  fi
}

cmake_piece() {
  run cmake -S "$S" -B "$B" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$P" -DCMAKE_FIND_ROOT_PATH="$DEPS" -DCMAKE_INSTALL_LIBDIR=lib "$@" &&
  run cmake --build "$B" -j "$JOBS" &&
  run cmake --install "$B"
}

licence() {  # name, files...
  local name=$1 f; shift
  mkdir -p "$P/licences"
  for f in "$@"; do cp "$f" "$P/licences/$name-$(basename "$f")" || return 1; done
}

# zlib is the MinGW build Debian packages (libz-mingw-w64-dev); only its licence is kept here.
build_zlib() {
  local copyright
  copyright=$(dpkg -L libz-mingw-w64-dev | grep '/copyright$' | head -1) && licence zlib "$copyright"
}

build_imath() {
  cmake_piece -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DPYTHON=OFF -DIMATH_INSTALL_PKG_CONFIG=OFF &&
  licence imath "$S/LICENSE.md"
}

# Debian's c-blosc has its bundled codecs removed; lz4 comes from its own source package.
build_lz4() {
  run make -C "$S/lib" liblz4.a CC="${ccache[*]} $CC" AR="$AR" &&
  mkdir -p "$P/include" "$P/lib" &&
  cp "$S/lib/lz4.h" "$S/lib/lz4hc.h" "$S/lib/lz4frame.h" "$P/include/" && cp "$S/lib/liblz4.a" "$P/lib/" &&
  licence lz4 "$S/lib/LICENSE"
}

# Two fixes for MinGW: shuffle.c reads the XSAVE state (_xgetbv), which GCC compiles only
# with -mxsave ("target specific option mismatch"); and blosc's own Win32 pthread_create
# and pthread_cond_* (compiled into blosc.c) would clash at link time with winpthreads,
# which the posix MinGW runtime links, so they are renamed.
build_blosc() {
  local rename="" f
  for f in pthread_create pthread_cond_init pthread_cond_destroy pthread_cond_wait pthread_cond_signal \
           pthread_cond_broadcast; do rename+=" -D$f=blosc_win32_$f"; done
  cmake_piece -DBUILD_STATIC=ON -DBUILD_SHARED=OFF -DBUILD_TESTS=OFF -DBUILD_FUZZERS=OFF -DBUILD_BENCHMARKS=OFF \
    -DDEACTIVATE_SNAPPY=ON -DDEACTIVATE_ZSTD=ON -DPREFER_EXTERNAL_LZ4=ON -DPREFER_EXTERNAL_ZLIB=ON \
    -DCMAKE_C_FLAGS="-mxsave$rename" &&
  licence c-blosc "$S/LICENSES/BLOSC.txt" "$S/LICENSES/BITSHUFFLE.txt" "$S/LICENSES/FASTLZ.txt"
}

build_onetbb() {
  cmake_piece -DBUILD_SHARED_LIBS=OFF -DTBB_TEST=OFF -DTBB_EXAMPLES=OFF -DTBB_STRICT=OFF -DTBBMALLOC_BUILD=OFF \
    -DTBBMALLOC_PROXY_BUILD=OFF -DTBB_ENABLE_IPO=OFF &&
  licence onetbb "$S/LICENSE.txt" "$S/third-party-programs.txt"
}

# The Boost headers OpenVDB's core includes (delayed loading, which needs iostreams and
# interprocess, and the Python module are not built) with everything they include in
# turn, as the target compiler sees them, copied from the machine's /usr/include/boost.
build_boost() {
  local view=$B/view headers
  mkdir -p "$view" "$P/include" &&
  ln -sfn /usr/include/boost "$view/boost" &&
  headers=$(grep -rhoE '^\s*#\s*include\s*<boost/[^>]+>' "$S/openvdb/openvdb" --include=*.h --include=*.cc \
              --exclude-dir=python --exclude-dir=unittest | grep -oE 'boost/[^>]+' |
              grep -vE '^boost/(iostreams|interprocess|python)/' | sort -u) &&
  printf '#include <%s>\n' $headers >"$B/all.cpp" &&
  run "$CXX" -std=c++17 -DBOOST_ALL_NO_LIB -isystem "$view" -M -MF "$B/all.d" -c "$B/all.cpp" -o /dev/null &&
  # (GCC names them by the symbolic link's target.)
  tr ' \\' '\n\n' <"$B/all.d" | sed -E "s#^($view|/usr/include)/boost/#boost/#" | grep '^boost/' | sort -u \
    >"$B/headers.txt" &&
  (cd "$view" && xargs -a "$B/headers.txt" cp --parents -t "$P/include") &&
  licence boost "$(dpkg -L "$BOOST_PACKAGE" | grep '/copyright$' | head -1)" &&
  say "  $(wc -l <"$B/headers.txt") Boost headers"
}

# OpenVDB's core library alone, static. Explicit instantiation is off: with it,
# GridOperators.cc does not assemble for PE/COFF ("file too big", even with -mbig-obj).
# Half floats through Imath's half, as Debian's build has it. Without delayed loading
# OpenVDB's CMake does not look for Boost: the headers' folder goes on the compile line.
build_openvdb() {
  cmake_piece -DOPENVDB_BUILD_CORE=ON -DOPENVDB_CORE_STATIC=ON -DOPENVDB_CORE_SHARED=OFF \
    -DOPENVDB_BUILD_BINARIES=OFF -DOPENVDB_BUILD_PYTHON_MODULE=OFF -DOPENVDB_BUILD_UNITTESTS=OFF \
    -DOPENVDB_BUILD_DOCS=OFF -DOPENVDB_BUILD_AX=OFF -DOPENVDB_BUILD_NANOVDB=OFF -DUSE_AX=OFF -DUSE_NANOVDB=OFF \
    -DOPENVDB_USE_DELAYED_LOADING=OFF -DUSE_EXPLICIT_INSTANTIATION=OFF -DUSE_IMATH_HALF=ON -DUSE_BLOSC=ON \
    -DUSE_ZLIB=ON -DUSE_STATIC_DEPENDENCIES=ON -DOPENVDB_DISABLE_BOOST_IMPLICIT_LINKING=OFF -DUSE_CCACHE=OFF \
    -DOPENVDB_ENABLE_RPATH=OFF -DUSE_PKGCONFIG=OFF -DOPENVDB_INSTALL_CMAKE_MODULES=OFF \
    -DTBB_ROOT="$PIECE_DIR_onetbb" -DBlosc_ROOT="$PIECE_DIR_blosc" -DImath_ROOT="$PIECE_DIR_imath" \
    -DCMAKE_CXX_FLAGS="-isystem $PIECE_DIR_boost/include -DBOOST_ALL_NO_LIB -D_USE_MATH_DEFINES -DNOMINMAX -Wa,-mbig-obj" &&
  licence openvdb "$S/LICENSE"
}

# What the key covers besides the source version: the cross toolchain and the toolchain file.
TOOLCHAIN_ID=$(dpkg-query -W -f='${Package}=${Version}\n' g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
                 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 libz-mingw-w64-dev 2>/dev/null
               sha256sum "$TOOLCHAIN" | cut -d' ' -f1; cmake --version | head -1)

declare -A PIECE_KEY PIECE_OK
# piece <name> <source package or "-"> <version> <deps...>: builds it unless cached;
# sets PIECE_DIR_<name> and PIECE_OK[name].
piece() {
  local name=$1 pkg=$2 version=$3; shift 3
  local deps=("$@") d key depdirs=""
  for d in "${deps[@]}"; do
    if [ "${PIECE_OK[$d]:-}" != 1 ]; then
      say "SKIPPED: $name, since $d could not be built"
      PIECE_OK[$name]=0
      return 0
    fi
    depdirs+="${depdirs:+;}$(eval echo "\$PIECE_DIR_$d")"
  done
  key=$( { echo "$TOOLCHAIN_ID"; echo "$name $version"; declare -f "build_$name" run cmake_piece licence
           for d in "${deps[@]}"; do echo "${PIECE_KEY[$d]}"; done; } | sha256sum | cut -c1-12)
  PIECE_KEY[$name]=$key
  local dir=$CACHE/$name-$version-$key
  eval "PIECE_DIR_$name=\$dir"
  if [ -f "$dir/.complete" ]; then
    say "$name $version: cached ($dir)"
    PIECE_OK[$name]=1
    return 0
  fi
  say "$name $version: building"
  local started=$SECONDS
  mkdir -p "$CACHE/build" "$CACHE/logs"
  S=$CACHE/build/$name-src B=$CACHE/build/$name P=$dir.part DEPS=$depdirs LOG=$CACHE/logs/$name.log
  FAILED_COMMAND=""
  rm -rf "$B" "$P" "$dir" && : >"$LOG"
  if [ "$pkg" != - ] && ! fetch_source "$pkg" "$S"; then
    say "FAILED: $name: the source package $pkg could not be fetched or unpacked (log: $LOG)"
    PIECE_OK[$name]=0
    return 0
  fi
  if ! "build_$name"; then
    rm -rf "$P"
    say "FAILED: $name could not be built for the target."
    [ -n "$FAILED_COMMAND" ] && say "  command: $FAILED_COMMAND"
    say "  its output (the end of $LOG):"
    tail -25 "$LOG" | sed 's/^/    /' >&2
    PIECE_OK[$name]=0
    return 0
  fi
  touch "$P/.complete"
  mv "$P" "$dir"
  rm -rf "$B" "$S"
  say "$name $version: built in $((SECONDS - started)) s"
  PIECE_OK[$name]=1
}

started=$SECONDS
apt_sources
for pkg in imath lz4 c-blosc onetbb openvdb; do source_files "$pkg"; done
# The Boost headers are the machine's (libboost-dev): their package and version.
BOOST_PACKAGE=$(dpkg -S /usr/include/boost/version.hpp 2>/dev/null | cut -d: -f1) ||
  die "the Boost headers are missing (/usr/include/boost): install libboost-dev"
BOOST_VERSION=$(dpkg-query -W -f='${Version}' "$BOOST_PACKAGE")

piece zlib - "$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)"
piece imath imath "${SRC_VERSION[imath]}"
piece lz4 lz4 "${SRC_VERSION[lz4]}"
piece blosc c-blosc "${SRC_VERSION[c-blosc]}" lz4
piece onetbb onetbb "${SRC_VERSION[onetbb]}"
piece boost openvdb "$BOOST_VERSION-openvdb-${SRC_VERSION[openvdb]}"
piece openvdb openvdb "${SRC_VERSION[openvdb]}" imath lz4 blosc onetbb boost

# The initial cache for the Windows build.
{
  echo "# Written by scripts/build-windows-stack.sh: the Windows stack's pieces."
  licences=""
  for p in zlib imath lz4 blosc onetbb boost openvdb; do
    [ "${PIECE_OK[$p]}" = 1 ] && licences+="${licences:+;}$(eval echo "\$PIECE_DIR_$p")/licences"
  done
  echo "set(NEB_WIN_LICENCE_DIRS \"$licences\" CACHE STRING \"\" FORCE)"
  if [ "${PIECE_OK[openvdb]}" = 1 ]; then
    echo "set(NEB_WIN_OPENVDB_STACK \"$PIECE_DIR_openvdb;$PIECE_DIR_onetbb;$PIECE_DIR_blosc;$PIECE_DIR_lz4;$PIECE_DIR_imath;$PIECE_DIR_boost\" CACHE STRING \"\" FORCE)"
    echo "set(NEB_BUILD_VOLCONVERT ON CACHE BOOL \"\" FORCE)"
    echo "set(NEB_BUILD_VDBPORT ON CACHE BOOL \"\" FORCE)"
  else
    echo "set(NEB_WIN_OPENVDB_STACK \"\" CACHE STRING \"\" FORCE)"
    echo "set(NEB_BUILD_VOLCONVERT OFF CACHE BOOL \"\" FORCE)"
    echo "set(NEB_BUILD_VDBPORT OFF CACHE BOOL \"\" FORCE)"
  fi
} >"$OUT"
say "done in $((SECONDS - started)) s"
# 3: a piece is missing (said above); the file names what was built.
for p in zlib imath lz4 blosc onetbb boost openvdb; do [ "${PIECE_OK[$p]}" = 1 ] || exit 3; done
