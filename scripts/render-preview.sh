#!/usr/bin/env bash
# Renders a few frames of a converted OpenVDB sequence side by side into one PNG through
# Blender (headless, Cycles on the CPU), with the add-on's material: a quick look at a
# conversion. Convert Z-up for Blender first (neb2vdb --preset blender). MATERIAL=none
# renders without it (Blender's default volume shading), for a comparison.
#
#   bash scripts/render-preview.sh VDB_FILE [OUTPUT.png]
#   COUNT=4 WIDTH=160 HEIGHT=240 SAMPLES=32 bash scripts/render-preview.sh build/sample/blender/plume_0000.vdb
#
# VDB_FILE is any frame of the sequence; COUNT frames spread over the sequence are shown.
set -euo pipefail
[ $# -ge 1 ] || { echo "Usage: render-preview.sh VDB_FILE [OUTPUT.png]" >&2; exit 2; }
HERE=$(cd "$(dirname "$0")" && pwd)
VDB=$(realpath "$1")
OUT=$(realpath -m "${2:-preview.png}")
command -v blender >/dev/null || { echo "render-preview: blender is not installed (apt-get install blender)" >&2; exit 1; }
LOG=$(mktemp /tmp/render_preview_XXXXXX.log)
if blender -b --factory-startup --python-exit-code 1 --python "$HERE/render-preview.py" -- \
     "$VDB" "$OUT" "${COUNT:-4}" "${WIDTH:-160}" "${HEIGHT:-240}" "${SAMPLES:-32}" "${MATERIAL:-addon}" >"$LOG" 2>&1; then
  grep '^render-preview:' "$LOG"
  rm -f "$LOG"
else
  echo "render-preview: Blender failed; its output:" >&2
  tail -40 "$LOG" >&2
  rm -f "$LOG"
  exit 1
fi
