#include "frameinfo/FrameSummary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "frameinfo/Imports.h"
#include "frameinfo/Reasons.h"
#include "frameinfo/TextResult.h"
#include "nebloader_c.h"

namespace NebFrameInfo {

namespace {

const int kSpeed = 3;
const int kPackedColour = 18;

// Closes the frame when the summary is done.
struct FrameCloser {
  neb_frame* frame = nullptr;
  ~FrameCloser() { neb_frame_close(frame); }
};

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

GridBlockZones zonesOf(const neb_block_zones& z) {
  GridBlockZones out;
  out.readable = z.readable != 0;
  out.zoneCount = z.zone_count;
  out.rawZones = z.raw_zones;
  out.constantZones = z.constant_zones;
  out.quantizedZones = z.quantized_zones;
  out.otherZones = z.other_zones;
  out.finestStep = z.finest_step;
  out.coarsestStep = z.coarsest_step;
  out.maxPasses = z.max_passes;
  return out;
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

void describeGrid(neb_frame* frame, FrameSummary& out) {
  if (out.foreign) {
    for (int c = 0; c < 32; ++c) {
      if (neb_frame_has_channel(frame, c) != 1) continue;
      ChannelSummary s;
      s.channel = c;
      s.name = gridChannelName(c);
      s.storage = "imported";
      out.channels.push_back(s);
    }
    return;
  }
  bool has[33] = {};
  const int records = neb_frame_grid_record_count(frame);
  for (int i = 0; i < records; ++i) {
    neb_grid_record g{};
    g.size = sizeof g;
    if (neb_frame_grid_record(frame, i, &g) != NEB_OK) continue;
    ChannelSummary s;
    s.channel = g.channel;
    s.name = gridChannelName(g.channel);
    s.storedBytes = g.stored_bytes;
    s.zones = zonesOf(g.zones);
    s.storage = g.zip ? "zip" : gridStorageOf(s.zones);
    out.channels.push_back(s);
    if (g.channel >= 0 && g.channel < 32) has[g.channel] = true;
  }
  unsigned long long mask = 0;
  neb_frame_grid_mask(frame, &mask);
  // Channels a host sees that have no record of their own: colour from packed colour,
  // speed from the velocity, and mask bits without data.
  for (int c = 0; c < 32; ++c) {
    const bool colour = c >= 7 && c <= 9 && has[kPackedColour];
    if (has[c] || (!colour && neb_frame_has_channel(frame, c) != 1)) continue;
    ChannelSummary s;
    s.channel = c;
    s.name = gridChannelName(c);
    if (colour || (c >= 7 && c <= 9 && (mask & (1ull << kPackedColour)))) {
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

void describeGroups(neb_frame* frame, FrameSummary& out) {
  const int count = neb_frame_stored_group_count(frame);
  for (int i = 0; i < count; ++i) {
    neb_group* g = nullptr;
    if (neb_frame_stored_group(frame, i, &g) != NEB_OK) continue;
    GroupSummary s;
    s.name = groupName(g);
    s.particleCount = neb_group_stored_count(g);
    neb_slot_record position{};
    position.size = sizeof position;
    s.hasPositions = neb_group_slot_record(g, 0, &position) == NEB_OK;
    for (int slot = 0; slot < NEB_SLOTS; ++slot) {
      neb_slot_record p{};
      p.size = sizeof p;
      if (neb_group_slot_record(g, slot, &p) != NEB_OK) continue;
      ParticleChannelSummary c;
      c.slot = slot;
      c.name = particleSlotName(slot);
      neb_slot_layout(slot, nullptr, &c.components, &c.type);
      c.method = p.method;
      c.storage = particleStorageOf(p.method);
      c.storedBytes = p.stored_bytes;
      c.zones = zonesOf(p.zones);
      s.channels.push_back(c);
    }
    out.groups.push_back(s);
  }
}

int64_t cellCount(const int size[3]) {
  if (size[0] < 0 || size[1] < 0 || size[2] < 0) return -1;
  int64_t xy = 0, cells = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(size[0]), static_cast<int64_t>(size[1]), &xy)) return -1;
  if (__builtin_mul_overflow(xy, static_cast<int64_t>(size[2]), &cells)) return -1;
  return cells;
}

// Decodes the listed grid channels of an imported frame in ascending order, releasing each
// one afterwards.
void decodeImportedGrid(neb_frame* frame, const SummaryOptions& options, std::string& reports, FrameSummary& out) {
  const int64_t cells = cellCount(out.gridSize);
  for (ChannelSummary& s : out.channels) {
    if (s.channel < 0 || s.channel >= 32 || s.channel == kPackedColour) continue;
    reports.clear();
    const float* values = nullptr;
    if (neb_frame_channel(frame, s.channel, &values) != NEB_OK) values = nullptr;
    if (!values) {
      out.failures.push_back(channelLabel(s.channel) + ": " + reasonOf(reports, "no data"));
    } else if (!reports.empty()) {
      out.failures.push_back(channelLabel(s.channel) + ": " + reasonOf(reports, ""));
    }
    if (values && options.statistics && cells > 0) accumulate(values, cells, 1, s.stats);
  }
}

// One listed grid channel of a nebu2 frame read slab by slab.
struct SlabChannel {
  ChannelSummary* summary = nullptr;
  int source = -1;       // neb_slab_open_channel's source; -1 not open
  bool alive = false;    // opened, and every slab so far read
  std::string reports;   // what its open and reads reported
  std::unique_ptr<StatsAccumulator> stats;
};

const int kSlabLayers = 8;

// Reads the listed grid channels of a nebu2 frame in slabs of 8 layers, all channels of a
// slab before the next, holding one slab at a time. The results are those of decoding each
// channel whole in ascending order, with the reports each decode makes: channels are opened
// in that order, and a component of the velocity that derived speed reads is read before
// speed and its reports go to speed, as the whole decode of speed makes them.
void decodeGridSlabs(neb_frame* frame, const SummaryOptions& options, std::string& reports, FrameSummary& out) {
  const int64_t cells = cellCount(out.gridSize);
  std::vector<SlabChannel> wanted(32);
  std::vector<ChannelSummary*> listed;
  for (ChannelSummary& s : out.channels) {
    if (s.channel < 0 || s.channel >= 32 || s.channel == kPackedColour) continue;
    listed.push_back(&s);
    wanted[s.channel].summary = &s;
  }
  reports.clear();
  neb_slab_reader* reader = nullptr;
  if (neb_slab_reader_open(frame, &reader) != NEB_OK) {
    for (ChannelSummary* s : listed)
      out.failures.push_back(channelLabel(s->channel) + ": " + reasonOf(reports, "no data"));
    return;
  }
  struct ReaderCloser {
    neb_slab_reader* r;
    ~ReaderCloser() { neb_slab_reader_close(r); }
  } closer{reader};
  for (ChannelSummary* s : listed) {
    SlabChannel& c = wanted[s->channel];
    reports.clear();
    int source = -1;
    if (neb_slab_open_channel(reader, s->channel, &source) == NEB_OK) {
      c.source = source;
      c.alive = true;
      if (options.statistics && cells > 0) c.stats.reset(new StatsAccumulator(s->stats));
    }
    c.reports += reports;
  }
  // Derived speed reads the velocity; its components are read first, each on its own, and
  // what they report belongs to speed (the whole decode of speed decodes them).
  const bool derivedSpeed = wanted[kSpeed].alive && wanted[kSpeed].source == 4;
  std::string velocityReports[3];
  std::vector<int> order;
  if (derivedSpeed) order = {4, 5, 6, kSpeed};
  for (ChannelSummary* s : listed)
    if (!derivedSpeed || s->channel < kSpeed || s->channel > 6) order.push_back(s->channel);

  const int64_t layer = cells > 0 ? static_cast<int64_t>(out.gridSize[0]) * out.gridSize[1] : 0;
  const int nz = cells > 0 ? out.gridSize[2] : 0;
  // Slabs of 8 layers, fewer when 8 would pass the library's memory limit (the grid size
  // comes from the file); a single layer past it fails every channel, as the whole decode
  // fails for want of memory.
  const long long limitFloats = static_cast<long long>(neb_memory_limit() / sizeof(float));
  int height = std::min(nz, kSlabLayers);
  if (layer > 0 && height > limitFloats / layer) height = static_cast<int>(std::min<long long>(height, limitFloats / layer));
  const int64_t capacity = layer * height;
  bool anyAlive = false;
  for (ChannelSummary* s : listed) anyAlive = anyAlive || wanted[s->channel].alive;
  std::unique_ptr<float[]> slab;
  if (anyAlive && nz > 0 && layer > 0) {
    if (height > 0) slab.reset(new (std::nothrow) float[static_cast<size_t>(capacity)]);
    if (!slab) {
      const std::string why = "[ERROR] Could not allocate a slab of " + std::to_string(layer) + " values per layer\n";
      for (ChannelSummary* s : listed) {
        SlabChannel& c = wanted[s->channel];
        if (c.alive) c.reports += why;
        c.alive = false;
      }
    }
  }
  for (int z0 = 0; z0 < nz && slab; z0 += height) {
    const int z1 = std::min(nz, z0 + height);
    for (int channel : order) {
      SlabChannel& c = wanted[channel];
      const bool velocity = derivedSpeed && channel >= 4 && channel <= 6;
      if (!(c.alive || (velocity && !c.summary))) continue;
      reports.clear();
      const int status = neb_slab_read(reader, channel, z0, z1, slab.get(), capacity);
      std::string& to = velocity ? velocityReports[channel - 4] : c.reports;
      to += reports;
      if (status != NEB_OK) {
        c.alive = false;
        c.stats.reset();
        // The colour channels share one stream: the slab that broke it fails them all.
        for (SlabChannel& other : wanted) {
          if (&other == &c || c.source != kPackedColour || other.source != kPackedColour || !other.alive) continue;
          other.alive = false;
          other.stats.reset();
          other.reports += reports;
        }
        if (velocity && wanted[kSpeed].alive) {
          wanted[kSpeed].alive = false;
          wanted[kSpeed].stats.reset();
        }
        continue;
      }
      if (c.stats) c.stats->add(slab.get(), (z1 - z0) * layer, 1);
    }
  }
  if (derivedSpeed) wanted[kSpeed].reports += velocityReports[0] + velocityReports[1] + velocityReports[2];
  for (ChannelSummary* s : listed) {
    SlabChannel& c = wanted[s->channel];
    if (!c.alive) {
      s->stats = ValueStats();
      out.failures.push_back(channelLabel(s->channel) + ": " + reasonOf(c.reports, "no data"));
      continue;
    }
    if (!c.reports.empty()) out.failures.push_back(channelLabel(s->channel) + ": " + reasonOf(c.reports, ""));
    if (c.stats) c.stats->finish();
  }
}

void decodeGrid(neb_frame* frame, const SummaryOptions& options, std::string& reports, FrameSummary& out) {
  if (out.foreign) {
    decodeImportedGrid(frame, options, reports, out);
  } else {
    decodeGridSlabs(frame, options, reports, out);
  }
}

void decodeParticles(neb_frame* frame, const SummaryOptions& options, std::string& reports, FrameSummary& out) {
  const int count = neb_frame_stored_group_count(frame);
  for (int i = 0; i < count && i < static_cast<int>(out.groups.size()); ++i) {
    neb_group* g = nullptr;
    if (neb_frame_stored_group(frame, i, &g) != NEB_OK) continue;
    GroupSummary& s = out.groups[i];
    for (ParticleChannelSummary& c : s.channels) {
      reports.clear();
      const void* data = nullptr;
      long long have = 0;
      const bool ok = neb_group_expand_slot(g, c.slot, &data, &have) == NEB_OK;
      const std::string label = "group \"" + s.name + "\" slot " + std::to_string(c.slot);
      if (!ok) {
        out.failures.push_back(label + ": " + reasonOf(reports, "cannot be expanded"));
        continue;
      }
      if (!reports.empty()) out.failures.push_back(label + ": " + reasonOf(reports, ""));
      if (have < s.particleCount) {
        out.failures.push_back(label + ": holds " + std::to_string(have) + " of " + std::to_string(s.particleCount) +
                               " particles");
      }
      if (!options.statistics || have <= 0 || !data) continue;
      int words = 0;
      neb_slot_layout(c.slot, &words, nullptr, nullptr);
      if (c.type == 7) {
        const int64_t* ids = static_cast<const int64_t*>(data);
        accumulate(ids, have, 1, c.stats);
        s.hasIdRange = true;
        s.idMinimum = *std::min_element(ids, ids + have);
        s.idMaximum = *std::max_element(ids, ids + have);
      } else if (c.type == 6) {
        accumulate(static_cast<const int32_t*>(data), have * words, 1, c.stats);
      } else if (words > 0) {
        accumulate(static_cast<const float*>(data), have * words, 1, c.stats);
      }
    }
  }
}

}  // namespace

std::string gridChannelName(int channel) {
  if (channel == kSpeed) return "Speed";
  if (channel == kPackedColour) return "PackedColour";
  // The native mapping: the default mapping of an empty path.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> table(32);
    const std::string mapping =
        textResult([](char* b, long long n, long long* length) { return neb_default_mapping("", b, n, length); });
    for (int i = 0;; ++i) {
      int c = -1;
      if (neb_mapping_entry(mapping.c_str(), i, &c, nullptr, 0, nullptr) == NEB_E_ABSENT) break;
      const std::string name = textResult([&](char* b, long long n, long long* length) {
        return neb_mapping_entry(mapping.c_str(), i, &c, b, n, length);
      });
      if (c >= 0 && c < 32) table[c] = name;
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

std::string channelLabel(int channel) {
  const std::string name = gridChannelName(channel);
  return "channel " + std::to_string(channel) + (name.empty() ? "" : " (" + name + ")");
}

void summarizeFrame(const std::string& path, const SummaryOptions& options, FrameSummary& out) {
  out = FrameSummary();
  out.path = path;
  std::string reports;
  ReportCapture capture(&reports);
  try {
    out.foreign = isImport(path);
    FrameCloser frame;
    int result;
    if (out.foreign) {
      std::lock_guard<std::mutex> lock(importLock());
      result = neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &frame.frame);
    } else {
      // The grid stays in the file and is read slab by slab: a frame of any size is
      // summarised in memory bounded by a slab.
      result = neb_frame_open(path.c_str(), "", -1, NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE, &frame.frame);
    }
    if (result != NEB_OK) {
      const int status = NEB_E_LOAD - result;
      if (result > NEB_E_LOAD || status <= 0) {
        out.failures.push_back("out of memory");
        return;
      }
      out.status = status;
      out.failures.push_back(std::string(loadStatusText(status)) + " (status " + std::to_string(status) +
                             "): " + reasonOf(reports, "no reason given"));
      return;
    }
    out.loaded = true;
    neb_frame_version(frame.frame, &out.version);
    const bool numbered = neb_frame_number(frame.frame, &out.frameNumber) == NEB_OK;
    if (!numbered) out.frameNumber = INT32_MIN;
    out.hasFrameNumber = numbered && !out.foreign;
    // The size as stored, damaged or not: what the file says is what is inspected.
    neb_frame_info info{};
    info.size = sizeof info;
    if (neb_frame_get_info(frame.frame, &info) == NEB_OK)
      for (int k = 0; k < 3; ++k) out.gridSize[k] = info.stored_grid_size[k];
    neb_frame_transform(frame.frame, out.transform);
    out.hasVoxelSize = voxelSizeOf(out.transform, out.voxelSize);
    describeGrid(frame.frame, out);
    describeGroups(frame.frame, out);
    if (options.statistics || options.check) {
      decodeGrid(frame.frame, options, reports, out);
      decodeParticles(frame.frame, options, reports, out);
    }
  } catch (...) {
    out.failures.push_back("out of memory");
  }
}

}  // namespace NebFrameInfo
