"""Particle groups as point objects that follow the scene frame.

Each group of the cache becomes a mesh object of loose vertices with the attributes
"velocity" (float vector) and "id" (int; the cache's 64-bit identifiers wrap to 32 bits).
Positions and velocities take the same Z-up turn as the volume, (x, y, z) -> (x, -z, y).
Two ways to play them:

STORED (default): the mesh holds the points of every frame, each with its cache frame
in the int attribute "frame", and the Geometry Nodes group "nebu2 points" keeps those of
the frame the scene shows (cache frame = round(scene frame) - the modifier's "Frame
Offset") and draws them as small spheres. Everything is inside the .blend: it renders
in any Blender (3.4 or later), without this add-on or the nebloader module. The cost: the
.blend holds every frame's points (32 bytes a point), and each frame change filters all
of them (see the README for figures).

LIVE: the mesh holds one frame's points (with their "frame", through the same node
group), refilled on every frame change from the cache files through the nebloader
module; for counts too large to store. Each cache file is
opened once per frame change, for all of its groups, and not again while the frame
stays; a frame that is missing or damaged leaves the objects empty and is reported once
to the Info log. Needs this add-on and the module wherever the scene plays or renders.
"""

import math

import bpy
import numpy as np

from . import paths

PATTERN = "nebu2_pattern"
GROUP = "nebu2_group"
DIGITS = "nebu2_digits"
LIVE = "nebu2_live"  # absent on objects of the add-on's first version, which were all live

NODE_GROUP = "nebu2 points"
OFFSET_INPUT = "Frame Offset"
POINT_RADIUS = 0.005  # world units, for rendering

_reported = set()
_shown = {}  # object name -> (pattern, cache frame) its live mesh holds


def _frame_path(obj, frame):
    prefix, suffix = obj[PATTERN].split("#" * obj[DIGITS], 1)
    return "%s%0*d%s" % (prefix, obj[DIGITS], frame, suffix)


def _z_up(values):
    turned = np.empty_like(values)
    turned[:, 0] = values[:, 0]
    turned[:, 1] = -values[:, 2]
    turned[:, 2] = values[:, 1]
    return turned


def _group_arrays(group):
    """(positions, velocities, ids) of a nebloader group, Z-up."""
    count = group.count
    positions = _z_up(np.asarray(group.positions, dtype=np.float32).reshape(count, 3))
    velocities = group.velocities
    velocities = (np.zeros((count, 3), np.float32) if velocities is None
                  else _z_up(np.asarray(velocities, dtype=np.float32).reshape(count, 3)))
    ids = group.ids
    ids = np.arange(count, dtype=np.int64) if ids is None else np.asarray(ids, dtype=np.int64).reshape(count)
    return positions, velocities, ids


def read_frame(nebloader, path):
    """{group name: (positions, velocities, ids)} of one cache file, opened once. Raises
    OSError or nebloader.CacheError."""
    with nebloader.open(path) as frame:
        return {group.name: _group_arrays(group) for group in frame.groups}


def fill_mesh(mesh, positions, velocities, ids, frames=None):
    mesh.clear_geometry()
    count = len(positions)
    mesh.vertices.add(count)
    mesh.vertices.foreach_set("co", positions.ravel())
    velocity = mesh.attributes.get("velocity") or mesh.attributes.new("velocity", "FLOAT_VECTOR", "POINT")
    velocity.data.foreach_set("vector", velocities.ravel())
    ident = mesh.attributes.get("id") or mesh.attributes.new("id", "INT", "POINT")
    ident.data.foreach_set("value", ids.astype(np.uint32).view(np.int32))
    if frames is not None:
        frame = mesh.attributes.get("frame") or mesh.attributes.new("frame", "INT", "POINT")
        frame.data.foreach_set("value", frames.astype(np.int32))
    mesh.update()


def _new_object(name, group_name, sequence, offset, collection, live):
    mesh = bpy.data.meshes.new("%s_%s" % (name, group_name))
    obj = bpy.data.objects.new("%s_%s" % (name, group_name), mesh)
    obj[PATTERN] = sequence.pattern()
    obj[DIGITS] = sequence.digits
    obj[GROUP] = group_name
    obj[LIVE] = live
    modifier = obj.modifiers.new("Points", "NODES")
    modifier.node_group = _points_node_group()
    set_modifier_input(modifier, OFFSET_INPUT, offset)
    collection.objects.link(obj)
    return obj


