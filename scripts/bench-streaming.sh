#!/usr/bin/env bash
# Memory and time of converting with neb2vdb, beside a baseline neb2vdb in the same run:
# frame 5 of the sample plume at each grid size, written by nebsample, converted with
# --jobs 1 and with --jobs 2 and checked by nebinfo --check; then a 10-frame 256^3
# sequence converted with --jobs 2. Each conversion runs under /usr/bin/time -v, the
# baseline's right before ours. Prints per run the peak RSS, wall/user/system time, time
# per cell, output size, the in-memory size of the output's trees with every leaf read
# (VdbTreeMemory) and the RSS above it; then the ratios of wall times, whether the two
# tools wrote the same files (UUID aside), and the load average before and after (timing
# wants a quiet machine). Frames, outputs and the baseline's build go to a temporary
# folder that is removed at the end.
#
#   bash scripts/bench-streaming.sh                        # 256, 512 and 1024, no baseline
#   bash scripts/bench-streaming.sh --baseline 82974ff 256 512
#   bash scripts/bench-streaming.sh --no-convert 1024      # write the frame only (nebsample)
#
# Options:
#   --baseline REV   build neb2vdb at git revision REV (a temporary worktree of this
#                    checkout, Release, ccache when installed) and run it beside ours
#   --repeat N       run each conversion N times (alternating with the baseline's) and
#                    keep the fastest of each
#   --no-sequence    leave out the 10-frame sequence
#   --no-convert     only write the frames
#
# Not part of CI: 1024^3 takes minutes, ~3 GB of cache and several GB of VDB on disk.
# Environment:
#   NEB_BUILD_DIR       a build folder holding the tools and bench/volconvert/VdbTreeMemory
#                       (used as it is); default: build them into build/release
#   NEB_BASELINE_TOOL   a baseline neb2vdb to run as it is (instead of --baseline)
#   NEB_BENCH_DIR       where the temporary folder goes (default ${TMPDIR:-/tmp})
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
}
die() {
  echo "bench-streaming.sh: $*" >&2
  exit 2
}

convert=1
sequence=1
repeat=1
baseline_rev=
sizes=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-convert) convert=0 ;;
    --no-sequence) sequence=0 ;;
    --baseline) [ $# -ge 2 ] || die "--baseline needs a revision"; baseline_rev=$2; shift ;;
    --repeat)
      [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]?$ ]] || die "--repeat needs a count, 1..99"
      repeat=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    *)
      if ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 8 ] || [ "$1" -gt 1024 ]; then
        die "a size is a number of cells per side, 8..1024: $1"
      fi
      sizes+=("$1") ;;
  esac
  shift
