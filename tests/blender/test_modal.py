"""The add-on with a window (under Xvfb), installed the way nebloader's package installs it,
with nothing set: run by scripts/test-blender.sh as

    blender --factory-startup --enable-event-simulate --python test_modal.py -- BIG_FRAME SAMPLE_FRAME WORK_DIR PREFIX

with the add-on in PREFIX/share/blender/scripts/addons (Blender's user scripts folder
pointed there), no $NEB2VDB and no PYTHONPATH. Checks that the add-on finds PREFIX's
neb2vdb and module by itself, that an import converts in the background while the status
bar shows neb2vdb's "frame k of n", that Esc stops neb2vdb within a second (BIG_FRAME: a
sequence of 5 frames that take a while), and that a whole import through the window loads
the sequence. Ends with 'N passed, N failed' and that exit status.
"""

import os
import re
import sys
import time

import bpy

BIG, SAMPLE, WORK, PREFIX = sys.argv[sys.argv.index("--") + 1:][:4]
results = []
statuses = []
_status_text_set = bpy.types.WorkSpace.status_text_set


def record_status(workspace, text):
    if isinstance(text, str):
        statuses.append(text)
    _status_text_set(workspace, text)


bpy.types.WorkSpace.status_text_set = record_status


def expect(condition, what):
    results.append(bool(condition))
    print("PASS" if condition else "FAIL", what)
    sys.stdout.flush()


def finish():
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    sys.stdout.flush()
    os._exit(0 if all(results) else 1)


def neb2vdb_running(pattern):
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if pattern.encode() in args and os.path.basename(args[0]) == b"neb2vdb":
            return True
    return False


def start_import(path, folder, **options):
    window = bpy.context.window_manager.windows[0]
    area = max(window.screen.areas, key=lambda a: a.width * a.height)
    with bpy.context.temp_override(window=window, screen=window.screen, area=area):
        return bpy.ops.import_scene.nebu2_cache("EXEC_DEFAULT", filepath=path, output_folder=folder, **options)


def pattern_of(frame_path, folder):
    return os.path.join(folder, os.path.basename(frame_path)[:-len("0000.neb")] + "####.vdb")


def steps():
    """The test as a generator: each yield waits that many seconds (Blender runs meanwhile)."""
    import addon_utils
    addon_utils.enable("nebu2_import", default_set=True)
    from nebu2_import import convert, paths
    program = paths.find_neb2vdb("")
    expect(program and os.path.samefile(program, os.path.join(PREFIX, "bin", "neb2vdb")),
           "the installed add-on finds the installed neb2vdb (%s)" % program)
    module = paths.import_nebloader("")
    expect(os.path.realpath(module.__file__).startswith(os.path.realpath(PREFIX) + os.sep),
           "the installed add-on imports the installed module (%s)" % module.__file__)

    # Cancelled once neb2vdb has reported a frame: it ends within a second.
    folder = os.path.join(WORK, "vdb_cancelled")
    expect(start_import(BIG, folder, jobs=1) == {"RUNNING_MODAL"}, "the import runs modal with a window")
    deadline = time.monotonic() + 120
    reported = re.compile(r"frame [1-4] of 5")
    while not any(reported.search(s) for s in statuses) and time.monotonic() < deadline:
        yield 0.05
    expect(any(reported.search(s) for s in statuses), "the status bar follows neb2vdb: %s" % statuses[-1:])
    expect(neb2vdb_running(pattern_of(BIG, folder)), "neb2vdb still converts")
    # From the operator's cancel, when the window gets to the Esc, to neb2vdb's end.
    cancels = []
    cancel = convert.Conversion.cancel

    def timed_cancel(conversion):
        started = time.monotonic()
        cancel(conversion)
        cancels.append((time.monotonic() - started, neb2vdb_running(pattern_of(BIG, folder))))

    convert.Conversion.cancel = timed_cancel
    bpy.context.window_manager.windows[0].event_simulate(type="ESC", value="PRESS")
    deadline = time.monotonic() + 60
    while not cancels and time.monotonic() < deadline:
        yield 0.05
    convert.Conversion.cancel = cancel
    expect(cancels and cancels[0][0] < 1.0 and not cancels[0][1],
           "Esc stopped neb2vdb within a second (seconds, still running: %s)" % cancels)
    left = sorted(os.listdir(folder))
    expect(0 < len(left) < 5 and all(re.fullmatch(r"big_000[0-4]\.vdb", name) for name in left),
           "only finished frames are left: %s" % left)

    statuses.clear()
    before = set(bpy.data.objects)
    expect(start_import(SAMPLE, os.path.join(WORK, "vdb_modal")) == {"RUNNING_MODAL"}, "the second import runs modal")
    deadline = time.monotonic() + 120
    while not [o for o in bpy.data.objects if o not in before and o.type == "VOLUME"] and time.monotonic() < deadline:
        yield 0.1
    new = [o for o in bpy.data.objects if o not in before]
    expect(sorted(o.type for o in new) == ["MESH", "VOLUME"], "the import through the window loaded %s" % new)
    expect(any(re.search(r"frame \d+ of 10", s) for s in statuses), "progress shown: %s" % statuses[-3:])


def run(generator=steps()):
    try:
        return next(generator)
    except StopIteration:
        finish()
    except Exception:
        import traceback
        traceback.print_exc()
        results.append(False)
        finish()


bpy.app.timers.register(run, first_interval=0.5)
