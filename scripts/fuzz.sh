#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with AddressSanitizer and UndefinedBehaviorSanitizer
# in build/fuzz, writes their seed corpora with the project's own writers and runs every
# target for SECONDS (default 60), FUZZ_PARALLEL (default 2) at a time. Fails on any
# finding and prints the input that caused it; such an input belongs in
# tests/fuzz/regressions/<target>/, which the ordinary test suite replays.
#
# Corpora: build/fuzz/seeds/<target> (regenerated on every run, read only),
# tests/fuzz/regressions/<target> (read only) and the working corpus
# build/fuzz/corpus/<target>, which keeps what the runs found and grows from run to run.
#
# FUZZ_TARGETS="frame paths" runs only the named targets.
#
# Memory: the runs set NEB_MEMORY_LIMIT_MB (FUZZ_MEMORY_LIMIT_MB, default 64), the
# library's process-wide budget: the total of the bytes it holds (ostutils/MemoryLimit.h).
# Requests within it are legitimate, and a small budget keeps runs fast: a few bytes of
# constant zone may claim a channel of any size, and filling it teaches the fuzzer nothing.
# The sanitizer refuses single requests above the budget, and the library refuses every
# request past it and fails cleanly (the budget's own path is fuzzed too), so libFuzzer
# counts a process above the budget plus FUZZ_RSS_SLACK_MB (default 1024) as a finding.
# The frame target sets a lower budget of its own (fuzz/FrameFuzz.cpp) and reports every
# input slower than a second. The OpenVDB target runs under FUZZ_VDB_MEMORY_LIMIT_MB
# (default 4) for the same reason (see below).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECS=${1:-60}
JOBS=${JOBS:-$(nproc)}
PARALLEL=${FUZZ_PARALLEL:-2}
LIMIT_MB=${FUZZ_MEMORY_LIMIT_MB:-64}
RSS_SLACK_MB=${FUZZ_RSS_SLACK_MB:-1024}
BUILD=$ROOT/build/fuzz

bash scripts/install-deps.sh

echo "== Building the fuzz targets in build/fuzz"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# The sanitizer runtime is the shared one: libnebloader.so and the plug-in are linked with
# --no-undefined, and the OpenVDB target's operator new must interpose on the runtime's.
runtime=$(clang -print-resource-dir)/lib/linux
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DNEB_BUILD_FUZZ=ON -DNEB_SANITIZE=address \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_SHARED_LINKER_FLAGS=-shared-libasan -DCMAKE_MODULE_LINKER_FLAGS=-shared-libasan \
  "-DCMAKE_EXE_LINKER_FLAGS=-shared-libasan -Wl,-rpath,$runtime" \
  -DNEB_BUILD_TESTS=OFF -DNEB_BUILD_BENCH=OFF -DNEB_BUILD_PYTHON=OFF -DNEB_BUILD_VOLCONVERT=OFF >/dev/null
cmake --build "$BUILD" --target neb_fuzz -j "$JOBS"
# libFuzzer's driver puts libstdc++ before the runtime in the executables' library list; the
# runtime has to come first to replace malloc and operator new everywhere.
PRELOAD=$runtime/libclang_rt.asan-x86_64.so

echo "== Writing the seed corpora"
rm -rf "$BUILD/seeds"
LD_PRELOAD=$PRELOAD ASAN_OPTIONS=detect_leaks=0 "$BUILD/fuzz/neb_fuzz_make_seeds" "$BUILD/seeds"
if [ -x "$BUILD/fuzz/neb_fuzz_make_vdb_seeds" ]; then
  LD_PRELOAD=$PRELOAD ASAN_OPTIONS=detect_leaks=0 "$BUILD/fuzz/neb_fuzz_make_vdb_seeds" "$BUILD/seeds"