done
[ ${#sizes[@]} -gt 0 ] || sizes=(256 512 1024)
[ -x /usr/bin/time ] || { echo "bench-streaming.sh: needs /usr/bin/time (Debian package time)" >&2; exit 1; }
[ -z "$baseline_rev" ] || [ -z "${NEB_BASELINE_TOOL:-}" ] || die "--baseline and NEB_BASELINE_TOOL exclude each other"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ -n "${NEB_BUILD_DIR:-}" ]; then
  BUILD=$NEB_BUILD_DIR
else
  BUILD=build/release
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
BASE_SRC=
cleanup() {
  [ -z "$BASE_SRC" ] || git -C "$ROOT" worktree remove --force "$BASE_SRC" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

BASELINE=${NEB_BASELINE_TOOL:-}
if [ -n "$baseline_rev" ]; then
  BASE_SRC=$WORK/baseline
  echo "== Building the baseline neb2vdb at $baseline_rev (a temporary worktree in $WORK)"
  git -C "$ROOT" worktree add --detach "$BASE_SRC" "$baseline_rev" >/dev/null 2>&1 ||
    { echo "bench-streaming.sh: cannot check out $baseline_rev" >&2; exit 1; }
  cmake -S "$BASE_SRC" -B "$BASE_SRC/build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  CCACHE_BASEDIR=$BASE_SRC cmake --build "$BASE_SRC/build" -j "$(nproc)" --target neb2vdb >/dev/null
  BASELINE=$BASE_SRC/build/tools/neb2vdb/neb2vdb
fi
[ -z "$BASELINE" ] || [ -x "$BASELINE" ] || { echo "bench-streaming.sh: $BASELINE is missing" >&2; exit 1; }
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Runs a command under /usr/bin/time -v; its output to $WORK/out.log, the figures to
# $1 (a file). Stops the script when the command fails.
timed() {
  local log=$1; shift
  if ! /usr/bin/time -v -o "$log" "$@" >"$WORK/out.log" 2>&1; then
    echo "bench-streaming.sh: failed: $*" >&2
    tail -n 20 "$WORK/out.log" >&2
    exit 1
  fi
}
# One figure of a /usr/bin/time -v log: rss (MiB), wall, user, sys (seconds).
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
    }' "$2"
}
mib() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1048576 }'; }
bytes() { stat -c %s "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else printf "-" }'; }
# Whether two OpenVDB files hold the same bytes apart from the UUID (bytes 21..56).
same_vdb() {
  [ "$(bytes "$1")" = "$(bytes "$2")" ] && cmp -s -n 21 "$1" "$2" && cmp -s -i 57 "$1" "$2"
}

# convert LABEL TOOL... : runs `TOOL... ARGS` for ours and the baseline's `repeat` times,
# alternating, and keeps the log of the fastest run of each in $WORK/ours.log and
# $WORK/base.log. The arguments follow a "--" in ARGS; "{out}" in them is replaced by the
# output name (ours: out, the baseline's: base), without extension.
best() {  # log candidate: keeps the faster of the two in log
  if [ ! -f "$1" ] || awk -v a="$(figure wall "$2")" -v b="$(figure wall "$1")" 'BEGIN { exit !(a < b) }'; then
    mv "$2" "$1"
  else
    rm -f "$2"
  fi
}
convert() {
  rm -f "$WORK/ours.log" "$WORK/base.log"
  local r args
  for ((r = 0; r < repeat; ++r)); do
    if [ -n "$BASELINE" ]; then
      args=("${@//\{out\}/base}")
      timed "$WORK/try.log" "$BASELINE" "${args[@]}"
      best "$WORK/base.log" "$WORK/try.log"
    fi
    args=("${@//\{out\}/out}")
    timed "$WORK/try.log" "$NEB2VDB" "${args[@]}"
    best "$WORK/ours.log" "$WORK/try.log"
  done
}
# row LOG TOOL SIZE JOBS CELLS CACHE OUTPUT...: one table row.
row() {
  local log=$1 tool=$2 size=$3 jobs=$4 cells=$5 cache=$6; shift 6
  local rss wall out=0 trees
  rss=$(figure rss "$log") wall=$(figure wall "$log")
  for f in "$@"; do out=$((out + $(bytes "$f"))); done
  trees=$("$TREEMEM" "$@" | awk '$1 == "total" { print $2 }')
  printf '%-10s %-5s %4s %9s %9s %8s %8s %8s %8s %9s %9s %9s\n' "$size" "$tool" "$jobs" \
    "$(mib "$cache")" "$rss" "$wall" "$(figure user "$log")" "$(figure sys "$log")" \
    "$(awk -v w="$wall" -v c="$cells" 'BEGIN { printf "%.1f", w * 1e9 / c }')" \
    "$(mib "$out")" "$(mib "$trees")" "$((rss - $(mib "$trees")))"
}

echo "== Frame 5 of the sample plume; work folder $WORK ($(df -h --output=avail "$WORK" | tail -1 | tr -d ' ') free)"
written=()
rows=()
ratios=()
sameness=()
for n in "${sizes[@]}"; do
  frame=$WORK/plume_0005.neb
  timed "$WORK/time.log" "$NEBSAMPLE" --start 5 --frames 1 --res "$n" --out "$WORK/plume_####.neb"
  cache=$(bytes "$frame")
  written+=("$(printf '%-6s %10s %10s %8s' "${n}^3" "$(mib "$cache")" "$(figure rss "$WORK/time.log")" "$(figure wall "$WORK/time.log")")")
  if [ "$convert" = 1 ]; then
    timed "$WORK/time.log" "$NEBINFO" --check "$frame"
    written[-1]+=$(printf ' %9s %9s' "$(figure rss "$WORK/time.log")" "$(figure wall "$WORK/time.log")")
    declare -A wall=()
    for j in 1 2; do
      convert -q --jobs "$j" "$frame" "$WORK/{out}.vdb"
      if [ -n "$BASELINE" ]; then
        rows+=("$(row "$WORK/base.log" base "${n}^3" "$j" $((n * n * n)) "$cache" "$WORK/base.vdb")")
        wall[base$j]=$(figure wall "$WORK/base.log")
        same_vdb "$WORK/out.vdb" "$WORK/base.vdb" && s=same || s=DIFFERENT
        sameness+=("${n}^3 --jobs $j: $s")
        rm -f "$WORK/base.vdb"
      fi
      rows+=("$(row "$WORK/ours.log" ours "${n}^3" "$j" $((n * n * n)) "$cache" "$WORK/out.vdb")")
      wall[ours$j]=$(figure wall "$WORK/ours.log")
      rm -f "$WORK/out.vdb"
    done
    ratios+=("$(printf '%-7s --jobs 2 over --jobs 1: ours %s' "${n}^3" "$(ratio "${wall[ours1]}" "${wall[ours2]}")")")
    if [ -n "$BASELINE" ]; then
      ratios[-1]+=", baseline $(ratio "${wall[base1]}" "${wall[base2]}")"
      ratios+=("$(printf '%-7s baseline over ours: --jobs 1 %s, --jobs 2 %s' "${n}^3" \
        "$(ratio "${wall[base1]}" "${wall[ours1]}")" "$(ratio "${wall[base2]}" "${wall[ours2]}")")")
    fi
  fi
  rm -f "$frame"
done

if [ "$convert" = 1 ] && [ "$sequence" = 1 ]; then
  echo "== A 10-frame 256^3 sequence"
  seq=$WORK/seq
  mkdir -p "$seq"
  timed "$WORK/time.log" "$NEBSAMPLE" --frames 10 --res 256 --out "$seq/plume_####.neb"
  cache=0
  for f in "$seq"/plume_*.neb; do cache=$((cache + $(bytes "$f"))); done
  convert -q --jobs 2 --frames 0-9 "$seq/plume_####.neb" "$seq/{out}_####.vdb"
  if [ -n "$BASELINE" ]; then
    rows+=("$(row "$WORK/base.log" base "10x256^3" 2 $((10 * 256 * 256 * 256)) "$cache" "$seq"/base_*.vdb)")
    s=same
    for f in "$seq"/out_*.vdb; do same_vdb "$f" "${f/out_/base_}" || s=DIFFERENT; done
    sameness+=("10 frames 256^3 --jobs 2: $s")
    ratios+=("10x256^3 --jobs 2, baseline over ours: $(ratio "$(figure wall "$WORK/base.log")" "$(figure wall "$WORK/ours.log")")")
  fi
  rows+=("$(row "$WORK/ours.log" ours "10x256^3" 2 $((10 * 256 * 256 * 256)) "$cache" "$seq"/out_*.vdb)")
  rm -rf "$seq"
fi

echo
echo "Writing the frame (nebsample) and checking it (nebinfo --check); MiB, seconds"
printf '%-6s %10s %10s %8s %9s %9s\n' grid "cache MiB" "RSS MiB" "wall s" "chk RSS" "chk wall"
printf '%s\n' "${written[@]}"
if [ "$convert" = 1 ]; then
  echo
  echo "Converting (neb2vdb$([ -z "$BASELINE" ] || echo "; base: $BASELINE")); MiB, seconds, ns per cell of wall time$([ "$repeat" = 1 ] || echo ", fastest of $repeat")"
  printf '%-10s %-5s %4s %9s %9s %8s %8s %8s %8s %9s %9s %9s\n' grid tool jobs cache RSS wall user sys \
    ns/cell output trees RSS-trees
  printf '%s\n' "${rows[@]}"
  echo
  echo "Wall time ratios (higher is faster)"
  printf '  %s\n' "${ratios[@]}"
  if [ ${#sameness[@]} -gt 0 ]; then
    echo "Output files of ours and the baseline (UUID aside)"
    printf '  %s\n' "${sameness[@]}"
  fi
fi
echo
echo "Load average (1, 5, 15 min): before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) CPUs"
