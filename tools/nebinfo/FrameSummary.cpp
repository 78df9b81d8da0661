#include "tools/nebinfo/FrameSummary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "cache/ChannelStorageInfo.h"
#include "loader/FrameFactory.h"
#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "particles/PGroup.h"
#include "zutils/FramePattern.h"
#include "zutils/ThreadReportCapture.h"

namespace NebInfo {

namespace {

const int kSpeed = 3;
const int kPackedColour = 18;

// Plug-in imports and the channel survey go through the process-wide plug-in table and a
// third-party reader; they are done one at a time.
std::mutex& foreignLoadLock() {
  static std::mutex m;
  return m;
}

// The captured report text as one line: messages joined by "; ", blanks trimmed.
std::string reasonOf(const std::string& reports, const char* fallback) {
  std::string out;
  size_t start = 0;
  while (start < reports.size()) {
    size_t end = reports.find('\n', start);
    if (end == std::string::npos) end = reports.size();
    std::string line = reports.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    if (!line.empty()) out += (out.empty() ? "" : "; ") + line;
    start = end + 1;
  }
  return out.empty() ? fallback : out;
}

const char* loadStatusText(int status) {
  switch (status) {
    case 2: return "the import plug-in is not installed";
    case 3: return "cannot open the file";
    case 4: return "broken file";
    case 9: return "no grid of the file maps to a channel";
    case 12: return "nebu2 footer missing";
    default: return "cannot load";
  }
}

std::string gridStorageOf(const GridBlockZones& z) {
  if (!z.readable) return "damaged";
  if (z.quantizedZones > 0) return "quantized";
  if (z.otherZones > 0 && z.rawZones == 0 && z.constantZones == 0) return "damaged";
  if (z.constantZones > 0 && z.rawZones > 0) return "mixed";
  if (z.constantZones > 0) return "constant";
  return "raw";
}

std::string particleStorageOf(int method) {
  switch (method) {
    case -1: return "expanded";
    case 0: return "raw";
    case 1: return "zip";
    case 2: return "block";
    case 3: return "planar-block";
    case 4: return "bitplanes";
    default: return "method " + std::to_string(method);
  }
}

const char* particleSlotName(int slot) {
  switch (slot) {
    case 0: return "position";
    case 1: return "velocity";
    case 10: return "id";
    default: return "";
  }
}

template <class T>
void accumulate(const T* values, int64_t count, int64_t stride, ValueStats& s) {
  double sum = 0.0;
  bool first = true;
  for (int64_t i = 0; i < count; i += stride) {
    const double v = static_cast<double>(values[i]);
    ++s.count;
    if (!std::isfinite(v)) {
      ++s.nonFinite;
      continue;
    }
    if (first) {
      s.minimum = s.maximum = v;
      first = false;
    }
    s.minimum = std::min(s.minimum, v);
    s.maximum = std::max(s.maximum, v);
    sum += v;
    if (v != 0.0) ++s.nonZero;
  }
  const int64_t finite = s.count - s.nonFinite;
  s.mean = finite > 0 ? sum / static_cast<double>(finite) : 0.0;
  s.present = true;
}

void describeGrid(OstraneFrameData& frame, FrameSummary& out) {
  if (out.foreign) {
    for (int c = 0; c < 32; ++c) {
      if (!frame.hasChannel(c)) continue;
      ChannelSummary s;
      s.channel = c;
      s.name = gridChannelName(c);
      s.storage = "imported";
      out.channels.push_back(s);
    }
    return;
  }
  bool overrun = false;
  const std::vector<GridChannelStorage> stored = DescribeGridChannels(frame, &overrun);
  bool has[33] = {};
  for (const GridChannelStorage& g : stored) {
    ChannelSummary s;
    s.channel = g.channel;
    s.name = gridChannelName(g.channel);
    s.storedBytes = g.storedBytes;
    s.zones = g.zones;
    s.storage = g.zip ? "zip" : gridStorageOf(g.zones);
    out.channels.push_back(s);
    if (g.channel >= 0 && g.channel < 32) has[g.channel] = true;
  }
  // Channels a host sees that have no record of their own: colour from packed colour,
  // speed from the velocity, and mask bits without data.
  for (int c = 0; c < 32; ++c) {
    const bool colour = c >= 7 && c <= 9 && has[kPackedColour];
    if (has[c] || (!colour && !frame.hasChannel(c))) continue;
    ChannelSummary s;
    s.channel = c;
    s.name = gridChannelName(c);
    if (colour || (c >= 7 && c <= 9 && (frame.channelMask & (1 << kPackedColour)))) {
      s.storage = "derived";
      s.derivedFrom = kPackedColour;
    } else if (c == kSpeed && has[4] && has[5] && has[6]) {
      s.storage = "derived";
      s.derivedFrom = 4;
    } else {
      s.storage = "missing";
    }
    out.channels.push_back(s);
  }
  std::stable_sort(out.channels.begin(), out.channels.end(),
                   [](const ChannelSummary& a, const ChannelSummary& b) { return a.channel < b.channel; });
}

void describeGroups(OstraneFrameData& frame, FrameSummary& out) {
  for (int i = 0; i < frame.groups.size; ++i) {
    PGroup& g = frame.groups[i];
    GroupSummary s;
    s.name = g.getName() ? g.getName() : "";
    s.particleCount = g.particleCount;
    s.hasPositions = g.slotHasData(0);
    for (const ParticleChannelStorage& p : DescribeParticleChannels(g)) {
      ParticleChannelSummary c;
      c.slot = p.slot;
      c.name = particleSlotName(p.slot);
      c.type = g.getChannelDataType(p.slot);
      c.components = g.getChannelComponents(p.slot);
      c.method = p.method;
      c.storage = particleStorageOf(p.method);
      c.storedBytes = p.storedBytes;
      c.zones = p.zones;
      s.channels.push_back(c);
    }
    out.groups.push_back(s);
  }
}

// Decodes the listed grid channels in ascending order, releasing each one afterwards so
// that at most the velocity or colour set is held at once (speed comes before 4, 5, 6 and
// leaves them decoded for their own turn; 7 unpacks 8 and 9 with it).
void decodeGrid(OstraneFrameData& frame, const SummaryOptions& options, std::string& reports, FrameSummary& out) {
  const int64_t cells = frame.CellCount();
  for (ChannelSummary& s : out.channels) {
    if (s.channel < 0 || s.channel >= 32 || s.channel == kPackedColour) continue;
    reports.clear();
    const float* values = frame.getChannel(s.channel);
    const std::string label = "channel " + std::to_string(s.channel) + (s.name.empty() ? "" : " (" + s.name + ")");
    if (!values) {
      out.failures.push_back(label + ": " + reasonOf(reports, "no data"));
    } else if (!reports.empty()) {
      out.failures.push_back(label + ": " + reasonOf(reports, ""));
    }
    if (values && options.statistics && cells > 0) accumulate(values, cells, 1, s.stats);
    if (!out.foreign) frame.ReleaseChannelSlot(s.channel);
  }
}

void decodeParticles(OstraneFrameData& frame, const SummaryOptions& options, std::string& reports, FrameSummary& out) {
  for (int i = 0; i < frame.groups.size && i < static_cast<int>(out.groups.size()); ++i) {
    PGroup& g = frame.groups[i];
    GroupSummary& s = out.groups[i];
    for (ParticleChannelSummary& c : s.channels) {
      reports.clear();
      const bool ok = g.decompressChannel(c.slot, true);
      const std::string label = "group \"" + s.name + "\" slot " + std::to_string(c.slot);
      const int64_t have = ok ? g.expandedParticleCount(c.slot) : 0;
      if (!ok) {
        out.failures.push_back(label + ": " + reasonOf(reports, "cannot be expanded"));
        continue;
      }
      if (!reports.empty()) out.failures.push_back(label + ": " + reasonOf(reports, ""));
      if (have < g.particleCount) {
        out.failures.push_back(label + ": holds " + std::to_string(have) + " of " + std::to_string(g.particleCount) +
                               " particles");
      }
      if (!options.statistics || have <= 0) continue;
      const PGroup::ChannelRecord& rec = g.channels[c.slot];
      const int words = PGroup::wordsPerParticle(c.slot);
      if (c.type == 7) {
        const int64_t* ids = reinterpret_cast<const int64_t*>(rec.expanded.data);
        accumulate(ids, have, 1, c.stats);
        s.hasIdRange = true;
        s.idMinimum = *std::min_element(ids, ids + have);
        s.idMaximum = *std::max_element(ids, ids + have);
      } else if (c.type == 6) {
        accumulate(reinterpret_cast<const int32_t*>(rec.expanded.data), have * words, 1, c.stats);
      } else if (words > 0) {
        accumulate(reinterpret_cast<const float*>(rec.expanded.data), have * words, 1, c.stats);
      }
    }
  }
}

}  // namespace

std::string gridChannelName(int channel) {
  if (channel == kSpeed) return "Speed";
  if (channel == kPackedColour) return "PackedColour";
  static const std::vector<std::string> names = [] {
    std::vector<std::string> table(32);
    CacheIO::GridMappingList list;
    CacheIO::ParseChannelMappings(CacheIO::NativeChannelMappings().c_str(), list);
    for (int i = 0; i < list.size; ++i) {
      if (list[i].channel >= 0 && list[i].channel < 32 && list[i].name) table[list[i].channel] = list[i].name;
    }
    return table;
  }();
  return channel >= 0 && channel < 32 ? names[channel] : std::string();
}

bool voxelSizeOf(const float t[12], double size[3]) {
  double a[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = t[3 * i + j];
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (det == 0.0 || !std::isfinite(det)) return false;
  // Row i of A^-1 is the world step of one cell along grid axis i; its entries are the
  // cofactors of column i over the determinant.
  for (int i = 0; i < 3; ++i) {
    const int j1 = (i + 1) % 3, j2 = (i + 2) % 3;
    double len2 = 0.0;
    for (int k = 0; k < 3; ++k) {
      const int k1 = (k + 1) % 3, k2 = (k + 2) % 3;
      const double cof = a[k1][j1] * a[k2][j2] - a[k1][j2] * a[k2][j1];
      len2 += (cof / det) * (cof / det);
    }
    size[i] = std::sqrt(len2);
    if (!std::isfinite(size[i])) return false;
  }
  return true;
}

void summarizeFrame(const std::string& path, const SummaryOptions& options, FrameSummary& out) {
  out = FrameSummary();
  out.path = path;
  std::string reports;
  ZUtils::ThreadReportCapture capture(&reports);
  try {
    std::unique_ptr<OstraneFrameData> frame(new (std::nothrow) OstraneFrameData);
    if (!frame) {
      out.failures.push_back("out of memory");
      return;
    }
    const std::string ext = ZUtils::fileExtensionLower(path.c_str());
    out.foreign = ext == "vdb" || ext == "f3d";
    int status;
    if (out.foreign) {
      std::lock_guard<std::mutex> lock(foreignLoadLock());
      const std::string mapping = CacheIO::GenerateDefaultChannelMappings(path.c_str());
      status = LoadFrame(frame.get(), path.c_str(), mapping.c_str(), 0.0, -1, true, false);
    } else {
      status = LoadFrame(frame.get(), path.c_str(), "", 0.0, -1, true, false);
    }
    if (status != 0) {
      out.status = status;
      out.failures.push_back(std::string(loadStatusText(status)) + " (status " + std::to_string(status) +
                             "): " + reasonOf(reports, "no reason given"));
      return;
    }
    out.loaded = true;
    out.version = frame->version;
    out.frameNumber = frame->frameNumber;
    out.hasFrameNumber = !out.foreign && frame->frameNumber != INT32_MIN;
    frame->getGridSize(out.gridSize);
    frame->getTransform(out.transform);
    out.hasVoxelSize = voxelSizeOf(out.transform, out.voxelSize);
    describeGrid(*frame, out);
    describeGroups(*frame, out);
    if (options.statistics || options.check) {
      decodeGrid(*frame, options, reports, out);
      decodeParticles(*frame, options, reports, out);
    }
  } catch (...) {
    out.failures.push_back("out of memory");
  }
}

}  // namespace NebInfo
