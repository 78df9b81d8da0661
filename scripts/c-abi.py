#!/usr/bin/env python3
"""The binary interface of nebloader's C header (loader/include/nebloader_c.h), described and
checked against the description kept in the tree (loader/nebloader_c.abi).

The description lists, one per line and sorted: the header's version, every constant (macro
and enum values as the compiler computes them), every function-like macro, every function
and callback type with its parameter and result types, every opaque type, and every struct
with its size and alignment and each field's offset, size and type, as this machine's C
compiler lays them out (a probe program built from the header prints them).

  c-abi.py describe [--header H] [--cc CC]         prints the description
  c-abi.py update   [--header H] [--cc CC]         writes it to loader/nebloader_c.abi
  c-abi.py check    [--header H] [--cc CC] [--stored F]

check exits 0 when the header matches the stored description. Within one major version the
interface may only grow: functions, constants, types and structs added, and fields appended
to a struct at or past its former end. Anything else (a function, constant or field removed
or changed, a struct shrunk or its fields moved) breaks hosts built against the stored
version, and check fails with "breaks" unless NEB_VERSION_MAJOR was raised. Any other
difference fails as "out of date": the description must follow the header (run update).

The parser knows the header's own style (one declaration per statement, no nested
definitions) and refuses what it does not understand rather than skip it.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HEADER = os.path.join(ROOT, "loader", "include", "nebloader_c.h")
STORED = os.path.join(ROOT, "loader", "nebloader_c.abi")
# Macros that belong to the header's mechanics, not to its interface.
SKIPPED_MACROS = {"NEB_C_API", "NEBLOADER_C_H", "NEBLOADER_CHANNELS_H"}


class HeaderError(Exception):
    pass


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def read_header(path):
    """The header's text without comments, with the local headers it includes in place."""
    text = strip_comments(open(path, encoding="utf-8").read())

    def include(match):
        name = os.path.join(os.path.dirname(path), match.group(1))
        return read_header(name) if os.path.exists(name) else match.group(0)

    return re.sub(r'#\s*include\s+"([^"]+)"', include, text)


def squeeze(text):
    text = re.sub(r"\s+", " ", text).strip()
    text = re.sub(r"\s*\*\s*", "*", text)
    text = re.sub(r"\s*([(),\[\]{}])\s*", r"\1", text)
    return text.replace("*", "* ").replace("* *", "**").replace("* )", "*)").replace("* ,", "*,").strip()


def parameter_type(parameter):
    """A parameter without its name: "const float transform[12]" -> "const float[12]"."""
    p = squeeze(parameter)
    if p == "void":
        return p
    m = re.match(r"^(.*?[\s*])([A-Za-z_][A-Za-z_0-9]*)((?:\[[0-9]*\])*)$", p)
    if not m or not m.group(1).strip():
        raise HeaderError("cannot read the parameter '%s'" % parameter)
    return squeeze(m.group(1) + m.group(3))


def signature(result, parameters):
    parts = [parameter_type(p) for p in parameters.split(",")] if parameters.strip() else []
    return "%s(%s)" % (squeeze(result), ",".join(parts))


