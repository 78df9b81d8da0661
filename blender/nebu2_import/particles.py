"""Particle groups as point objects that follow the scene frame.

Each group of the cache becomes a mesh object of loose vertices with the attributes
"velocity" (float vector) and "id" (int; the cache's 64-bit identifiers wrap to 32 bits).
Positions and velocities take the same Z-up turn as the volume, (x, y, z) -> (x, -z, y).
On every frame change the object's mesh is refilled from the cache frame of that number,
read through the nebloader module; a frame that is missing or damaged leaves the object
empty and is reported once.
"""

import bpy
import numpy as np

PATTERN = "nebu2_pattern"
GROUP = "nebu2_group"
DIGITS = "nebu2_digits"

POINT_RADIUS = 0.005  # world units, for rendering

_reported = set()


def _frame_path(obj, frame):
    prefix, suffix = obj[PATTERN].split("#" * obj[DIGITS], 1)
    return "%s%0*d%s" % (prefix, obj[DIGITS], frame, suffix)


def _z_up(values):
    turned = np.empty_like(values)
    turned[:, 0] = values[:, 0]
    turned[:, 1] = -values[:, 2]
    turned[:, 2] = values[:, 1]
    return turned


def read_group(path, name):
    """(positions, velocities, ids) of group `name` in the frame file, Z-up; None when
    the frame has no such group. Raises OSError or nebloader.CacheError."""
    import nebloader
    with nebloader.open(path) as frame:
        try:
            group = frame.group(name)
        except LookupError:  # no such group in this frame
            return None
        count = group.count
        positions = _z_up(np.asarray(group.positions, dtype=np.float32).reshape(count, 3))
        velocities = group.velocities
        velocities = (np.zeros((count, 3), np.float32) if velocities is None
                      else _z_up(np.asarray(velocities, dtype=np.float32).reshape(count, 3)))
        ids = group.ids
        ids = np.arange(count, dtype=np.int64) if ids is None else np.asarray(ids, dtype=np.int64).reshape(count)
    return positions, velocities, ids


def fill_mesh(mesh, positions, velocities, ids):
    mesh.clear_geometry()
    count = len(positions)
    mesh.vertices.add(count)
    mesh.vertices.foreach_set("co", positions.ravel())
    velocity = mesh.attributes.get("velocity") or mesh.attributes.new("velocity", "FLOAT_VECTOR", "POINT")
    velocity.data.foreach_set("vector", velocities.ravel())
    ident = mesh.attributes.get("id") or mesh.attributes.new("id", "INT", "POINT")
    ident.data.foreach_set("value", ids.astype(np.uint32).view(np.int32))
    mesh.update()


def update_object(obj, frame):
    """Refills obj's mesh for `frame`; returns an error text or None."""
    mesh = obj.data
    path = _frame_path(obj, frame)
    try:
        group = read_group(path, obj[GROUP])
    except Exception as error:  # missing file, damaged frame: an empty object, reported
        mesh.clear_geometry()
        mesh.update()
        return "%s: %s" % (path, error)
    if group is None:
        mesh.clear_geometry()
        mesh.update()
        return None
    fill_mesh(mesh, *group)
    return None


def build_group_objects(name, sequence, frame, collection):
    """One object per particle group of the cache frame `frame`; returns the objects."""
    import nebloader
    objects = []
    with nebloader.open(sequence.path(frame)) as cache:
        group_names = [g.name for g in cache.groups]
    for group_name in group_names:
        mesh = bpy.data.meshes.new("%s_%s" % (name, group_name))
        obj = bpy.data.objects.new("%s_%s" % (name, group_name), mesh)
        obj[PATTERN] = sequence.pattern()
        obj[DIGITS] = sequence.digits
        obj[GROUP] = group_name
        obj.modifiers.new("Points", "NODES").node_group = _points_node_group()
        collection.objects.link(obj)
        objects.append(obj)
    return objects


def _points_node_group():
    """Geometry nodes that render the vertices as small spheres (Mesh to Points)."""
    group = bpy.data.node_groups.get("nebu2 points")
    if group is not None:
        return group
    group = bpy.data.node_groups.new("nebu2 points", "GeometryNodeTree")
    group.inputs.new("NodeSocketGeometry", "Geometry")
    group.outputs.new("NodeSocketGeometry", "Geometry")
    source = group.nodes.new("NodeGroupInput")
    points = group.nodes.new("GeometryNodeMeshToPoints")
    points.inputs["Radius"].default_value = POINT_RADIUS
    sink = group.nodes.new("NodeGroupOutput")
    group.links.new(source.outputs[0], points.inputs["Mesh"])
    group.links.new(points.outputs["Points"], sink.inputs[0])
    return group


@bpy.app.handlers.persistent  # kept when another .blend is opened
def _on_frame_change(scene, depsgraph=None):
    for obj in scene.objects:
        if PATTERN in obj and GROUP in obj and obj.type == "MESH":
            error = update_object(obj, scene.frame_current)
            if error and (obj.name, scene.frame_current) not in _reported:
                _reported.add((obj.name, scene.frame_current))
                print("nebu2 import: particles of %s: %s" % (obj.name, error))


def register():
    if _on_frame_change not in bpy.app.handlers.frame_change_post:
        bpy.app.handlers.frame_change_post.append(_on_frame_change)


def unregister():
    if _on_frame_change in bpy.app.handlers.frame_change_post:
        bpy.app.handlers.frame_change_post.remove(_on_frame_change)
