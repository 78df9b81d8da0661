"""The Volume object of a converted sequence and its material."""

import bpy

# Grid names neb2vdb writes, by preset.
GRID_NAMES = {
    "blender": {"density": "density", "temperature": "temperature", "flame": "flame", "velocity": "velocity",
                "color": "color"},
    "houdini": {"density": "density", "temperature": "temperature", "flame": "flame", "velocity": "vel",
                "color": "Cd"},
}

# Principled Volume multiplies the temperature attribute by its Temperature input (kelvin),
# so a cache temperature of 1 glows at 1000 K, 3 at 3000 K.
KELVIN_PER_UNIT = 1000.0
FLAME_EMISSION = 4.0
# Smoke: the Color input (Blender's default 0.5 grey) multiplies the colour grid, so white
# leaves the cache's colour as it is. Caches hold densities of about 0.1 to 1 per world
# unit; at Blender's default of 1 a plume two units tall absorbs a tenth of the light
# through it and barely shows. 5 makes it read as smoke at any size of a few units.
SMOKE_COLOR = (1.0, 1.0, 1.0, 1.0)
DENSITY = 5.0


def build_volume(name, first_file, first, last, preset, start=None):
    """A Volume object playing cache frames first..last (files first_file ...) on scene
    frames start..start + last - first (start: the first cache frame's scene frame,
    default first: scene frame N plays cache frame N). Outside that range it is empty."""
    start = first if start is None else start
    data = bpy.data.volumes.new(name)
    data.filepath = first_file
    names = GRID_NAMES[preset]
    # Blender accepts only the name of a grid it has read: the first file's grids are
    # loaded before the sequence is on. With the sequence on, the scene frame picks the
    # file, and a scene frame outside the sequence loads none ("Could not find grid").
    data.is_sequence = False
    data.grids.load()
    if any(g.name == names["velocity"] for g in data.grids):
        data.velocity_grid = names["velocity"]
    data.velocity_unit = "SECOND"  # the cache's velocities are world units per second
    data.velocity_scale = 1.0
    data.is_sequence = last > first
    # Blender loads file frame (scene - frame_start + 1) + frame_offset, scene frames
    # frame_start .. frame_start + frame_duration - 1: frame_start = start and
    # frame_offset = first - 1 give cache frame first on scene frame start.
    data.frame_start = start
    data.frame_duration = last - first + 1
    data.frame_offset = first - 1
    data.sequence_mode = "CLIP"
    obj = bpy.data.objects.new(name, data)
    data.materials.append(build_material(name, names))
    return obj


def build_material(name, names):
    """Smoke from density and colour, blackbody from temperature, emission from flame."""
    material = bpy.data.materials.new(name)
    material.use_nodes = True
    nodes = material.node_tree.nodes
    links = material.node_tree.links
    nodes.clear()
    output = nodes.new("ShaderNodeOutputMaterial")
    output.location = (400, 0)
    volume = nodes.new("ShaderNodeVolumePrincipled")
    volume.location = (100, 0)
    volume.inputs["Color"].default_value = SMOKE_COLOR
    volume.inputs["Density"].default_value = DENSITY
    volume.inputs["Density Attribute"].default_value = names["density"]
    volume.inputs["Color Attribute"].default_value = names["color"]
    volume.inputs["Temperature Attribute"].default_value = names["temperature"]
    volume.inputs["Temperature"].default_value = KELVIN_PER_UNIT
    volume.inputs["Blackbody Intensity"].default_value = 1.0
    volume.inputs["Emission Color"].default_value = (1.0, 0.45, 0.1, 1.0)
    flame = nodes.new("ShaderNodeAttribute")
    flame.attribute_type = "GEOMETRY"
    flame.attribute_name = names["flame"]
    flame.location = (-400, -200)
    scale = nodes.new("ShaderNodeMath")
    scale.operation = "MULTIPLY"
    scale.inputs[1].default_value = FLAME_EMISSION
    scale.location = (-150, -200)
    links.new(flame.outputs["Fac"], scale.inputs[0])
    links.new(scale.outputs["Value"], volume.inputs["Emission Strength"])
    links.new(volume.outputs["Volume"], output.inputs["Volume"])
    return material
