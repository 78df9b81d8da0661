#!/usr/bin/env bash
# The Blender add-on in Debian's Blender, headless: packs the add-on zip, writes the sample
# sequence and a copy with a damaged frame, and runs tests/blender/test_addon.py with the
# build tree's neb2vdb and nebloader Python module. Blender's user folders go to a
# temporary folder, so nothing of the user's setup is read or changed.
#
#   bash scripts/test-blender.sh          # uses build/release (BUILD=... for another)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD:-build/release}
for f in "$BUILD/tools/neb2vdb/neb2vdb" "$BUILD/tools/nebsample/nebsample"; do
  [ -x "$f" ] || { echo "test-blender: $f is not built" >&2; exit 1; }
done
command -v blender >/dev/null || { echo "test-blender: blender is not installed" >&2; exit 1; }

WORK=$(mktemp -d /tmp/neb_blender_XXXXXX)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$WORK"' EXIT
ZIP=$(bash scripts/make-blender-addon.sh "$WORK/nebu2_import.zip")
mkdir -p "$WORK/sample" "$WORK/damaged" "$WORK/user"
"$BUILD/tools/nebsample/nebsample" -out "$WORK/sample/plume_####.neb" -frames 10 -res 48 >/dev/null
cp "$WORK"/sample/plume_*.neb "$WORK/damaged/"
head -c 2000 "$WORK/sample/plume_0003.neb" > "$WORK/damaged/plume_0003.neb"

LOG="$WORK/blender.log"
status=0
NEB2VDB="$ROOT/$BUILD/tools/neb2vdb/neb2vdb" PYTHONPATH="$ROOT/$BUILD/python" \
  BLENDER_USER_SCRIPTS="$WORK/user/scripts" BLENDER_USER_CONFIG="$WORK/user/config" \
  timeout 600 blender -b --factory-startup --python-exit-code 1 --python tests/blender/test_addon.py -- \
    "$ZIP" "$WORK/sample/plume_0000.neb" "$WORK/damaged/plume_0005.neb" "$WORK" >"$LOG" 2>&1 || status=$?
grep -E "^(PASS|FAIL)|passed, .* failed|^(Info|Warning|Error):" "$LOG" || true
# The damaged frame is a report in the interface, never a Python traceback.
if grep -q 'Traceback' "$LOG"; then
  echo "test-blender: a Python traceback in Blender's output:" >&2
  cat "$LOG" >&2
  exit 1
fi
if ! grep -q 'Frame 3 left out' "$LOG"; then
  echo "test-blender: the damaged frame was not reported" >&2
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "test-blender: Blender's output:" >&2
  tail -80 "$LOG" >&2
fi
exit "$status"
