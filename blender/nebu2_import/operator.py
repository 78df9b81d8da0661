"""File > Import > nebu2 cache (.neb): convert a sequence with neb2vdb and load it."""

import os

import bpy
from bpy.props import BoolProperty, EnumProperty, IntProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

from . import convert, particles, paths, sequence, volume

ADDON = __package__


def preferences(context):
    """The add-on's preferences, or None (the module loaded without being enabled)."""
    addon = context.preferences.addons.get(ADDON)
    return addon.preferences if addon else None


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
        description="Where the OpenVDB files go (empty: 'vdb' beside the .blend, or a temporary folder of this "
                    "cache for an unsaved file)")
    preset: EnumProperty(
        name="Grid Names", default="blender",
        items=(("blender", "Blender", "density temperature flame velocity color"),
               ("houdini", "Houdini", "density temperature flame vel Cd")))
    half: BoolProperty(name="Half Floats", description="Store grids as 16-bit floats (half the size)")
    jobs: IntProperty(name="Jobs", min=0, max=256, default=0,
                      description="Frames converted at once (0: as many as the cores and memory allow)")
    particles: EnumProperty(
        name="Particles", default="STORED",
        items=(("STORED", "In the .blend", "Every frame's points stored in the .blend, shown by Geometry Nodes: "
                                           "renders anywhere, without this add-on"),
               ("LIVE", "Live", "Read from the cache on every frame change (very large counts): needs this add-on "
                                "and the nebloader module wherever it plays or renders"),
               ("NONE", "None", "No particle objects")))
    keep_frame_numbers: BoolProperty(
        name="Cache Frame Numbers", default=True,
        description="Scene frame N shows cache frame N; off: the first cache frame shows on Start Frame")
    start_frame: IntProperty(name="Start Frame", default=1,
                             description="The scene frame that shows the first cache frame")
    set_frame_range: BoolProperty(name="Set Frame Range", default=True,
                                  description="Set the scene's frame range to the frames the cache plays on")

    _conversion = None
    _timer = None

    def draw(self, context):
        layout = self.layout
        for name in ("output_folder", "preset", "half", "jobs", "particles", "keep_frame_numbers"):
            layout.prop(self, name)
        row = layout.row()
        row.enabled = not self.keep_frame_numbers
        row.prop(self, "start_frame")
        layout.prop(self, "set_frame_range")

    def execute(self, context):
        seq = sequence.find_sequence(paths.absolute(self.filepath))
        if seq is None:
            self.report({"ERROR"}, "No frame number in the file name: %s" % os.path.basename(self.filepath))
            return {"CANCELLED"}
        prefs = preferences(context)
        program = paths.find_neb2vdb(prefs.neb2vdb_path if prefs else "")
        if not program or not os.path.isfile(program):
            self.report({"ERROR"}, "neb2vdb not found: set its path in the add-on preferences")
            return {"CANCELLED"}
        folder = paths.absolute(self.output_folder) if self.output_folder else paths.default_output_folder(seq)
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
        self._timer = wm.event_timer_add(0.1, window=context.window)
        wm.modal_handler_add(self)
        self._show_progress(context)
        return {"RUNNING_MODAL"}

    def _show_progress(self, context):
        context.workspace.status_text_set("Converting %s with neb2vdb: %s (Esc to cancel)" %
                                          (os.path.basename(self._seq.pattern()), self._conversion.status()))

    def modal(self, context, event):
        if event.type == "ESC":
            self._conversion.cancel()
            self._end_modal(context)
            self.report({"WARNING"}, "Conversion cancelled: %d of %d frames done" %
                        (self._conversion.done, self._conversion.total))
            return {"CANCELLED"}
        if event.type != "TIMER":
            return {"PASS_THROUGH"}
        context.window_manager.progress_update(int(100 * self._conversion.progress))
        self._show_progress(context)
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

        start = seq.first if self.keep_frame_numbers else self.start_frame
        name = seq.prefix.rstrip("_.-") or "nebu2"
        collection = context.collection or context.scene.collection
        obj = volume.build_volume(name, paths.stored(seq.path(loaded[0], folder, ".vdb")), seq.first, seq.last,
                                  self.preset, start)
        obj["nebu2_failed_frames"] = bad
        collection.objects.link(obj)
        if self.particles != "NONE":
            self._add_particles(context, name, seq, start - seq.first, collection, bad)
        scene = context.scene
        end = start + seq.last - seq.first
        if self.set_frame_range:
            scene.frame_start, scene.frame_end = start, end
        scene.frame_set(scene.frame_current if start <= scene.frame_current <= end else start)
        for o in context.selected_objects:
            o.select_set(False)
        obj.select_set(True)
        context.view_layer.objects.active = obj
        self.report({"INFO"}, "Loaded cache frames %d-%d on scene frames %d-%d from %s (%d converted, %d of them out "
                              "of date; %d up to date; %d left out)" %
                    (seq.first, seq.last, start, end, folder, conv.converted, conv.redone, conv.skipped, len(bad)))
        return {"FINISHED"}

    def _add_particles(self, context, name, seq, offset, collection, bad):
        prefs = preferences(context)
        live = self.particles == "LIVE"
        try:
            objects, failures = particles.build_group_objects(name, seq, seq.frames, offset, collection, live,
                                                              prefs.module_path if prefs else "")
        except ImportError as error:
            self.report({"WARNING"}, "Particles left out: %s" % error)
            return
        for frame in sorted(set(failures) - set(bad)):
            self.report({"WARNING"}, "Particles of frame %d left out: %s" % (frame, failures[frame]))
        for obj in objects:
            if live:
                self.report({"INFO"}, "%s: read live from the cache on every frame change" % obj.name)
            else:
                size = obj["nebu2_points"] * 32  # position, velocity, id, frame
                self.report({"INFO"}, "%s: %d points of %d frames stored in the .blend (%s); each frame change "
                                      "keeps its own with Geometry Nodes" %
                            (obj.name, obj["nebu2_points"], len(seq.frames),
                             "%.1f MB" % (size / 1e6) if size >= 1e6 else "%.1f kB" % (size / 1e3)))


def menu_import(self, context):
    self.layout.operator(ImportNebCache.bl_idname, text="nebu2 cache (.neb)")
