"""Blender side of scripts/render-preview.sh: renders frames of a converted (Z-up) OpenVDB
sequence with the add-on's material (MATERIAL "addon") or with none, Blender's default
volume shading (MATERIAL "none"), and puts them side by side into one PNG.

    blender -b --factory-startup --python render-preview.py -- VDB_FILE OUTPUT.png COUNT WIDTH HEIGHT SAMPLES MATERIAL
"""

import math
import os
import sys

import bpy
import numpy as np
from mathutils import Vector

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "blender"))
from nebu2_import import sequence, volume  # noqa: E402

vdb_file, output, count, width, height, samples, material = sys.argv[sys.argv.index("--") + 1:][:7]
count, width, height, samples = int(count), int(width), int(height), int(samples)

seq = sequence.find_sequence(vdb_file)
if seq is None:
    sys.exit("render-preview: no frame number in %s" % vdb_file)
frames = sorted(set(round(seq.first + i * (seq.last - seq.first) / max(count - 1, 1)) for i in range(count)))

for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
scene = bpy.context.scene
probe = bpy.data.volumes.new("probe")
probe.filepath = vdb_file
probe.grids.load()
preset = "houdini" if "Cd" in {g.name for g in probe.grids} else "blender"
obj = volume.build_volume("cache", seq.path(seq.first), seq.first, seq.last, preset)
scene.collection.objects.link(obj)
if material == "none":
    obj.data.materials.clear()

# Bounds of the last frame frame the camera; the sun lights the smoke from the side.
scene.frame_set(seq.last)
depsgraph = bpy.context.evaluated_depsgraph_get()
evaluated = obj.evaluated_get(depsgraph)
corners = np.array([evaluated.matrix_world @ Vector(c) for c in evaluated.bound_box])
low, high = corners.min(axis=0), corners.max(axis=0)
centre = (low + high) / 2
size = max(high[2] - low[2], (high[0] - low[0]) * height / width)
camera_data = bpy.data.cameras.new("camera")
camera_data.type = "ORTHO"
camera_data.ortho_scale = 1.1 * max(size, (high[0] - low[0])) * max(width, height) / height
camera = bpy.data.objects.new("camera", camera_data)
camera.location = (centre[0], low[1] - 10, centre[2])
camera.rotation_euler = (math.radians(90), 0, 0)
scene.collection.objects.link(camera)
scene.camera = camera
sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
sun.data.energy = 10
sun.rotation_euler = (math.radians(60), 0, math.radians(-40))
scene.collection.objects.link(sun)
scene.world = scene.world or bpy.data.worlds.new("world")
scene.world.use_nodes = True
scene.world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.01, 0.012, 0.02, 1)

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = samples
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = width, height
scene.render.resolution_percentage = 100
scene.render.image_settings.file_format = "PNG"

tiles = []
for frame in frames:
    scene.frame_set(frame)
    scene.render.filepath = output + ".frame%04d.png" % frame
    bpy.ops.render.render(write_still=True)
    image = bpy.data.images.load(scene.render.filepath)
    tiles.append(np.array(image.pixels[:], dtype=np.float32).reshape(height, width, 4))
    bpy.data.images.remove(image)
    os.remove(scene.render.filepath)

strip = np.concatenate(tiles, axis=1)
result = bpy.data.images.new("preview", strip.shape[1], strip.shape[0], alpha=False)
result.pixels.foreach_set(strip.ravel())
result.filepath_raw = output
result.file_format = "PNG"
result.save()
print("render-preview: frames %s -> %s" % (", ".join(map(str, frames)), output))