fi
if [ -x "$BUILD/fuzz/neb_fuzz_make_f3d_seeds" ]; then
  # Field3D: files the seed writer makes, and the sample files Field3D itself wrote.
  "$BUILD/fuzz/neb_fuzz_make_f3d_seeds" "$BUILD/seeds"
  cp "$ROOT"/tests/plugins/f3dport/data/*.f3d "$BUILD/seeds/f3dport/"
fi

targets=()
for exe in "$BUILD"/fuzz/neb_fuzz_*; do
  name=$(basename "$exe")
  name=${name#neb_fuzz_}
  case $name in make_seeds | make_vdb_seeds | make_f3d_seeds) continue ;; esac
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  targets+=("$name")
done

export NEB_MEMORY_LIMIT_MB=$LIMIT_MB
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
LOGS=$BUILD/logs
mkdir -p "$LOGS"

run_target() {  # name
  local name=$1 corpus=$BUILD/corpus/$1 findings=$BUILD/findings/$1
  mkdir -p "$corpus" "$findings"
  local dirs=("$corpus")
  [ -d "$BUILD/seeds/$name" ] && dirs+=("$BUILD/seeds/$name")
  [ -d "$ROOT/tests/fuzz/regressions/$name" ] && dirs+=("$ROOT/tests/fuzz/regressions/$name")
  local leaks=1 extra=(-timeout=30) limit=$LIMIT_MB sanitizerLimit=$LIMIT_MB rc=0 forked=0 rssFactor=1
  if [ "$name" = channel_mappings ]; then
    # Every path of the text parser is reached within a few entries, and the longest text
    # that matters is a name just over the largest output buffer the target offers (247
    # bytes). Longer texts only made each input slower: at 2 KiB the rate fell below half.
    extra+=(-max_len=512)
  fi
  if [ "$name" = frame ]; then
    # "Slowest unit" lines in the log name any input that took a second or more.
    extra+=(-report_slow_units=1)
  fi
  if [ "$name" = vdbport ]; then
    # OpenVDB's reader leaks the node it was reading when a tree is cut short, and some
    # damaged counts keep it reading a stream that has ended for minutes or building trees
    # of gigabytes: inputs run in child processes, and such a timeout or memory bound
    # (always inside OpenVDB's own reader) is counted and the run goes on. Crashes still
    # end the run.
    # The library's limit is 4 MiB (a 100^3 float channel, far above every seed): the
    # plug-in fills whole channels at the box the file claims, and OpenVDB's buffers sized
    # by the stream are refused above 32 MiB (libFuzzer itself needs single blocks of 20).
    # OpenVDB's own trees are outside the library's budget: the process bound allows 32
    # budgets of them.
    leaks=0
    rssFactor=32
    limit=${FUZZ_VDB_MEMORY_LIMIT_MB:-4}
    sanitizerLimit=$((limit > 32 ? limit : 32))
    extra=(-timeout=10 -fork=1 -ignore_timeouts=1)
    forked=1
  fi
  NEB_MEMORY_LIMIT_MB=$limit \
  LD_PRELOAD=$PRELOAD ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=$sanitizerLimit:detect_leaks=$leaks:detect_odr_violation=0 \
    "$BUILD/fuzz/neb_fuzz_$name" -max_total_time="$SECS" "${extra[@]}" -detect_leaks=$leaks \
      -rss_limit_mb=$((rssFactor * limit + RSS_SLACK_MB)) -malloc_limit_mb=$((rssFactor * limit + RSS_SLACK_MB)) \
      -print_final_stats=1 -artifact_prefix="$findings/" "${dirs[@]}" >"$LOGS/$name.log" 2>&1 || rc=$?
  # In fork mode libFuzzer exits with the code of the last child it ran, even when that
  # child's timeout (70) or memory bound (71) was one it was told to ignore: a run whose
  # last input happened to be such a case looked like a finding. A child that really
  # failed stops the run and has its log copied into ours.
  if [ "$forked" = 1 ] && { [ "$rc" = 70 ] || [ "$rc" = 71 ]; } &&
     ! grep -q 'log from the inner process' "$LOGS/$name.log"; then
    rc=0
  fi
  return "$rc"
}

echo "== Running ${#targets[@]} targets for ${SECS}s each, $PARALLEL at a time (NEB_MEMORY_LIMIT_MB=$LIMIT_MB)"
declare -A status
running=()
for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$PARALLEL" ]; do wait -n || true; done
  echo "   $name"
  (run_target "$name"; echo $? >"$LOGS/$name.rc") || true &
done
wait || true

failed=0
printf '%-18s %14s %8s %8s  %s\n' target executions cov ft result
for name in "${targets[@]}"; do
  log=$LOGS/$name.log
  rc=$(cat "$LOGS/$name.rc" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  line=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
  [ -n "$execs" ] || execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$line")
  result=ok
  ignored=$(sed -n 's/.*oom\/timeout\/crash: \([0-9]*\)\/\([0-9]*\)\/.*/\1 over the memory bound, \2 timed out/p' <<<"$line")
  [ -n "$ignored" ] && result="ok (inside OpenVDB's reader: $ignored)"
  if [ "$rc" != 0 ]; then
    result="FINDING (exit $rc)"
    failed=1
  fi
  printf '%-18s %14s %8s %8s  %s\n' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
for name in "${targets[@]}"; do
  # Inputs of a second or more (reported by the targets run with -report_slow_units=1).
  grep -h '^Slowest unit:' "$LOGS/$name.log" 2>/dev/null | sed "s/^/   $name: /" | tail -3 || true
done
if [ "$failed" != 0 ]; then
  for name in "${targets[@]}"; do
    [ "$(cat "$LOGS/$name.rc" 2>/dev/null || echo 1)" = 0 ] && continue
    echo "---- $name (log: $LOGS/$name.log)"
    grep -E 'ERROR: |SUMMARY: |runtime error|Test unit written to|==[0-9]+== ' "$LOGS/$name.log" | head -20 || true
    sed -n 's/.*Test unit written to \(.*\/[a-z]*-[0-9a-f]*\)$/failing input: \1/p' "$LOGS/$name.log" | grep -v /slow-unit- || true
  done
  echo "Fuzzing found faults: add each crashing input to tests/fuzz/regressions/<target>/ and fix the reader." >&2
  exit 1
fi
echo "Fuzzing found nothing."
