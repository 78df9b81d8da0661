"""The add-on in a real Blender: run by scripts/test-blender.sh as

    blender -b --factory-startup --python test_addon.py -- ADDON_ZIP SAMPLE_FRAME DAMAGED_FRAME WORK_DIR NEBSAMPLE

SAMPLE_FRAME is one file of a clean sample sequence (frames 0-9), DAMAGED_FRAME one of a
copy whose frame 3 is cut short, NEBSAMPLE the sample writer (to simulate caches again).
The nebloader module comes from PYTHONPATH, neb2vdb from $NEB2VDB. Leaves WORK_DIR/scene.blend
(saved with the sample imported) and WORK_DIR/expected.json (the sparks it must show) for
render_elsewhere.py. Ends with 'N passed, N failed'; the exit status is 1 when a check failed.
"""

import json
import math
import os
import subprocess
import sys
import traceback

import bpy
import numpy as np
from bpy_extras.object_utils import world_to_camera_view
from mathutils import Vector

import nebloader

ADDON_ZIP, SAMPLE, DAMAGED, WORK, NEBSAMPLE = sys.argv[sys.argv.index("--") + 1:][:5]
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


def voxel_size(obj):
    _, data = evaluated_volume(obj)
    return data.grids["density"].matrix_object.col[0].length


def shown_points(obj):
    """(positions, ids) of the points the object's Geometry Nodes put out at this frame."""
    depsgraph = bpy.context.evaluated_depsgraph_get()
    for instance in depsgraph.object_instances:
        if instance.is_instance and instance.parent.original == obj and instance.object.type == "POINTCLOUD":
            cloud = instance.object.data
            positions = np.empty(3 * len(cloud.points), np.float32)
            ids = np.empty(len(cloud.points), np.int32)
            cloud.attributes["position"].data.foreach_get("vector", positions)
            cloud.attributes["id"].data.foreach_get("value", ids)
            return positions.reshape(-1, 3), ids
    return np.empty((0, 3), np.float32), np.empty(0, np.int32)


def cache_points(path, group="Sparks"):
    """(positions Z-up, ids) of a group as the cache holds it."""
    with nebloader.open(path) as cache:
        g = cache.group(group)
        p = np.asarray(g.positions).reshape(-1, 3)
        return np.stack([p[:, 0], -p[:, 2], p[:, 1]], axis=1), np.asarray(g.ids).astype(np.int32)


def frame_file(pattern_file, frame):
    return "%s%04d.neb" % (pattern_file[:-len("0000.neb")], frame)


def import_cache(path, folder="", **options):
    bpy.ops.object.select_all(action="DESELECT")
    before = set(bpy.data.objects)
    result = bpy.ops.import_scene.nebu2_cache(filepath=path, output_folder=folder, **options)
    assert result == {"FINISHED"}, result
    new = [o for o in bpy.data.objects if o not in before]
    volume = next(o for o in new if o.type == "VOLUME")
    points = {o["nebu2_group"]: o for o in new if o.type == "MESH"}
    return volume, points


