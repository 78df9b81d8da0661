#!/usr/bin/env bash
# The Blender add-on in Debian's Blender: packs the add-on zip, writes the sample sequence,
# a copy with a damaged frame and a few larger frames, installs the build into a scratch
# prefix (the package's layout), and runs, with the build tree's neb2vdb and module:
#   1. tests/blender/test_addon.py, headless, the add-on installed from its zip;
#   2. tests/blender/render_elsewhere.py, headless, on the .blend the first saved, in a
#      Blender without the add-on and with `import nebloader` blocked;
#   3. tests/blender/test_modal.py with a window under Xvfb, the add-on of the scratch
#      prefix with nothing set (no $NEB2VDB, no PYTHONPATH).
# Blender's user folders go to a temporary folder, so nothing of the user's setup is read
# or changed. Needs a whole build (the install step installs everything).
#
#   bash scripts/test-blender.sh          # uses build/release (BUILD=... for another)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD:-build/release}
T0=$SECONDS
for f in "$BUILD/tools/neb2vdb/neb2vdb" "$BUILD/tools/nebsample/nebsample"; do
  [ -x "$f" ] || { echo "test-blender: $f is not built" >&2; exit 1; }
done
for tool in blender Xvfb; do
  command -v "$tool" >/dev/null || { echo "test-blender: $tool is not installed" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/neb_blender_XXXXXX)
XVFB_PID=""
cleanup() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; fi
  [ -n "${KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT
ZIP=$(bash scripts/make-blender-addon.sh "$WORK/nebu2_import.zip")
mkdir -p "$WORK/sample" "$WORK/damaged" "$WORK/big" "$WORK/user" "$WORK/empty"
NEBSAMPLE=$ROOT/$BUILD/tools/nebsample/nebsample
"$NEBSAMPLE" -out "$WORK/sample/plume_####.neb" -frames 10 -res 48 >/dev/null
cp "$WORK"/sample/plume_*.neb "$WORK/damaged/"
head -c 2000 "$WORK/sample/plume_0003.neb" > "$WORK/damaged/plume_0003.neb"
# Large enough that a frame takes a good part of a second: neb2vdb must still be converting
# when the window gets to the Esc.
"$NEBSAMPLE" -out "$WORK/big/big_####.neb" -frames 5 -res 192 >/dev/null
cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null
echo "== set-up: $((SECONDS - T0)) s"
LAP=$SECONDS

status=0
failed() {  # NAME LOG: Blender's output when a part failed
  echo "test-blender: $1 failed; Blender's output:" >&2
  tail -80 "$2" >&2
  status=1
}
summary() {  # LOG: the checks and reports, and the seconds since the last summary
  grep -E "^(PASS|FAIL)|passed, .* failed|^[0-9]+ failed|^(Info|Warning|Error):" "$1" || true
  echo "   ($((SECONDS - LAP)) s)"
  LAP=$SECONDS
}

echo "== the add-on installed from its zip (headless)"
LOG=$WORK/addon.log
NEB2VDB="$ROOT/$BUILD/tools/neb2vdb/neb2vdb" PYTHONPATH="$ROOT/$BUILD/python" \
  BLENDER_USER_SCRIPTS="$WORK/user/scripts" BLENDER_USER_CONFIG="$WORK/user/config" \
  timeout 600 blender -b --factory-startup --python-exit-code 1 --python tests/blender/test_addon.py -- \
    "$ZIP" "$WORK/sample/plume_0000.neb" "$WORK/damaged/plume_0005.neb" "$WORK" "$NEBSAMPLE" >"$LOG" 2>&1 ||
  failed test_addon.py "$LOG"
summary "$LOG"
# Every failure is a report in the interface, never a Python traceback or a red error.
for bad in 'Traceback' 'Could not find grid'; do
  if grep -q "$bad" "$LOG"; then
    echo "test-blender: '$bad' in Blender's output" >&2
    status=1
  fi
done
grep -q 'Frame 3 left out' "$LOG" || { echo "test-blender: the damaged frame was not reported" >&2; status=1; }
grep -q '^Warning: nebu2 particles, frame 3: ' "$LOG" ||
  { echo "test-blender: the live particles did not report the damaged frame" >&2; status=1; }

echo "== the saved scene in a Blender without the add-on and the module (headless)"
LOG=$WORK/elsewhere.log
env -u NEB2VDB -u PYTHONPATH BLENDER_USER_SCRIPTS="$WORK/empty/scripts" BLENDER_USER_CONFIG="$WORK/empty/config" \
  timeout 300 blender -b --factory-startup --python-exit-code 1 \
    --python-expr 'import sys; sys.modules["nebloader"] = None' "$WORK/scene.blend" \
    --python tests/blender/render_elsewhere.py -- "$WORK" >"$LOG" 2>&1 || failed render_elsewhere.py "$LOG"
summary "$LOG"

echo "== the installed add-on with a window (Xvfb), nothing set"
# A virtual X server of our own on a display it picks (-displayfd), stopped by the trap.
Xvfb -displayfd 4 -screen 0 800x600x24 -nolisten tcp 4>"$WORK/xvfb.display" >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/xvfb.display" ] && break; sleep 0.1; done
[ -s "$WORK/xvfb.display" ] || { echo "test-blender: Xvfb did not start: $(cat "$WORK/xvfb.log")" >&2; exit 1; }
LOG=$WORK/modal.log
env -u NEB2VDB -u PYTHONPATH DISPLAY=":$(cat "$WORK/xvfb.display")" \
  BLENDER_USER_SCRIPTS="$WORK/prefix/share/blender/scripts" BLENDER_USER_CONFIG="$WORK/user/modal-config" \
  timeout 600 blender --factory-startup --enable-event-simulate \
    --python tests/blender/test_modal.py -- "$WORK/big/big_0000.neb" "$WORK/sample/plume_0000.neb" "$WORK" \
    "$WORK/prefix" >"$LOG" 2>&1 || failed test_modal.py "$LOG"
summary "$LOG"

echo "test-blender: $([ "$status" -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - T0)) s"
exit "$status"