def parse(text):
    """Declarations of the header: constants (names to compute), macros, functions,
    callbacks, opaque types and structs with their fields (name, type text, array)."""
    decl = {"constants": [], "macros": {}, "functions": {}, "callbacks": {}, "opaque": set(), "structs": {}}
    for m in re.finditer(r"^\s*#\s*define\s+([A-Za-z_][A-Za-z_0-9]*)(\([^)]*\))?[ \t]*(.*)$", text, flags=re.M):
        name, arguments, value = m.group(1), m.group(2), m.group(3).strip()
        if name in SKIPPED_MACROS or not name.startswith("NEB"):
            continue
        if arguments:
            decl["macros"][name] = squeeze(arguments + " " + value)
        elif value:
            decl["constants"].append(name)
    code = re.sub(r"^\s*#[^\n]*$", " ", text, flags=re.M)
    code = re.sub(r'extern\s+"C"\s*\{', " ", code)
    # Struct definitions, "typedef struct name { fields } name;", read first and taken out.
    struct = r"typedef\s+struct\s+([A-Za-z_0-9]+)\s*\{(.*?)\}\s*([A-Za-z_0-9]+)\s*;"
    for m in re.finditer(struct, code, flags=re.S):
        if m.group(1) != m.group(3):
            raise HeaderError("struct %s is typedef'd as %s" % (m.group(1), m.group(3)))
        fields = []
        for f in m.group(2).split(";"):
            f = squeeze(f)
            if not f:
                continue
            fm = re.match(r"^(.*?[\s*])([A-Za-z_][A-Za-z_0-9]*)((?:\[[0-9]+\])*)$", f)
            if not fm or "," in f:
                raise HeaderError("cannot read the field '%s' of %s" % (f, m.group(1)))
            fields.append((fm.group(2), squeeze(fm.group(1) + fm.group(3))))
        decl["structs"][m.group(1)] = fields
    code = re.sub(struct, " ", code, flags=re.S)
    for statement in code.split(";"):
        s = squeeze(statement)
        if s.startswith("}"):
            s = s[1:].strip()  # the end of extern "C"
        if not s:
            continue
        m = re.match(r"^enum ?[A-Za-z_0-9]*\{(.*)\}$", s)
        if m:
            for item in m.group(1).split(","):
                if item.strip():
                    decl["constants"].append(item.split("=")[0].strip())
            continue
        m = re.match(r"^typedef struct ([A-Za-z_0-9]+) ([A-Za-z_0-9]+)$", s)
        if m and m.group(1) == m.group(2):
            decl["opaque"].add(m.group(1))
            continue
        m = re.match(r"^typedef (.+)\(\* ?([A-Za-z_0-9]+)\)\((.*)\)$", s)
        if m:
            decl["callbacks"][m.group(2)] = signature(m.group(1), m.group(3))
            continue
        m = re.match(r"^NEB_C_API (.+?)([A-Za-z_][A-Za-z_0-9]*)\((.*)\)$", s)
        if m:
            decl["functions"][m.group(2)] = signature(m.group(1), m.group(3))
            continue
        raise HeaderError("cannot read the declaration '%s'" % s)
    return decl


def probe(header, decl, cc):
    """What the compiler makes of the declarations: constant values, struct layouts."""
    lines = ['#include <stddef.h>', '#include <stdio.h>', '#include "%s"' % os.path.basename(header),
             "int main(void) {"]
    for name in decl["constants"]:
        lines.append('  printf("constant %s %%lld\\n", (long long)(%s));' % (name, name))
    for name, fields in decl["structs"].items():
        lines.append('  printf("struct %s size %%zu align %%zu\\n", sizeof(%s), _Alignof(%s));' % (name, name, name))
        for field, kind in fields:
            lines.append('  printf("field %s.%s offset %%zu size %%zu type %s\\n", offsetof(%s, %s), '
                         'sizeof(((%s*)0)->%s));' % (name, field, kind, name, field, name, field))
    lines += ["  return 0;", "}"]
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "probe.c")
        program = os.path.join(scratch, "probe")
        open(source, "w").write("\n".join(lines) + "\n")
        compiled = subprocess.run([cc, "-std=c11", "-I", os.path.dirname(os.path.abspath(header)), source, "-o",
                                   program], capture_output=True, text=True)
        if compiled.returncode != 0:
            raise HeaderError("the probe does not compile:\n" + compiled.stderr)
        return subprocess.run([program], capture_output=True, text=True, check=True).stdout.splitlines()


def describe(header, cc):
    text = read_header(header)
    decl = parse(text)
    out = probe(header, decl, cc)
    version = {}
    for line in out:
        m = re.match(r"^constant NEB_VERSION_(MAJOR|MINOR|PATCH) (\d+)$", line)
        if m:
            version[m.group(1)] = m.group(2)
    if len(version) != 3:
        raise HeaderError("the header declares no NEB_VERSION_MAJOR, _MINOR and _PATCH")
    out = [l for l in out if not re.match(r"^constant NEB_VERSION_(MAJOR|MINOR|PATCH|NUMBER) ", l)]
    out.append("version %s.%s.%s" % (version["MAJOR"], version["MINOR"], version["PATCH"]))
    out += ["macro %s %s" % item for item in decl["macros"].items()]
    out += ["function %s %s" % item for item in decl["functions"].items()]
    out += ["callback %s %s" % item for item in decl["callbacks"].items()]
    out += ["opaque %s" % name for name in decl["opaque"]]
    return sorted(out)


