// neb2vdb's command line: GNU-style long options ("--opt VALUE" or "--opt=VALUE"), a few
// short ones (-f -j -q -h -V), "--" ends the options. Exactly two names must remain:
// the source and the destination (patterns with a frame token when --frames is given,
// literal file names otherwise).
#pragma once

#include <set>
#include <string>

#include "zutils/FrameList.h"
#include "vdb/GridNaming.h"

namespace Neb2Vdb {

// The grid planning of the conversion engine (vdb/GridNaming.h), named by the options.
using NebVdb::GridPlan;
using NebVdb::NamingRules;
using NebVdb::Preset;
using NebVdb::isPresetGridName;
using NebVdb::planGrids;
using NebVdb::presetFromName;

// File compression of the written grids.
enum class Compression { kDefault, kBlosc, kZip, kNone };

struct Options {
  std::string source, destination;
  bool framesGiven = false;
  ZUtils::FrameList frames;
  bool skipExisting = false;
  float tolerance = 0.0f;
  bool dense = false;
  NamingRules naming;
  bool half = false;
  Compression compression = Compression::kDefault;
  bool particles = true;
  // Particle groups named in --channels (names that are no grid name of the preset). Empty:
  // every group; else only these groups (original or written name).
  std::set<std::string> groupSelection;
  // --points-file: the particle groups go to this file (pattern with --frames) instead of
  // the volume file. Empty: one file.
  std::string pointsFile;
  int jobs = 0;  // 0: as many as the cores and the memory allow
  bool quiet = false;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

// `error` holds the message of a usage error (without the program name).
ParseOutcome parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

const char* helpText();
// "neb2vdb <version>\n" followed by the versions of what it is built with.
std::string versionText();
extern const char* const kConverterVersion;

}  // namespace Neb2Vdb