def build_group_objects(name, sequence, frames, offset, collection, live=False, module_folder=""):
    """One object per particle group found in the cache frames `frames` (STORED: every
    frame read once now; LIVE: the first readable frame names the groups). `offset`:
    scene frame - cache frame. Returns (objects, {frame: reason} of the frames that could
    not be read). Raises ImportError when the nebloader module is not available."""
    nebloader = paths.import_nebloader(module_folder)
    failures, read = {}, {}
    for frame in frames:
        try:
            read[frame] = read_frame(nebloader, sequence.path(frame))
        except Exception as error:  # missing file, damaged frame: no points for it
            failures[frame] = str(error)
            continue
        if live:
            break
    names = []
    for groups in read.values():
        names += [n for n in groups if n not in names]
    objects = []
    for group_name in names:
        obj = _new_object(name, group_name, sequence, offset, collection, live)
        parts = [(f, groups[group_name]) for f, groups in read.items() if group_name in groups]
        fill_mesh(obj.data, *(np.concatenate([p[i] for _, p in parts]) for i in range(3)),
                  frames=np.concatenate([np.full(len(p[0]), f, np.int32) for f, p in parts]))
        if live:  # holds that frame now: not read again while the scene shows it
            _shown[obj.name] = (obj[PATTERN], parts[0][0])
        obj["nebu2_points"] = len(obj.data.vertices)
        objects.append(obj)
    return objects, failures


# ---------------------------------------------------------------- Geometry Nodes

def _new_socket(group, in_out, socket_type, name):
    """A group input or output. Blender 4.0 replaced group.inputs/outputs with
    group.interface."""
    if hasattr(group, "interface"):
        return group.interface.new_socket(name, in_out=in_out, socket_type=socket_type)
    return (group.inputs if in_out == "INPUT" else group.outputs).new(socket_type, name)


def _input_identifier(group, name):
    """The identifier of the group input `name` (the modifier's key), or None."""
    if hasattr(group, "interface"):
        return next((item.identifier for item in group.interface.items_tree
                     if getattr(item, "in_out", None) == "INPUT" and item.name == name), None)
    socket = group.inputs.get(name)
    return socket.identifier if socket else None


def set_modifier_input(modifier, name, value):
    modifier[_input_identifier(modifier.node_group, name)] = value


def get_modifier_input(modifier, name, default=0):
    identifier = _input_identifier(modifier.node_group, name)
    return modifier[identifier] if identifier else default


def _socket(sockets, name):
    """The socket `name` in use: nodes with a data type keep one socket of each type under
    the same name and hide the others (Blender 3.x)."""
    return next(s for s in sockets if s.name == name and s.enabled)


def _points_node_group():
    """Keeps the points whose "frame" is round(scene frame) - Frame Offset and draws them
    as small spheres (Mesh to Points)."""
    group = bpy.data.node_groups.get(NODE_GROUP)
    # A .blend of the add-on's first version has a group of this name without the filter:
    # a new one is made beside it (Blender names it "nebu2 points.001").
    if group is not None and _input_identifier(group, OFFSET_INPUT):
        return group
    group = bpy.data.node_groups.new(NODE_GROUP, "GeometryNodeTree")
    _new_socket(group, "INPUT", "NodeSocketGeometry", "Geometry")
    offset = _new_socket(group, "INPUT", "NodeSocketInt", OFFSET_INPUT)
    offset.description = "Scene frame minus cache frame"
    _new_socket(group, "OUTPUT", "NodeSocketGeometry", "Geometry")
    nodes, links = group.nodes, group.links
    source = nodes.new("NodeGroupInput")
    time = nodes.new("GeometryNodeInputSceneTime")
    rounded = nodes.new("ShaderNodeMath")
    rounded.operation = "ROUND"
    shown = nodes.new("ShaderNodeMath")  # the cache frame shown
    shown.operation = "SUBTRACT"
    frame = nodes.new("GeometryNodeInputNamedAttribute")
    frame.data_type = "INT"
    frame.inputs["Name"].default_value = "frame"
    other = nodes.new("FunctionNodeCompare")
    other.data_type = "FLOAT"
    other.operation = "NOT_EQUAL"
    _socket(other.inputs, "Epsilon").default_value = 0.01
    delete = nodes.new("GeometryNodeDeleteGeometry")
    delete.domain = "POINT"
    points = nodes.new("GeometryNodeMeshToPoints")
    points.inputs["Radius"].default_value = POINT_RADIUS
    sink = nodes.new("NodeGroupOutput")
    links.new(time.outputs["Frame"], rounded.inputs[0])
    links.new(rounded.outputs[0], shown.inputs[0])
    links.new(source.outputs[1], shown.inputs[1])
    links.new(_socket(frame.outputs, "Attribute"), _socket(other.inputs, "A"))
    links.new(shown.outputs[0], _socket(other.inputs, "B"))
    links.new(source.outputs[0], delete.inputs["Geometry"])
    links.new(other.outputs["Result"], delete.inputs["Selection"])
    links.new(delete.outputs["Geometry"], points.inputs["Mesh"])
    links.new(points.outputs["Points"], sink.inputs[0])
    for x, node in enumerate((source, time, rounded, shown, frame, other, delete, points, sink)):
        node.location = (200 * x - 800, 0)
    return group


