#include "tools/neb2vdb/Options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <openvdb/version.h>

#include "nebloader.h"

namespace Neb2Vdb {

// The product version, set by the project's CMake version.
const char* const kConverterVersion = NEBLOADER_VERSION;

const char* helpText() {
  return "Usage: neb2vdb [OPTION]... SOURCE DESTINATION\n"
         "Convert nebu2 cache frames (.neb) to OpenVDB files (.vdb).\n"
         "\n"
         "With --frames, SOURCE and DESTINATION are patterns with a frame token ('####' =\n"
         "four digits, zero padded; also %04d and <frame04>); without it they are single files.\n"
         "\n"
         "  -f, --frames=LIST        frames to convert: A-B, A-BxSTEP or N, comma separated\n"
         "      --skip-existing      leave frames whose output is up to date: it records\n"
         "                           the source's path, size and modification time as\n"
         "                           they are now, and these output options; any other\n"
         "                           output is converted again (removed if that fails)\n"
         "      --dense              keep every cell as an active voxel (default: sparse,\n"
         "                           cells with |value| <= tolerance inactive and pruned)\n"
         "      --tolerance=T        largest magnitude treated as empty (default 0)\n"
         "      --preset=NAME        grid names: houdini (default: density temperature flame\n"
         "                           vel Cd), blender (density temperature flame velocity\n"
         "                           color), native (volconvert's names, split components)\n"
         "      --rename=OLD=NEW     write the grid or particle group OLD as NEW (repeatable)\n"
         "      --channels=LIST      write only these grids and particle groups (comma\n"
         "                           separated preset grid names or group names)\n"
         "      --up-axis=AXIS       y keeps the cache's Y-up world; z turns it to Z-up\n"
         "                           (grids, vectors and particles; default: z for the\n"
         "                           blender preset, y otherwise)\n"
         "      --half               store float grids as 16-bit halves\n"
         "      --compression=C      blosc, zip or none (default: OpenVDB's default)\n"
         "      --no-particles       leave out the particle groups\n"
         "      --points-file=FILE   write the particle groups to FILE (a pattern with\n"
         "                           --frames) instead of the volume file\n"
         "  -j, --jobs=N             frames converted at once, and the threads the run uses\n"
         "                           in all (default: the cores; fewer frames at once when\n"
         "                           the memory or NEB_MEMORY_LIMIT_MB is short)\n"
         "  -q, --quiet              print errors only\n"
         "  -h, --help               show this help and exit\n"
         "  -V, --version            show the version and exit\n"
         "\n"
         "Exit status: 0 all frames converted (or skipped), 1 some frames failed (each is\n"
         "listed), 2 usage error.\n"
         "\n"
         "Examples:\n"
         "  neb2vdb fire_####.neb out/fire_####.vdb --frames 1-240\n"
         "  neb2vdb fire_0042.neb fire_0042.vdb\n";
}

std::string versionText() {
  char sdk[32];
  std::snprintf(sdk, sizeof sdk, "0x%x", OstraneSDKGetVersionNumber());
  return std::string("neb2vdb ") + kConverterVersion + "\nnebu2 reader (Ostrane SDK version " + sdk +
         "), OpenVDB " + OPENVDB_LIBRARY_VERSION_STRING + "\n";
}

namespace {

// One option of the table: long name, short letter (0: none), takes a value.
struct OptionDef {
  const char* name;
  char letter;
  bool value;
};

const OptionDef kOptionDefs[] = {{"frames", 'f', true},        {"skip-existing", 0, false}, {"dense", 0, false},
                       {"tolerance", 0, true},       {"preset", 0, true},         {"rename", 0, true},
                       {"channels", 0, true},        {"half", 0, false},          {"compression", 0, true},
                       {"no-particles", 0, false},   {"jobs", 'j', true},         {"quiet", 'q', false},
                       {"help", 'h', false},         {"version", 'V', false},     {"up-axis", 0, true},
                       {"points-file", 0, true}};

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

// Applies one option; false with `error` set for a bad value.
bool apply(const std::string& name, const std::string& value, Options& o, std::vector<std::string>& channels,
           char& upAxis, std::string& error) {
  if (name == "frames") {
    o.framesGiven = true;
    ZUtils::FrameListError why;
    if (o.frames.parse(value.c_str(), &why)) return true;
    error = "invalid frame range '" + why.item + "' " +
            (why.kind == ZUtils::FrameListError::kSyntax ? "(expected A-B, A-BxSTEP or N)"
                                                         : "(the end precedes the start or the step is below 1)");
    return false;
  }
  if (name == "skip-existing") o.skipExisting = true;
  else if (name == "dense") o.dense = true;
  else if (name == "half") o.half = true;
  else if (name == "no-particles") o.particles = false;
  else if (name == "quiet") o.quiet = true;
  else if (name == "tolerance") {
    char* end = nullptr;
    errno = 0;
    const float t = std::strtof(value.c_str(), &end);
    if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(t) || t < 0) {
      error = "invalid tolerance '" + value + "' (a number >= 0 expected)";
      return false;
    }
    o.tolerance = t;
  } else if (name == "preset") {
    if (!presetFromName(value, o.naming.preset)) {
      error = "unknown preset '" + value + "' (houdini, blender or native)";
      return false;
    }
  } else if (name == "rename") {
    const size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == value.size()) {
      error = "invalid rename '" + value + "' (OLD=NEW expected)";
      return false;
    }
    o.naming.renames[value.substr(0, eq)] = value.substr(eq + 1);
  } else if (name == "channels") {
    for (const std::string& c : splitList(value)) channels.push_back(c);
  } else if (name == "up-axis") {
    if (value != "y" && value != "z") {
      error = "unknown up axis '" + value + "' (y or z)";
      return false;
    }
    upAxis = value[0];
  } else if (name == "points-file") {
    if (value.empty()) {
      error = "empty --points-file name";
      return false;
    }
    o.pointsFile = value;
  } else if (name == "compression") {
    if (value == "blosc") o.compression = Compression::kBlosc;
    else if (value == "zip") o.compression = Compression::kZip;
    else if (value == "none") o.compression = Compression::kNone;
    else {
      error = "unknown compression '" + value + "' (blosc, zip or none)";
      return false;
    }
  } else if (name == "jobs") {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1024) {
      error = "invalid job count '" + value + "' (1 to 1024)";
      return false;
    }
    o.jobs = int(n);
  }
  return true;
}

}  // namespace

