"""The add-on in a real Blender: run by scripts/test-blender.sh as

    blender -b --factory-startup --python test_addon.py -- ADDON_ZIP SAMPLE_FRAME DAMAGED_FRAME WORK_DIR

SAMPLE_FRAME is one file of a clean sample sequence, DAMAGED_FRAME one of a copy whose frame 3
is cut short. The nebloader module comes from PYTHONPATH, neb2vdb from $NEB2VDB. Ends with
'N passed, N failed'; the exit status is 1 when a check failed.
"""

import math
import os
import sys
import traceback

import bpy
import numpy as np
from bpy_extras.object_utils import world_to_camera_view
from mathutils import Vector

import nebloader

ADDON_ZIP, SAMPLE, DAMAGED, WORK = sys.argv[sys.argv.index("--") + 1:][:4]
FIRST, LAST = 0, 9
results = []


def check(function):
    try:
        function()
        results.append((function.__name__, None))
        print("PASS", function.__name__)
    except Exception:
        results.append((function.__name__, traceback.format_exc()))
        print("FAIL", function.__name__, traceback.format_exc())
    return function


def evaluated_volume(obj):
    depsgraph = bpy.context.evaluated_depsgraph_get()
    data = obj.evaluated_get(depsgraph).data
    data.grids.load()
    return obj.evaluated_get(depsgraph), data


def world_bounds(obj):
    evaluated, _ = evaluated_volume(obj)
    corners = np.array([evaluated.matrix_world @ Vector(c) for c in evaluated.bound_box])
    return corners.min(axis=0), corners.max(axis=0)


def import_cache(path, folder):
    bpy.ops.object.select_all(action="DESELECT")
    before = set(bpy.data.objects)
    result = bpy.ops.import_scene.nebu2_cache(filepath=path, output_folder=folder)
    assert result == {"FINISHED"}, result
    new = [o for o in bpy.data.objects if o not in before]
    volume = next(o for o in new if o.type == "VOLUME")
    points = {o["nebu2_group"]: o for o in new if o.type == "MESH"}
    return volume, points


# The factory scene's cube would hide the plume.
bpy.data.objects.remove(bpy.data.objects["Cube"])


@check
def addon_installs_from_its_zip():
    bpy.ops.preferences.addon_install(filepath=ADDON_ZIP, overwrite=True)
    bpy.ops.preferences.addon_enable(module="nebu2_import")
    assert hasattr(bpy.types, "IMPORT_SCENE_OT_nebu2_cache")
    assert "nebu2_import" in bpy.context.preferences.addons


plume, sparks = None, None


@check
def sample_imports_as_a_volume_with_particle_objects():
    global plume, sparks
    plume, points = import_cache(SAMPLE, os.path.join(WORK, "vdb"))
    assert sorted(points) == ["Sparks"], sorted(points)
    sparks = points["Sparks"]
    assert len([f for f in os.listdir(os.path.join(WORK, "vdb")) if f.endswith(".vdb")]) == LAST - FIRST + 1


@check
def scene_frame_n_plays_cache_frame_n():
    scene = bpy.context.scene
    assert (scene.frame_start, scene.frame_end) == (FIRST, LAST)
    for frame in range(FIRST, LAST + 1):
        scene.frame_set(frame)
        _, data = evaluated_volume(plume)
        assert data.grids.frame == frame, (frame, data.grids.frame)
        assert data.grids.frame_filepath.endswith("_%04d.vdb" % frame), data.grids.frame_filepath
        names = {g.name for g in data.grids}
        assert {"density", "temperature", "velocity", "color"} <= names, names


@check
def bounds_are_z_up_and_grow_as_the_plume_rises():
    tops = []
    for frame in range(FIRST, LAST + 1):
        bpy.context.scene.frame_set(frame)
        low, high = world_bounds(plume)
        # The sample rises from its floor at height 0 inside [-1, 1] x [-1, 1].
        assert abs(low[2]) < 0.05 and high[2] <= 2.01, (frame, low, high)
        assert low[0] >= -1.01 and low[1] >= -1.01 and high[0] <= 1.01 and high[1] <= 1.01, (frame, low, high)
        tops.append(high[2])
    assert all(b >= a - 1e-6 for a, b in zip(tops, tops[1:])), tops
    assert tops[0] < 0.5 and tops[-1] > 1.5, tops