# ---------------------------------------------------------------- live mode

def _report(kind, message):
    """To the Info log (an operator's report; from a handler it goes through a timer, as
    operators need the window manager's context)."""
    def send():
        try:
            bpy.ops.nebu2.report(kind=kind, message=message)
        except Exception:  # no context for operators (a render in the background)
            print("%s: %s" % (kind.capitalize(), message))
        return None
    if bpy.app.background:
        send()
    else:
        bpy.app.timers.register(send, first_interval=0.0)


class ReportMessage(bpy.types.Operator):
    """Puts a message of the live particles into the Info log"""

    bl_idname = "nebu2.report"
    bl_label = "nebu2 report"
    bl_options = {"INTERNAL"}

    kind: bpy.props.StringProperty(default="WARNING")
    message: bpy.props.StringProperty()

    def execute(self, context):
        self.report({self.kind}, self.message)
        return {"FINISHED"}


def _offset(obj):
    """The points modifier's Frame Offset (the user may change it there)."""
    for modifier in obj.modifiers:
        if modifier.type == "NODES" and modifier.node_group and modifier.node_group.name.startswith(NODE_GROUP):
            return get_modifier_input(modifier, OFFSET_INPUT)
    return 0


def _module_folder():
    addon = bpy.context.preferences.addons.get(__package__)
    return addon.preferences.module_path if addon else ""


def update_live(scene):
    """Refills the live objects for the scene's frame: each cache file once."""
    by_file = {}
    for obj in scene.objects:
        if obj.type == "MESH" and obj.get(LIVE, True) and PATTERN in obj and GROUP in obj:
            # The node group's Round: halves round up.
            frame = math.floor(scene.frame_current_final + 0.5) - _offset(obj)
            key = (obj[PATTERN], frame)
            if _shown.get(obj.name) != key:
                by_file.setdefault((_frame_path(obj, frame), key), []).append(obj)
    for (path, key), objects in by_file.items():
        try:
            groups = read_frame(paths.import_nebloader(_module_folder()), path)
            error = None
        except Exception as failure:  # no module, missing file, damaged frame: empty objects
            groups, error = {}, "%s: %s" % (path, failure)
        for obj in objects:
            if obj[GROUP] in groups:
                group = groups[obj[GROUP]]
                fill_mesh(obj.data, *group, frames=np.full(len(group[0]), key[1], np.int32))
            else:
                obj.data.clear_geometry()
                obj.data.update()
            _shown[obj.name] = key
        if error and key not in _reported:
            _reported.add(key)
            _report("WARNING", "nebu2 particles, frame %d: %s" % (key[1], error))


@bpy.app.handlers.persistent  # kept when another .blend is opened
def _on_frame_change(scene, depsgraph=None):
    update_live(scene)


@bpy.app.handlers.persistent
def _on_new_data(*args):
    """A .blend opened, or an undo step: the meshes hold whatever they were saved with."""
    _shown.clear()
    _reported.clear()


def _handlers():
    return ((bpy.app.handlers.frame_change_post, _on_frame_change), (bpy.app.handlers.load_post, _on_new_data),
            (bpy.app.handlers.undo_post, _on_new_data), (bpy.app.handlers.redo_post, _on_new_data))


def register():
    bpy.utils.register_class(ReportMessage)
    for handlers, handler in _handlers():
        if handler not in handlers:
            handlers.append(handler)


def unregister():
    for handlers, handler in _handlers():
        if handler in handlers:
            handlers.remove(handler)
    bpy.utils.unregister_class(ReportMessage)
