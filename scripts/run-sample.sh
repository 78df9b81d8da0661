#!/usr/bin/env bash
# The main job: installs what is missing, builds neb2vdb, volconvert and the sample writer
# (Release), writes a short smoke-plume cache sequence, converts it to OpenVDB files with
# neb2vdb (progress on the terminal), converts it once more with volconvert and prints the
# sizes of both side by side; then prints how to render a preview of it in Blender.
#
#   bash scripts/run-sample.sh            # 10 frames of 64^3 into build/sample/
#   FRAMES=24 RES=128 bash scripts/run-sample.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
FRAMES=${FRAMES:-10}
RES=${RES:-64}
BUILD=${BUILD:-build/release}
OUT=build/sample
JOBS=${JOBS:-$(nproc)}

bash scripts/install-deps.sh

echo "== Building neb2vdb, volconvert and nebsample (Release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target neb2vdb volconvert nebsample

mkdir -p "$OUT/volconvert"
rm -f "$OUT"/plume_*.neb "$OUT"/plume_*.vdb "$OUT"/volconvert/plume_*.vdb

echo "== Writing $FRAMES frames of ${RES}^3 into $OUT"
"$BUILD/tools/nebsample/nebsample" -out "$OUT/plume_####.neb" -frames "$FRAMES" -res "$RES"

last=$((FRAMES - 1))
echo "== Converting to OpenVDB with neb2vdb"
status=0
"$BUILD/tools/neb2vdb/neb2vdb" "$OUT/plume_####.neb" "$OUT/plume_####.vdb" --frames "0-$last" || status=$?

echo "== The same frames with volconvert, for comparison (into $OUT/volconvert)"
"$BUILD/tools/volconvert/volconvert" -silent -srcfile "$OUT/plume_####.neb" \
  -dstfile "$OUT/volconvert/plume_####.vdb" -start 0 -end "$last"

echo "== Bytes per frame"
printf '%-16s %12s %12s %12s %7s\n' frame cache neb2vdb volconvert ratio
size() { if [ -f "$1" ]; then stat -c %s "$1"; else echo 0; fi; }
for ((f = 0; f < FRAMES; f++)); do
  name=$(printf 'plume_%04d' "$f")
  neb=$(size "$OUT/$name.neb")
  n2v=$(size "$OUT/$name.vdb")
  vc=$(size "$OUT/volconvert/$name.vdb")
  ratio=$(awk -v a="$vc" -v b="$n2v" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else print "-" }')
  printf '%-16s %12s %12s %12s %7s\n' "$name" "$neb" "$n2v" "$vc" "$ratio"
done

if command -v vdb_print >/dev/null; then
  echo "== vdb_print $OUT/plume_0000.vdb"
  vdb_print "$OUT/plume_0000.vdb" || true
fi
echo "== A picture in Blender (Z-up, Blender's names), a few frames side by side:"
echo "   $BUILD/tools/neb2vdb/neb2vdb -q --preset blender --frames 0-$last $OUT/plume_####.neb $OUT/blender/plume_####.vdb"
echo "   bash scripts/render-preview.sh $OUT/blender/plume_0000.vdb $OUT/preview.png"
converted=$(ls "$OUT"/plume_*.vdb 2>/dev/null | wc -l)
echo "== $converted of $FRAMES frames converted by neb2vdb into $OUT"
[ "$status" -eq 0 ] && [ "$converted" -eq "$FRAMES" ]