@check
def material_shows_smoke_fire_and_colour_and_velocity_is_set():
    data = plume.data
    assert (data.velocity_grid, data.velocity_unit, data.velocity_scale) == ("velocity", "SECOND", 1.0)
    nodes = data.materials[0].node_tree.nodes
    principled = next(n for n in nodes if n.bl_idname == "ShaderNodeVolumePrincipled")
    inputs = principled.inputs
    assert inputs["Density Attribute"].default_value == "density"
    assert inputs["Color Attribute"].default_value == "color"
    assert inputs["Temperature Attribute"].default_value == "temperature"
    assert inputs["Blackbody Intensity"].default_value > 0 and inputs["Temperature"].default_value >= 500
    emission = inputs["Emission Strength"]
    assert emission.is_linked
    source = emission.links[0].from_node
    while source.bl_idname != "ShaderNodeAttribute":
        source = next(s for s in source.inputs if s.is_linked).links[0].from_node
    assert source.attribute_name == "flame"
    output = next(n for n in nodes if n.bl_idname == "ShaderNodeOutputMaterial")
    assert output.inputs["Volume"].links[0].from_node == principled


@check
def particle_counts_follow_the_cache_frame_by_frame():
    pattern = SAMPLE[:-len("0000.neb")] + "%04d.neb"
    for frame in range(FIRST, LAST + 1):
        bpy.context.scene.frame_set(frame)
        with nebloader.open(pattern % frame) as cache:
            group = cache.group("Sparks")
            expected, ids = group.count, group.ids
            first = group.positions[0]
        mesh = sparks.data
        assert len(mesh.vertices) == expected, (frame, len(mesh.vertices), expected)
        assert {"velocity", "id"} <= set(mesh.attributes.keys())
        got = np.empty(expected, np.int32)
        mesh.attributes["id"].data.foreach_get("value", got)
        assert np.array_equal(got, ids.astype(np.int32)), frame
        # Z-up like the volume: (x, y, z) -> (x, -z, y).
        assert np.allclose(mesh.vertices[0].co, (first[0], -first[2], first[1])), frame


@check
def cycles_renders_a_lit_plume_against_a_dark_sky():
    scene = bpy.context.scene
    scene.frame_set(LAST)
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = 16
    scene.cycles.use_denoising = False  # Debian's Blender has no denoiser
    scene.render.resolution_x = scene.render.resolution_y = 64
    scene.render.resolution_percentage = 100
    scene.render.threads_mode = "FIXED"
    scene.render.threads = 2
    scene.world.use_nodes = True
    scene.world.node_tree.nodes["Background"].inputs["Color"].default_value = (0, 0, 0, 1)
    # Facing the plume from the front (-Y), its 2 units of height about half the frame.
    scene.camera.location = (0, -6, 1)
    scene.camera.rotation_euler = (math.radians(90), 0, 0)
    scene.render.image_settings.file_format = "PNG"
    scene.render.filepath = os.path.join(WORK, "render.png")
    sparks.hide_render = True
    bpy.ops.render.render(write_still=True)
    image = bpy.data.images.load(scene.render.filepath)
    pixels = np.array(image.pixels[:]).reshape(64, 64, 4)[:, :, :3].mean(axis=2)  # rows bottom up
    # The plume's pixels: inside the image of its bounds; the sky: the top corners.
    low, high = world_bounds(plume)
    corners = [world_to_camera_view(scene, scene.camera, Vector((x, y, z)))
               for x in (low[0], high[0]) for y in (low[1], high[1]) for z in (low[2], high[2])]
    cols = [int(min(max(c.x, 0), 1) * 63) for c in corners]
    rows = [int(min(max(c.y, 0), 1) * 63) for c in corners]
    region = pixels[min(rows):max(rows) + 1, min(cols):max(cols) + 1].ravel()
    lit = np.sort(region)[-25:]
    sky = np.concatenate([pixels[-6:, :6].ravel(), pixels[-6:, -6:].ravel()])
    assert lit.mean() > 0.2 and (region > 0.05).sum() >= 40, (lit.mean(), (region > 0.05).sum())
    assert sky.max() < 0.02, sky.max()


@check
def damaged_frame_is_reported_and_the_others_load():
    plume_d, points = import_cache(DAMAGED, os.path.join(WORK, "vdb_damaged"))
    assert list(plume_d["nebu2_failed_frames"]) == [3], list(plume_d["nebu2_failed_frames"])
    for frame in range(FIRST, LAST + 1):
        bpy.context.scene.frame_set(frame)
        _, data = evaluated_volume(plume_d)
        loaded = len(data.grids) > 0
        assert loaded == (frame != 3), (frame, loaded, data.grids.error_message)
        assert (len(points["Sparks"].data.vertices) > 0) == (frame != 3), frame


@check
def import_again_keeps_the_frames_converted_before():
    folder = os.path.join(WORK, "vdb")
    stamps = {f: os.stat(os.path.join(folder, f)).st_mtime_ns for f in os.listdir(folder)}
    import_cache(SAMPLE, folder)
    assert stamps == {f: os.stat(os.path.join(folder, f)).st_mtime_ns for f in os.listdir(folder)}


passed = sum(1 for _, error in results if error is None)
failed = len(results) - passed
print("%d passed, %d failed" % (passed, failed))
sys.stdout.flush()
os._exit(1 if failed else 0)
