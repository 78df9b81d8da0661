#!/usr/bin/env bash
# The main job: installs what is missing, builds volconvert and the sample writer
# (Release), writes a short smoke-plume cache sequence and converts it to OpenVDB files,
# showing the converter's progress.
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

echo "== Building volconvert and nebsample (Release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target volconvert nebsample

mkdir -p "$OUT"
rm -f "$OUT"/plume_*.neb "$OUT"/plume_*.vdb

echo "== Writing $FRAMES frames of ${RES}^3 into $OUT"
"$BUILD/tools/nebsample/nebsample" -out "$OUT/plume_####.neb" -frames "$FRAMES" -res "$RES"

echo "== Converting to OpenVDB"
last=$((FRAMES - 1))
"$BUILD/tools/volconvert/volconvert" -srcfile "$OUT/plume_####.neb" -dstfile "$OUT/plume_####.vdb" \
  -start 0 -end "$last"

converted=$(ls "$OUT"/plume_*.vdb 2>/dev/null | wc -l)
echo "== $converted of $FRAMES frames converted into $OUT"
if command -v vdb_print >/dev/null; then
  vdb_print "$OUT/plume_0000.vdb" || true
fi
[ "$converted" -eq "$FRAMES" ]
