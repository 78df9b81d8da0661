#!/usr/bin/env bash
# Packs the Blender add-on (blender/nebu2_import) into a zip that Blender installs through
# Edit > Preferences > Add-ons > Install (or bpy.ops.preferences.addon_install).
#
#   bash scripts/make-blender-addon.sh [OUTPUT.zip]    # default build/blender/nebu2_import.zip
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-build/blender/nebu2_import.zip}
mkdir -p "$(dirname "$OUT")"
/usr/bin/python3 - "$OUT" <<'PY'
import os, sys, zipfile
out = sys.argv[1]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted(os.listdir("blender/nebu2_import")):
        if name.endswith((".py", ".toml")) and name != "_installed.py":
            z.write(os.path.join("blender/nebu2_import", name), "nebu2_import/" + name)
PY
echo "$OUT"
