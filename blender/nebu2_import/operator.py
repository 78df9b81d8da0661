"""File > Import > nebu2 cache (.neb): convert a sequence with neb2vdb and load it."""

import os
import tempfile

import bpy
from bpy.props import BoolProperty, EnumProperty, IntProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

from . import convert, particles, sequence, volume

ADDON = __package__


def default_output_folder(seq):
    """Beside the saved .blend (vdb/<name>), or a temporary folder for an unsaved file."""
    stem = seq.prefix.rstrip("_.-") or "cache"
    if bpy.data.filepath:
        return os.path.join(os.path.dirname(bpy.data.filepath), "vdb", stem)
    return os.path.join(tempfile.gettempdir(), "nebu2_vdb", stem)


class ImportNebCache(bpy.types.Operator, ImportHelper):
    """Convert a nebu2 cache sequence to OpenVDB with neb2vdb and load it as a volume,
    with a material and the particle groups as point objects"""

    bl_idname = "import_scene.nebu2_cache"
    bl_label = "Import nebu2 cache"
    bl_options = {"REGISTER", "UNDO"}

    filename_ext = ".neb"
    filter_glob: StringProperty(default="*.neb", options={"HIDDEN"})
    output_folder: StringProperty(
        name="Output Folder", subtype="DIR_PATH",
        description="Where the OpenVDB files go (empty: 'vdb' beside the .blend, or a temporary folder)")
    preset: EnumProperty(
        name="Grid Names", default="blender",
        items=(("blender", "Blender", "density temperature flame velocity color"),
               ("houdini", "Houdini", "density temperature flame vel Cd")))
    half: BoolProperty(name="Half Floats", description="Store grids as 16-bit floats (half the size)")
    jobs: IntProperty(name="Jobs", min=0, max=256, default=0,
                      description="Frames converted at once (0: as many as the cores and memory allow)")
    particles: BoolProperty(name="Particles", default=True,
                            description="Add one point object per particle group")

    _conversion = None
    _timer = None

    def execute(self, context):
        seq = sequence.find_sequence(self.filepath)
        if seq is None:
            self.report({"ERROR"}, "No frame number in the file name: %s" % os.path.basename(self.filepath))
            return {"CANCELLED"}
        program = convert.find_neb2vdb(context.preferences.addons[ADDON].preferences.neb2vdb_path)
        if not program or not os.path.isfile(program):
            self.report({"ERROR"}, "neb2vdb not found: set its path in the add-on preferences")
            return {"CANCELLED"}
        folder = bpy.path.abspath(self.output_folder) if self.output_folder else default_output_folder(seq)
        self._seq = seq
        self._folder = folder
        self._conversion = convert.Conversion(program, seq.pattern(), seq.pattern(folder, ".vdb"), seq.first,
                                              seq.last, self.preset, self.half, self.jobs)
        if not self._conversion.start():
            self.report({"ERROR"}, "; ".join(self._conversion.messages))
            return {"CANCELLED"}
        if bpy.app.background or context.window is None:
            self._conversion.wait()
            return self._finish(context)
        wm = context.window_manager
        wm.progress_begin(0, 100)
        self._timer = wm.event_timer_add(0.2, window=context.window)
        wm.modal_handler_add(self)
        context.workspace.status_text_set("Converting %d nebu2 frames with neb2vdb (Esc to cancel)" %
                                          (seq.last - seq.first + 1))
        return {"RUNNING_MODAL"}

    def modal(self, context, event):
        wm = context.window_manager
        if event.type == "ESC":
            self._conversion.cancel()
            self._end_modal(context)
            self.report({"WARNING"}, "Conversion cancelled: %d of %d frames converted" %
                        (self._conversion.done, self._conversion.total))
            return {"CANCELLED"}
        if event.type != "TIMER":
            return {"PASS_THROUGH"}
        wm.progress_update(int(100 * self._conversion.progress))
        if not self._conversion.poll():
            return {"RUNNING_MODAL"}
        self._end_modal(context)
        return self._finish(context)

    def _end_modal(self, context):
        wm = context.window_manager
        if self._timer:
            wm.event_timer_remove(self._timer)
        wm.progress_end()
        context.workspace.status_text_set(None)

    def _finish(self, context):
        conv, seq, folder = self._conversion, self._seq, self._folder
        if conv.exit_code not in (0, 1):  # 2: usage; other: the program died
            self.report({"ERROR"}, "neb2vdb failed (exit status %s): %s" % (conv.exit_code, " ".join(conv.messages)))
            return {"CANCELLED"}
        missing = seq.missing()
        bad = sorted(set(conv.failures) | set(missing))
        for frame in bad:
            self.report({"WARNING"}, "Frame %d left out: %s" % (frame, conv.failures.get(frame, "no cache file")))
        loaded = [f for f in range(seq.first, seq.last + 1) if os.path.isfile(seq.path(f, folder, ".vdb"))]
        if not loaded:
            self.report({"ERROR"}, "No frame could be converted")
            return {"CANCELLED"}

        name = seq.prefix.rstrip("_.-") or "nebu2"
        collection = context.collection or context.scene.collection
        obj = volume.build_volume(name, seq.path(loaded[0], folder, ".vdb"), seq.first, seq.last, self.preset)
        obj["nebu2_failed_frames"] = bad
        collection.objects.link(obj)
        groups = []
        if self.particles:
            try:
                groups = particles.build_group_objects(name, seq, loaded[0], collection)
            except ImportError:
                self.report({"WARNING"}, "Particles left out: the nebloader Python module is not available")
            except Exception as error:  # a damaged first frame: the volume still loads
                self.report({"WARNING"}, "Particles left out: %s" % error)
        scene = context.scene
        scene.frame_start, scene.frame_end = seq.first, seq.last
        scene.frame_set(scene.frame_current if seq.first <= scene.frame_current <= seq.last else seq.first)
        for o in context.selected_objects:
            o.select_set(False)
        obj.select_set(True)
        context.view_layer.objects.active = obj
        self.report({"INFO"}, "Loaded frames %d-%d from %s (%d converted, %d converted before, %d left out)" %
                    (seq.first, seq.last, folder, conv.converted, conv.skipped, len(bad)))
        return {"FINISHED"}


def menu_import(self, context):
    self.layout.operator(ImportNebCache.bl_idname, text="nebu2 cache (.neb)")
