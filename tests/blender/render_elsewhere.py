"""A saved scene in a Blender that has neither the add-on nor the nebloader module, as on a
render node or a colleague's machine: run by scripts/test-blender.sh as

    blender -b --factory-startup --python-expr BLOCK WORK_DIR/scene.blend --python render_elsewhere.py -- WORK_DIR

where BLOCK keeps `import nebloader` from succeeding before the file loads. The sparks
must show the cache's points frame by frame (WORK_DIR/expected.json, written by
test_addon.py), and the scene must render with the plume in it.
"""

import json
import os
import sys

import bpy
import numpy as np

WORK = sys.argv[sys.argv.index("--") + 1]
failures = []


def expect(condition, what):
    print("PASS" if condition else "FAIL", what)
    if not condition:
        failures.append(what)


try:
    import nebloader  # noqa: F401
    expect(False, "the nebloader module cannot be imported")
except ImportError:
    expect(True, "the nebloader module cannot be imported")
expect("nebu2_import" not in bpy.context.preferences.addons, "the add-on is not enabled")

with open(os.path.join(WORK, "expected.json")) as f:
    expected = json.load(f)
scene = bpy.context.scene
sparks = bpy.data.objects[expected["sparks"]]
firsts = []
for frame, want in sorted(expected["frames"].items()):
    scene.frame_set(int(frame))
    depsgraph = bpy.context.evaluated_depsgraph_get()
    clouds = [i.object.data for i in depsgraph.object_instances
              if i.is_instance and i.parent.original == sparks and i.object.type == "POINTCLOUD"]
    count = len(clouds[0].points) if clouds else 0
    expect(count == want["count"], "frame %s: %d sparks shown, the cache has %d" % (frame, count, want["count"]))
    if count:
        positions = np.empty(3 * count, np.float32)
        clouds[0].attributes["position"].data.foreach_get("vector", positions)
        firsts.append(positions[:3])
        expect(np.allclose(positions[:3], want["first"]), "frame %s: the first spark where the cache has it" % frame)
expect(len(firsts) == 2 and not np.allclose(firsts[0], firsts[1]), "the sparks move between the frames")

scene.frame_set(7)
scene.render.filepath = os.path.join(WORK, "elsewhere.png")
bpy.ops.render.render(write_still=True)
image = bpy.data.images.load(scene.render.filepath)
pixels = np.array(image.pixels[:]).reshape(-1, 4)[:, :3]
expect(pixels.max() > 0.2, "the render shows the plume (brightest pixel %.3f)" % pixels.max())

print("%d failed" % len(failures))
sys.stdout.flush()
os._exit(1 if failures else 0)