def simulate(folder, res, start=1, frames=3):
    """Writes (or writes again) the sample cache plume_####.neb in `folder`."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run([NEBSAMPLE, "-out", os.path.join(folder, "plume_####.neb"), "-frames", str(frames),
                    "-start", str(start), "-res", str(res)], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(folder, "plume_%04d.neb" % start)


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
    # The colour grid times white: the cache's colours as they are.
    assert tuple(inputs["Color"].default_value)[:3] == (1.0, 1.0, 1.0)
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
def particles_follow_the_cache_frame_by_frame():
    for frame in range(FIRST, LAST + 1):
        bpy.context.scene.frame_set(frame)
        positions, ids = shown_points(sparks)
        expected, expected_ids = cache_points(frame_file(SAMPLE, frame))
        assert np.array_equal(ids, expected_ids), frame
        assert np.allclose(positions, expected), frame
    assert "velocity" in sparks.data.attributes


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
        assert (len(shown_points(points["Sparks"])[1]) > 0) == (frame != 3), frame


@check
def import_again_keeps_the_frames_converted_before():
    folder = os.path.join(WORK, "vdb")
    stamps = {f: os.stat(os.path.join(folder, f)).st_mtime_ns for f in os.listdir(folder)}
    import_cache(SAMPLE, folder)
    assert stamps == {f: os.stat(os.path.join(folder, f)).st_mtime_ns for f in os.listdir(folder)}


# Two stale cases into one output folder, each a sequence from frame 1: a cache simulated
# again at another resolution, then another cache of the same name in another folder.
# The grids' voxel size (2 units / resolution) tells which simulation a volume shows.
STALE = os.path.join(WORK, "vdb_stale")


@check
def re_simulated_cache_shows_the_new_simulation():
    first = simulate(os.path.join(WORK, "resim"), 24)
    volume, _ = import_cache(first, STALE)
    bpy.context.scene.frame_set(1)
    assert math.isclose(voxel_size(volume), 2 / 24, rel_tol=1e-5), voxel_size(volume)
    simulate(os.path.join(WORK, "resim"), 32)
    volume, points = import_cache(first, STALE)
    bpy.context.scene.frame_set(2)
    assert math.isclose(voxel_size(volume), 2 / 32, rel_tol=1e-5), voxel_size(volume)
    assert np.allclose(shown_points(points["Sparks"])[0], cache_points(frame_file(first, 2))[0])


@check
def another_cache_of_the_same_name_shows_its_own():
    volume, _ = import_cache(simulate(os.path.join(WORK, "elsewhere"), 40), STALE)
    bpy.context.scene.frame_set(1)
    assert math.isclose(voxel_size(volume), 2 / 40, rel_tol=1e-5), voxel_size(volume)


@check
def default_output_folder_is_relative_beside_the_saved_file_and_its_own_per_cache():
    global plume, sparks
    bpy.ops.wm.read_homefile(use_empty=True)
    bpy.ops.wm.save_as_mainfile(filepath=os.path.join(WORK, "scene.blend"))
    plume, points = import_cache(SAMPLE)
    sparks = points["Sparks"]
    assert plume.data.filepath.startswith("//vdb/plume_"), plume.data.filepath
    folder = os.path.dirname(bpy.path.abspath(plume.data.filepath))
    assert len([f for f in os.listdir(folder) if f.endswith(".vdb")]) == LAST - FIRST + 1
    other, other_points = import_cache(os.path.join(WORK, "elsewhere", "plume_0001.neb"), set_frame_range=False)
    assert os.path.dirname(other.data.filepath) != os.path.dirname(plume.data.filepath)
    for obj in [other, *other_points.values()]:
        bpy.data.objects.remove(obj)
    # The scene render_elsewhere.py renders: the camera on the plume, the sparks shown.
    bpy.ops.object.camera_add(location=(0, -6, 1), rotation=(math.radians(90), 0, 0))
    bpy.context.scene.camera = bpy.context.object
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.samples = 4
    scene.cycles.use_denoising = False
    scene.render.resolution_x = scene.render.resolution_y = 32
    bpy.ops.wm.save_mainfile()
    expected = {}
    for frame in (2, 7):
        positions, ids = cache_points(frame_file(SAMPLE, frame))
        expected[frame] = {"count": len(ids), "first": positions[0].tolist()}
    with open(os.path.join(WORK, "expected.json"), "w") as f:
        json.dump({"sparks": sparks.name, "frames": expected}, f)


@check
def frame_offset_moves_volume_and_particles_together():
    scene = bpy.context.scene
    first = os.path.join(WORK, "resim", "plume_0001.neb")
    volume, points = import_cache(first, STALE, keep_frame_numbers=False, start_frame=101)
    assert (scene.frame_start, scene.frame_end) == (101, 103), (scene.frame_start, scene.frame_end)
    for frame, cache_frame in ((101, 1), (103, 3)):
        scene.frame_set(frame)
        _, data = evaluated_volume(volume)
        assert data.grids.frame_filepath.endswith("_%04d.vdb" % cache_frame), (frame, data.grids.frame_filepath)
        assert np.array_equal(shown_points(points["Sparks"])[1], cache_points(frame_file(first, cache_frame))[1])
    scene.frame_set(100)
    assert len(evaluated_volume(volume)[1].grids) == 0 and len(shown_points(points["Sparks"])[1]) == 0
    import_cache(first, STALE, keep_frame_numbers=False, start_frame=201, set_frame_range=False)
    assert (scene.frame_start, scene.frame_end) == (101, 103), (scene.frame_start, scene.frame_end)


@check
def live_particles_read_each_frame_once_and_report_a_damaged_one():
    opened = []
    real_open = nebloader.open

    def counting_open(path, *args, **kwargs):
        opened.append(os.path.basename(path))
        return real_open(path, *args, **kwargs)

    nebloader.open = counting_open
    try:
        _, points = import_cache(DAMAGED, os.path.join(WORK, "vdb_damaged"), particles="LIVE")
        live = points["Sparks"]
        for frame in (2, 3, 4, 4):
            bpy.context.scene.frame_set(frame)
            bpy.context.scene.frame_set(frame)  # the same frame again: no new read
            assert (len(shown_points(live)[1]) > 0) == (frame != 3), frame
    finally:
        nebloader.open = real_open
    # The import reads the first frame for the group names; then each frame once.
    assert opened == ["plume_0000.neb", "plume_0002.neb", "plume_0003.neb", "plume_0004.neb"], opened


passed = sum(1 for _, error in results if error is None)
failed = len(results) - passed
print("%d passed, %d failed" % (passed, failed))
sys.stdout.flush()
os._exit(1 if failed else 0)
