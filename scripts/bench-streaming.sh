#!/usr/bin/env bash
# Memory and time of converting and checking one large frame: frame 5 of the sample plume
# at each grid size, written by nebsample, converted by neb2vdb (--jobs 1; at 256^3 also
# --jobs 2) and checked by nebinfo --check, each under /usr/bin/time -v. Prints one table
# row per conversion: peak RSS, wall/user/system time, time per cell, output size, the
# in-memory size of the output's trees with every leaf read (VdbTreeMemory) and the RSS
# above it. Frames and outputs go to a temporary folder that is removed at the end.
#
#   bash scripts/bench-streaming.sh                   # 256, 512 and 1024
#   bash scripts/bench-streaming.sh 256 512
#   bash scripts/bench-streaming.sh --no-convert 1024 # write the frame only (nebsample)
#
# Not part of CI: 1024^3 takes minutes, ~3 GB of cache and several GB of VDB on disk.
# Environment:
#   NEB_BUILD_DIR   a build folder holding the tools and bench/volconvert/VdbTreeMemory
#                   (used as it is); default: build them into build/release
#   NEB_BENCH_DIR   where the temporary folder goes (default ${TMPDIR:-/tmp})
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
}

convert=1
sizes=()
for arg in "$@"; do
  case "$arg" in
    --no-convert) convert=0 ;;
    -h | --help) usage; exit 0 ;;
    *)
      if ! [[ "$arg" =~ ^[0-9]+$ ]] || [ "$arg" -lt 8 ] || [ "$arg" -gt 1024 ]; then
        echo "bench-streaming.sh: a size is a number of cells per side, 8..1024: $arg" >&2
        exit 2
      fi
      sizes+=("$arg") ;;
  esac
done
[ ${#sizes[@]} -gt 0 ] || sizes=(256 512 1024)
[ -x /usr/bin/time ] || { echo "bench-streaming.sh: needs /usr/bin/time (Debian package time)" >&2; exit 1; }

if [ -n "${NEB_BUILD_DIR:-}" ]; then
  BUILD=$NEB_BUILD_DIR
else
  BUILD=build/release
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  echo "== Building nebsample, neb2vdb, nebinfo and VdbTreeMemory (Release) in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build "$BUILD" -j "$(nproc)" --target nebsample neb2vdb nebinfo VdbTreeMemory >/dev/null
fi
NEBSAMPLE=$BUILD/tools/nebsample/nebsample
NEB2VDB=$BUILD/tools/neb2vdb/neb2vdb
NEBINFO=$BUILD/tools/nebinfo/nebinfo
TREEMEM=$BUILD/bench/volconvert/VdbTreeMemory
for tool in "$NEBSAMPLE" "$NEB2VDB" "$NEBINFO" "$TREEMEM"; do
  [ -x "$tool" ] || { echo "bench-streaming.sh: $tool is missing" >&2; exit 1; }
done

WORK=$(mktemp -d "${NEB_BENCH_DIR:-${TMPDIR:-/tmp}}/neb_bench_streaming_XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# Runs a command under /usr/bin/time -v; its output to $WORK/out.log, the figures to
# $WORK/time.log. Stops the script when the command fails.
timed() {
  if ! /usr/bin/time -v -o "$WORK/time.log" "$@" >"$WORK/out.log" 2>&1; then
    echo "bench-streaming.sh: failed: $*" >&2
    tail -n 20 "$WORK/out.log" >&2
    exit 1
  fi
}
# One figure of the last timed run: rss (MiB), wall, user, sys (seconds).
figure() {
  awk -v want="$1" '
    /Maximum resident set size/ { rss = $NF / 1024 }
    /User time/ { user = $NF }
    /System time/ { sys = $NF }
    /Elapsed \(wall clock\)/ {
      n = split($NF, p, ":"); wall = 0
      for (i = 1; i <= n; ++i) wall = wall * 60 + p[i]
    }
    END {
      if (want == "rss") printf "%.0f", rss
      else if (want == "wall") printf "%.2f", wall
      else if (want == "user") printf "%.2f", user
      else printf "%.2f", sys
    }' "$WORK/time.log"
}
mib() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1048576 }'; }
bytes() { stat -c %s "$1"; }

echo "== Frame 5 of the sample plume; work folder $WORK ($(df -h --output=avail "$WORK" | tail -1 | tr -d ' ') free)"
written=()
rows=()
for n in "${sizes[@]}"; do
  frame=$WORK/plume_0005.neb
  timed "$NEBSAMPLE" --start 5 --frames 1 --res "$n" --out "$WORK/plume_####.neb"
  cache=$(bytes "$frame")
  written+=("$(printf '%-6s %10s %10s %8s' "${n}^3" "$(mib "$cache")" "$(figure rss)" "$(figure wall)")")
  if [ "$convert" = 1 ]; then
    cells=$((n * n * n))
    timed "$NEBINFO" --check "$frame"
    info_rss=$(figure rss) info_wall=$(figure wall)
    jobs=(1)
    [ "$n" = 256 ] && jobs=(1 2)
    for j in "${jobs[@]}"; do
      out=$WORK/plume_j$j.vdb
      timed "$NEB2VDB" -q --jobs "$j" "$frame" "$out"
      rss=$(figure rss) wall=$(figure wall)
      trees=$("$TREEMEM" "$out" | awk '$1 == "total" { print $2 }')
      rows+=("$(printf '%-6s %4s %9s %9s %8s %8s %8s %8s %9s %9s %9s %9s %9s' "${n}^3" "$j" \
        "$(mib "$cache")" "$rss" "$wall" "$(figure user)" "$(figure sys)" \
        "$(awk -v w="$wall" -v c="$cells" 'BEGIN { printf "%.1f", w * 1e9 / c }')" \
        "$(mib "$(bytes "$out")")" "$(mib "$trees")" "$((rss - $(mib "$trees")))" "$info_rss" "$info_wall")")
      rm -f "$out"
    done
  fi
  rm -f "$frame"
done

echo
echo "Writing the frame (nebsample)"
printf '%-6s %10s %10s %8s\n' grid "cache MiB" "RSS MiB" "wall s"
printf '%s\n' "${written[@]}"
if [ "$convert" = 1 ]; then
  echo
  echo "Converting (neb2vdb) and checking (nebinfo --check); MiB, seconds, ns per cell of wall time"
  printf '%-6s %4s %9s %9s %8s %8s %8s %8s %9s %9s %9s %9s %9s\n' grid jobs "cache" "RSS" "wall" "user" "sys" \
    "ns/cell" "output" "trees" "RSS-trees" "chk RSS" "chk wall"
  printf '%s\n' "${rows[@]}"
fi
