#include "frameinfo/JsonLayout.h"

#include "frameinfo/JsonText.h"

namespace NebFrameInfo {

namespace {

std::string field(const char* name, const std::string& value) { return jsonQuoted(name) + ":" + value; }

std::string zones(const GridBlockZones& z) {
  return "," + field("zones", std::to_string(z.zoneCount)) + "," + field("raw_zones", std::to_string(z.rawZones)) +
         "," + field("constant_zones", std::to_string(z.constantZones)) + "," +
         field("quantized_zones", std::to_string(z.quantizedZones)) + "," +
         field("unreadable_zones", std::to_string(z.otherZones)) +
         (z.quantizedZones > 0 ? "," + field("step_min", jsonNumber(z.finestStep)) + "," +
                                     field("step_max", jsonNumber(z.coarsestStep)) + "," +
                                     field("diff_passes", std::to_string(z.maxPasses))
                               : std::string());
}

std::string stats(const ValueStats& s) {
  if (!s.present) return "";
  return "," + field("stats", "{" + field("min", jsonNumber(s.minimum)) + "," + field("max", jsonNumber(s.maximum)) +
                                  "," + field("mean", jsonNumber(s.mean)) + "," +
                                  field("nonzero", std::to_string(s.nonZero)) + "," +
                                  field("nonfinite", std::to_string(s.nonFinite)) + "," +
                                  field("count", std::to_string(s.count)) + "}");
}

}  // namespace

std::string jsonLayout(const FrameSummary& s, bool statistics, bool check) {
  std::string out = "{" + field("file", jsonQuoted(s.path)) + "," + field("loaded", s.loaded ? "true" : "false");
  if (check) {
    out += "," + field("sound", s.failures.empty() ? "true" : "false");
    std::string list;
    for (const std::string& f : s.failures) list += (list.empty() ? "" : ",") + jsonQuoted(f);
    out += "," + field("failures", "[" + list + "]");
  }
  if (!s.loaded) {
    out += "," + field("status", std::to_string(s.status));
    if (!check && !s.failures.empty()) out += "," + field("error", jsonQuoted(s.failures.front()));
    return out + "}\n";
  }
  out += "," + field("format", s.foreign ? "\"foreign\"" : "\"nebu2\"");
  if (!s.foreign) out += "," + field("version", std::to_string(s.version));
  out += "," + field("frame", s.hasFrameNumber ? std::to_string(s.frameNumber) : "null");
  out += "," + field("grid", "[" + std::to_string(s.gridSize[0]) + "," + std::to_string(s.gridSize[1]) + "," +
                                 std::to_string(s.gridSize[2]) + "]");
  out += "," + field("voxel_size", s.hasVoxelSize ? "[" + jsonNumber(s.voxelSize[0]) + "," +
                                                        jsonNumber(s.voxelSize[1]) + "," + jsonNumber(s.voxelSize[2]) +
                                                        "]"
                                                  : "null");
  std::string t;
  for (int i = 0; i < 12; ++i) t += (i ? "," : "") + jsonNumber(s.transform[i]);
  out += "," + field("transform", "[" + t + "]");

  std::string channels;
  for (const ChannelSummary& c : s.channels) {
    std::string o = "{" + field("name", jsonQuoted(c.name)) + "," + field("channel", std::to_string(c.channel)) + "," +
                    field("stored_bytes", c.storedBytes >= 0 ? std::to_string(c.storedBytes) : "null") + "," +
                    field("storage", jsonQuoted(c.storage));
    if (c.derivedFrom >= 0) o += "," + field("derived_from", std::to_string(c.derivedFrom));
    if (c.storedBytes >= 0 && c.storage != "zip") o += zones(c.zones);
    if (statistics) o += stats(c.stats);
    channels += (channels.empty() ? "" : ",") + o + "}";
  }
  out += "," + field("channels", "[" + channels + "]");

  std::string groups;
  for (const GroupSummary& g : s.groups) {
    std::string o = "{" + field("name", jsonQuoted(g.name)) + "," +
                    field("particles", std::to_string(g.particleCount)) + "," +
                    field("has_positions", g.hasPositions ? "true" : "false");
    if (statistics && g.hasIdRange)
      o += "," + field("id_range", "[" + std::to_string(g.idMinimum) + "," + std::to_string(g.idMaximum) + "]");
    std::string pc;
    for (const ParticleChannelSummary& c : g.channels) {
      std::string p = "{" + field("slot", std::to_string(c.slot)) + "," + field("name", jsonQuoted(c.name)) + "," +
                      field("type", std::to_string(c.type)) + "," + field("components", std::to_string(c.components)) +
                      "," + field("stored_bytes", std::to_string(c.storedBytes)) + "," +
                      field("method", std::to_string(c.method)) + "," + field("storage", jsonQuoted(c.storage));
      if (c.method == 2 || c.method == 3) p += zones(c.zones);
      if (statistics) p += stats(c.stats);
      pc += (pc.empty() ? "" : ",") + p + "}";
    }
    o += "," + field("channels", "[" + pc + "]");
    groups += (groups.empty() ? "" : ",") + o + "}";
  }
  out += "," + field("groups", "[" + groups + "]");
  return out + "}\n";
}

}  // namespace NebFrameInfo
