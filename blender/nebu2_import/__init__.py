"""nebu2 cache import: File > Import > nebu2 cache (.neb).

Converts the sequence of the picked frame to OpenVDB with neb2vdb (Z-up, Blender's grid
names, frames already converted are kept), then builds a Volume object that plays cache
frame N on scene frame N, a material for smoke, fire and colour, and one point object per
particle group, read through the nebloader Python module.
"""

bl_info = {
    "name": "nebu2 cache import",
    "author": "nebloader",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > nebu2 cache (.neb)",
    "description": "Converts nebu2 simulation caches with neb2vdb and loads them as volumes and points",
    "category": "Import-Export",
}

import bpy
from bpy.props import StringProperty

from . import operator, particles


class NebPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    neb2vdb_path: StringProperty(
        name="neb2vdb", subtype="FILE_PATH",
        description="The neb2vdb program (empty: $NEB2VDB, or neb2vdb on PATH)")

    def draw(self, context):
        self.layout.prop(self, "neb2vdb_path")


def register():
    bpy.utils.register_class(NebPreferences)
    bpy.utils.register_class(operator.ImportNebCache)
    bpy.types.TOPBAR_MT_file_import.append(operator.menu_import)
    particles.register()


def unregister():
    particles.unregister()
    bpy.types.TOPBAR_MT_file_import.remove(operator.menu_import)
    bpy.utils.unregister_class(operator.ImportNebCache)
    bpy.utils.unregister_class(NebPreferences)
