"""scripts/c-abi.py check against headers changed on purpose: it must refuse every change
that breaks hosts built against the stored description unless the major version was raised,
and ask for the description to be updated for every other change.
  CAbiCheckTest.py <c-abi.py> <C compiler>"""
import os
import shutil
import subprocess
import sys
import tempfile

SCRIPT, CC = sys.argv[1], sys.argv[2]
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(SCRIPT)))
INCLUDE = os.path.join(ROOT, "loader", "include")
ORIGINAL = open(os.path.join(INCLUDE, "nebloader_c.h")).read()

# (what is changed, old text, new text, the verdict check must give)
CASES = [
    ("a field of a struct grows", "  int zip;   ", "  long long zip;", "breaks"),
    ("a field is renamed", "  int method;              /* stored method",
     "  int method_moved;              /* stored method", "breaks"),
    ("a parameter changes type", "NEB_C_API int neb_frame_channel(neb_frame* frame, int channel,",
     "NEB_C_API int neb_frame_channel(neb_frame* frame, long long channel,", "breaks"),
    ("a status changes value", "#define NEB_E_DECODE (-4)", "#define NEB_E_DECODE (-40)", "breaks"),
    ("a function goes", "NEB_C_API int neb_version_number(void);", "", "breaks"),
    ("a field is appended", "  int open_flags; ", "  int open_flags; long long appended;", "out of date"),
    ("a function is added", "NEB_C_API int neb_version_number(void);",
     "NEB_C_API int neb_version_number(void);\nNEB_C_API int neb_added(void);", "out of date"),
    ("a break with a new major version", "#define NEB_VERSION_MAJOR 1\n",
     "#define NEB_VERSION_MAJOR 2\n", "out of date"),
    ("nothing", "", "", "passes"),
]

failures = 0
for what, old, new, verdict in CASES:
    if old and old not in ORIGINAL:
        print("%s: the header no longer holds %r" % (what, old))
        failures += 1
        continue
    text = ORIGINAL.replace(old, new, 1) if old else ORIGINAL
    if what == "a break with a new major version":
        text = text.replace("  int zip;   ", "  long long zip;", 1)
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copy(os.path.join(INCLUDE, "nebloader_channels.h"), scratch)
        header = os.path.join(scratch, "nebloader_c.h")
        open(header, "w").write(text)
        run = subprocess.run([sys.executable, SCRIPT, "check", "--header", header, "--cc", CC],
                             capture_output=True, text=True)
    said = "passes" if run.returncode == 0 else "breaks" if "breaks the binary interface" in run.stderr else \
        "out of date" if "out of date" in run.stderr else "failed: " + run.stderr.strip()
    if said != verdict:
        print("%s: check %s, expected %s\n%s" % (what, said, verdict, run.stderr))
        failures += 1
sys.exit(1 if failures else 0)