def read_description(lines):
    d = {"version": None, "entries": {}, "structs": {}, "fields": {}}
    for line in lines:
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("version "):
            d["version"] = tuple(int(x) for x in line.split()[1].split("."))
            continue
        m = re.match(r"^struct (\S+) size (\d+) align (\d+)$", line)
        if m:
            d["structs"][m.group(1)] = (int(m.group(2)), int(m.group(3)))
            continue
        m = re.match(r"^field (\S+)\.(\S+) offset (\d+) size (\d+) type (.+)$", line)
        if m:
            d["fields"].setdefault(m.group(1), {})[m.group(2)] = (int(m.group(3)), int(m.group(4)), m.group(5))
            continue
        kind, name, value = (line.split(" ", 2) + [""])[:3]
        d["entries"][(kind, name)] = value
    return d


def breaks(old, new):
    """What of `old` hosts rely on that `new` no longer gives them."""
    found = []
    for (kind, name), value in sorted(old["entries"].items()):
        if (kind, name) not in new["entries"]:
            found.append("%s %s removed" % (kind, name))
        elif new["entries"][(kind, name)] != value:
            found.append("%s %s changed: %s -> %s" % (kind, name, value, new["entries"][(kind, name)]))
    for name, (size, align) in sorted(old["structs"].items()):
        if name not in new["structs"]:
            found.append("struct %s removed" % name)
            continue
        new_size, new_align = new["structs"][name]
        if new_size < size:
            found.append("struct %s shrank from %d to %d bytes" % (name, size, new_size))
        if new_align != align:
            found.append("struct %s alignment changed from %d to %d" % (name, align, new_align))
        old_fields = old["fields"].get(name, {})
        new_fields = new["fields"].get(name, {})
        for field, layout in sorted(old_fields.items()):
            if field not in new_fields:
                found.append("field %s.%s removed" % (name, field))
            elif new_fields[field] != layout:
                found.append("field %s.%s changed: offset %d size %d %s -> offset %d size %d %s" %
                             ((name, field) + layout + new_fields[field]))
        for field, (offset, _, _) in sorted(new_fields.items()):
            if field not in old_fields and offset < size:
                found.append("field %s.%s added at offset %d, inside the %d bytes hosts built against the "
                             "stored version set as the size" % (name, field, offset, size))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("action", choices=["describe", "update", "check"])
    parser.add_argument("--header", default=HEADER)
    parser.add_argument("--cc", default=os.environ.get("CC", "cc"))
    parser.add_argument("--stored", default=STORED)
    args = parser.parse_args()
    try:
        current = describe(args.header, args.cc)
    except (HeaderError, subprocess.CalledProcessError, OSError) as e:
        print("c-abi: %s" % e, file=sys.stderr)
        return 2
    if args.action == "describe":
        print("\n".join(current))
        return 0
    if args.action == "update":
        with open(args.stored, "w") as f:
            f.write("# The binary interface of nebloader_c.h (scripts/c-abi.py update writes it; check holds\n"
                    "# the header to it). Offsets and sizes are those of 64-bit Linux and Windows alike.\n")
            f.write("\n".join(current) + "\n")
        return 0
    stored_lines = open(args.stored).read().splitlines()
    old, new = read_description(stored_lines), read_description(current)
    found = breaks(old, new)
    if found and new["version"][0] == old["version"][0]:
        print("c-abi: the header breaks the binary interface of version %d.%d.%d without raising "
              "NEB_VERSION_MAJOR:" % old["version"], file=sys.stderr)
        for f in found:
            print("  " + f, file=sys.stderr)
        return 1
    stored = sorted(l for l in stored_lines if l.strip() and not l.startswith("#"))
    if stored != current:
        added = sorted(set(current) - set(stored))
        removed = sorted(set(stored) - set(current))
        print("c-abi: %s is out of date: run scripts/c-abi.py update (and raise NEB_VERSION_MINOR for "
              "additions)" % os.path.relpath(args.stored, ROOT), file=sys.stderr)
        for l in removed:
            print("  - " + l, file=sys.stderr)
        for l in added:
            print("  + " + l, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