ParseOutcome parseOptions(int argc, const char* const* argv, Options& o, std::string& error) {
  std::vector<std::string> names, channels;
  bool help = false, version = false, optionsEnd = false;
  char upAxis = 0;  // 'y', 'z' or 0: the preset's
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] ? argv[i] : "";
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      names.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    const OptionDef* def = nullptr;
    std::string value;
    bool inlineValue = false;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      for (const OptionDef& s : kOptionDefs)
        if (name == s.name) def = &s;
      if (eq != std::string::npos) {
        inlineValue = true;
        value = arg.substr(eq + 1);
      }
    } else {
      for (const OptionDef& s : kOptionDefs)
        if (s.letter && arg[1] == s.letter) def = &s;
      if (def && arg.size() > 2) {
        inlineValue = true;  // -j2
        value = arg.substr(2);
      }
    }
    if (!def) {
      error = "unknown option '" + arg + "'";
      return ParseOutcome::kUsageError;
    }
    if (def->value && !inlineValue) {
      if (i + 1 >= argc) {
        error = "option '--" + std::string(def->name) + "' needs a value";
        return ParseOutcome::kUsageError;
      }
      value = argv[++i] ? argv[i] : "";
    } else if (!def->value && inlineValue) {
      error = "option '--" + std::string(def->name) + "' takes no value";
      return ParseOutcome::kUsageError;
    }
    if (std::strcmp(def->name, "help") == 0) help = true;
    else if (std::strcmp(def->name, "version") == 0) version = true;
    else if (!apply(def->name, value, o, channels, upAxis, error)) return ParseOutcome::kUsageError;
  }
  if (help) return ParseOutcome::kHelp;
  if (version) return ParseOutcome::kVersion;
  o.naming.zUp = upAxis ? upAxis == 'z' : o.naming.preset == Preset::kBlender;
  // A name that no grid of the preset can have is a particle group's: group names are
  // only known once a frame is read.
  for (const std::string& c : channels) {
    if (c.empty()) {
      error = "empty name in --channels";
      return ParseOutcome::kUsageError;
    }
    bool grid = isPresetGridName(o.naming.preset, c);
    for (const auto& r : o.naming.renames) grid = grid || (r.second == c && isPresetGridName(o.naming.preset, r.first));
    if (grid) o.naming.selection.insert(c);
    else o.groupSelection.insert(c);
  }
  // Groups alone: no grid is selected, which an empty grid selection would not say.
  if (o.naming.selection.empty() && !o.groupSelection.empty()) o.naming.selection.insert(std::string());
  if (!o.pointsFile.empty() && !o.particles) {
    error = "--points-file and --no-particles exclude each other";
    return ParseOutcome::kUsageError;
  }
  if (names.size() != 2) {
    error = names.size() < 2 ? "missing source or destination name" : "too many names: '" + names[2] + "'";
    return ParseOutcome::kUsageError;
  }
  o.source = names[0];
  o.destination = names[1];
  if (o.source.empty() || o.destination.empty()) {
    error = "empty source or destination name";
    return ParseOutcome::kUsageError;
  }
  return ParseOutcome::kRun;
}

}  // namespace Neb2Vdb
