// What an output file was made from, and the rule by which --skip-existing keeps it.
//
// Every file neb2vdb writes records, in its file metadata beside "frame", "source_file",
// "converter" and "converter_version":
//   "source_path"         string  the source's absolute path (as given, made absolute
//                                 against the current folder; links are not resolved)
//   "source_size"         int64   its size in bytes
//   "source_mtime_ns"     int64   its last modification, nanoseconds since 1970-01-01
//                                 UTC, at the file system's precision
//   "conversion_options"  string  the options that change what is written (outputOptions)
// The source is examined before it is read: a source rewritten while it converts leaves an
// older time in the record, and the next run converts it again.
//
// An existing output is up to date, and --skip-existing leaves it, only when it records
// the same four values the source and the options give now. Anything else converts again:
// a source re-simulated (another time, whatever its size), another cache of the same name
// in another folder, other options, a file of an earlier neb2vdb (no record) or a damaged
// or foreign file (no readable record). The converter's version is not part of the rule:
// a new neb2vdb keeps the files an older one wrote with the same record.
#pragma once

#include <cstdint>
#include <string>

#include <openvdb/MetaMap.h>

#include "tools/neb2vdb/Options.h"

namespace Neb2Vdb {

struct SourceState {
  bool known = false;  // the source could be examined; an unknown state is never up to date
  std::string path;
  int64_t bytes = 0;
  int64_t modifiedNs = 0;
  std::string options;
};

// Every option that changes the output as "name value", joined by "; " in a fixed order,
// with the values the parser settled on (a preset's implied up axis, the renames and
// selections sorted, names quoted): two command lines that write the same files give the
// same text. --frames, --jobs,
// --quiet and --skip-existing change nothing written and are left out.
std::string outputOptions(const Options& options);

// The state of `source` now, with `options` (outputOptions) attached.
SourceState sourceStateOf(const std::string& source, const std::string& options);

// Adds the record of `state` to a file's metadata; nothing when the state is unknown.
void recordSourceState(const SourceState& state, openvdb::MetaMap& metadata);

// Whether the file at `output` records exactly `now`. Reads only the file's header and
// metadata (VdbFileMetadata); false for a missing, damaged or foreign file.
bool outputUpToDate(const std::string& output, const SourceState& now);

}  // namespace Neb2Vdb
