"""nebu2 cache import: File > Import > nebu2 cache (.neb).

Converts the sequence of the picked frame to OpenVDB with neb2vdb (Z-up, Blender's grid
names; frames converted before are kept while they are up to date with their cache),
then builds a Volume object that plays the cache on the scene's frames, a material for
smoke, fire and colour, and one point object per particle group, read through the
nebloader Python module and stored in the .blend, so that the scene renders anywhere.

Blender 4.2 and later read blender_manifest.toml beside this file (extensions); earlier
versions read bl_info.
"""

bl_info = {
    "name": "nebu2 cache import",
    "author": "nebloader",
    "version": (1, 1, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > nebu2 cache (.neb)",
    "description": "Converts nebu2 simulation caches with neb2vdb and loads them as volumes and points",
    "category": "Import-Export",
}

import bpy
from bpy.props import StringProperty

from . import operator, particles, paths

# Results of the last check of each preference path, shown in the preferences.
_checks = {}


def _check(prefs, key):
    if key not in _checks:
        _checks[key] = (paths.check_neb2vdb(prefs.neb2vdb_path) if key == "neb2vdb"
                        else paths.check_nebloader(prefs.module_path))
    return _checks[key]


def _recheck(key):
    def update(self, context):
        _checks.pop(key, None)
    return update


class NebPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    neb2vdb_path: StringProperty(
        name="neb2vdb", subtype="FILE_PATH", update=_recheck("neb2vdb"),
        description="The neb2vdb program (empty: $NEB2VDB, the one installed with this add-on, or neb2vdb on PATH)")
    module_path: StringProperty(
        name="nebloader Module Folder", subtype="DIR_PATH", update=_recheck("module"),
        description="The folder holding the nebloader Python package (empty: importable as it is, or installed "
                    "with this add-on)")

    def draw(self, context):
        for prop, key in (("neb2vdb_path", "neb2vdb"), ("module_path", "module")):
            self.layout.prop(self, prop)
            ok, text = _check(self, key)
            self.layout.label(text=text, icon="CHECKMARK" if ok else "ERROR")


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
