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


def build_volume(name, first_file, first, last, preset):
    """A Volume object playing cache frame N on scene frame N (files first..last)."""
    data = bpy.data.volumes.new(name)
    data.filepath = first_file
    data.is_sequence = last > first
    # Blender loads file frame (scene - frame_start + 1) + frame_offset, counted within
    # 1..frame_duration: frame_start = first and frame_offset = first - 1 give N for N.
    data.frame_start = first
    data.frame_duration = last - first + 1
    data.frame_offset = first - 1
    data.sequence_mode = "CLIP"
    names = GRID_NAMES[preset]
    # Blender accepts only the name of a grid it has read.
    data.grids.load()
    data.velocity_grid = names["velocity"]
    data.velocity_unit = "SECOND"  # the cache's velocities are world units per second
    data.velocity_scale = 1.0
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
