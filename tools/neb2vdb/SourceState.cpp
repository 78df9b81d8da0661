#include "tools/neb2vdb/SourceState.h"

#include <cstdio>

#include <openvdb/Metadata.h>

#include "tools/neb2vdb/VdbFileMetadata.h"
#include "zutils/platform/File.h"

namespace Neb2Vdb {

namespace {

const char* const kPath = "source_path";
const char* const kSize = "source_size";
const char* const kModified = "source_mtime_ns";
const char* const kOptions = "conversion_options";

// Double quotes around the name, with '"', '\' and control bytes escaped: no name can run
// into the next, whatever it holds.
std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string nameList(const std::set<std::string>& names) {
  if (names.empty()) return "all";
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : " ") + quoted(n);
  return out;
}

const char* yesNo(bool b) { return b ? "yes" : "no"; }

const char* presetName(Preset p) {
  switch (p) {
    case Preset::kBlender:
      return "blender";
    case Preset::kNative:
      return "native";
    case Preset::kHoudini:
    default:
      return "houdini";
  }
}

const char* compressionName(Compression c) {
  switch (c) {
    case Compression::kBlosc:
      return "blosc";
    case Compression::kZip:
      return "zip";
    case Compression::kNone:
      return "none";
    case Compression::kDefault:
    default:
      return "default";
  }
}

}  // namespace

std::string outputOptions(const Options& o) {
  std::string text = std::string("preset ") + presetName(o.naming.preset) + "; up-axis " + (o.naming.zUp ? "z" : "y");
  for (const auto& r : o.naming.renames) text += "; rename " + quoted(r.first) + " " + quoted(r.second);
  text += "; grids " + nameList(o.naming.selection) + "; groups " + nameList(o.groupSelection);
  text += std::string("; particles ") + yesNo(o.particles);
  std::string points;
  text += "; points-file " +
          (o.pointsFile.empty() ? std::string("none")
                                : quoted(ZUtils::platform::absolutePath(o.pointsFile.c_str(), &points) ? points
                                                                                                       : o.pointsFile));
  char tolerance[48];
  std::snprintf(tolerance, sizeof tolerance, "%a", static_cast<double>(o.tolerance));  // exact
  text += std::string("; dense ") + yesNo(o.dense) + "; tolerance " + tolerance + "; half " + yesNo(o.half) +
          "; compression " + compressionName(o.compression);
  return text;
}

SourceState sourceStateOf(const std::string& source, const std::string& options) {
  SourceState state;
  state.options = options;
  ZUtils::platform::FileStamp stamp;
  state.known = ZUtils::platform::absolutePath(source.c_str(), &state.path) &&
                ZUtils::platform::fileStamp(source.c_str(), &stamp);
  state.bytes = stamp.bytes;
  state.modifiedNs = stamp.modifiedNs;
  return state;
}

void recordSourceState(const SourceState& state, openvdb::MetaMap& metadata) {
  if (!state.known) return;
  metadata.insertMeta(kPath, openvdb::StringMetadata(state.path));
  metadata.insertMeta(kSize, openvdb::Int64Metadata(state.bytes));
  metadata.insertMeta(kModified, openvdb::Int64Metadata(state.modifiedNs));
  metadata.insertMeta(kOptions, openvdb::StringMetadata(state.options));
}

bool outputUpToDate(const std::string& output, const SourceState& now) {
  if (!now.known) return false;
  VdbFileMetadata recorded;
  if (!readVdbFileMetadata(output, recorded)) return false;
  const auto path = recorded.strings.find(kPath), options = recorded.strings.find(kOptions);
  const auto size = recorded.integers.find(kSize), modified = recorded.integers.find(kModified);
  return path != recorded.strings.end() && path->second == now.path && options != recorded.strings.end() &&
         options->second == now.options && size != recorded.integers.end() && size->second == now.bytes &&
         modified != recorded.integers.end() && modified->second == now.modifiedNs;
}

}  // namespace Neb2Vdb
