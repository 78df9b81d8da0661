#include "plugins/f3dport/F3dFrameImport.h"

#include <algorithm>
#include <cfloat>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cache/ChannelBuffer.h"
#include "plugins/f3dport/GridNaming.h"
#include "plugins/f3dport/LayerDecoding.h"
#include "plugins/f3dport/Mappings.h"
#include "zutils/Report.h"

namespace F3dPort {

namespace {

const int kPackedColourChannel = 18;  // holds packed integers in nebu2 files, never floats

// One layer the frame takes, with the channels its components feed (component 0 for a
// scalar layer; a grid may feed several channels).
struct UsedLayer {
  size_t partition;
  size_t layer;
  std::string name;  // the first mapped grid's, for reports
  std::vector<std::pair<int, int>> targets;  // (component, channel)
};

std::string layerPath(const FileLayout& layout, size_t partition, size_t layer) {
  return layout.partitions[partition].group + "/" + layout.partitions[partition].layers[layer].name;
}

// Releases the slots a failed layer had prepared.
void releaseSlots(OstraneFrameData& frame, const UsedLayer& u) {
  for (const auto& t : u.targets) frame.ReleaseChannelSlot(t.second);
}

}  // namespace

int importFromFile(F3dFile& file, OstraneFrameData& frame, bool headerOnly, const CacheIO::GridMapping* entries,
                   int count) {
  const FileLayout& layout = file.layout();
  const char* label = file.label().c_str();
  const std::vector<GridName> names = gridNames(layout);

  bool taken[OstraneFrameData::kChannelCount] = {};
  std::set<std::pair<size_t, size_t>> leftOut;
  std::vector<UsedLayer> used;
  Placement reference;
  std::string referenceName;
  Box box;
  for (int e = 0; e < count; ++e) {
    const int channel = entries[e].channel;
    if (!entries[e].name || channel < 0 || channel >= OstraneFrameData::kChannelCount ||
        channel == kPackedColourChannel || taken[channel])
      continue;
    const GridName* grid = findGrid(names, entries[e].name);
    if (!grid) continue;
    const std::pair<size_t, size_t> key(grid->partition, grid->layer);
    if (leftOut.count(key)) continue;
    const Partition& part = layout.partitions[grid->partition];
    const Layer& layer = part.layers[grid->layer];
    if (!grid->readable) {
      ZUtils::logReport("f3dport: grid \"%s\" of %s is left out: %s\n", grid->name.c_str(), label,
                        layer.unreadable.c_str());
      leftOut.insert(key);
      continue;
    }
    Placement placement;
    std::string why;
    if (!placementOf(part.mapping, layer.extents, placement, why)) {
      ZUtils::logReport("f3dport: grid \"%s\" of %s is left out: %s\n", grid->name.c_str(), label, why.c_str());
      leftOut.insert(key);
      continue;
    }
    if (used.empty()) {
      reference = placement;
      referenceName = grid->name;
      box = layer.window;
    } else if (!samePlacement(placement, reference)) {
      ZUtils::logReport("f3dport: grid \"%s\" of %s is left out: its mapping or voxel size differs from grid \"%s\"\n",
                        grid->name.c_str(), label, referenceName.c_str());
      leftOut.insert(key);
      continue;
    }
    taken[channel] = true;
    auto it = std::find_if(used.begin(), used.end(), [&](const UsedLayer& u) {
      return u.partition == grid->partition && u.layer == grid->layer;
    });
    if (it == used.end()) {
      used.push_back({grid->partition, grid->layer, grid->name, {}});
      it = used.end() - 1;
      for (int a = 0; a < 3; ++a) {
        box.min[a] = std::min(box.min[a], layer.window.min[a]);
        box.max[a] = std::max(box.max[a], layer.window.max[a]);
      }
    }
    it->targets.emplace_back(grid->component < 0 ? 0 : grid->component, channel);
  }
  if (used.empty()) return 0;  // nothing mapped is in the file: an empty frame

  for (int a = 0; a < 3; ++a) {
    if (box.size(a) > std::numeric_limits<int32_t>::max()) {
      ZUtils::logReport("f3dport: %s spans %lld voxels along one axis, more than a frame can hold\n", label,
                        static_cast<long long>(box.size(a)));
      return 4;
    }
  }
  double deviation = 0;
  int64_t fitted = 0;
  if (!frameTransform(reference, box, frame.transform, deviation, fitted)) {
    ZUtils::logReport("f3dport: the mapping of grid \"%s\" of %s cannot be inverted\n", referenceName.c_str(), label);
    return 4;
  }
  if (reference.type == MappingType::Frustum)
    ZUtils::logReport(
        "f3dport: grid \"%s\" of %s has a frustum mapping, which is not linear: imported with the affine map that fits "
        "its voxel centres best (least squares over %lld of them); the largest miss is %.3g voxel widths\n",
        referenceName.c_str(), label, static_cast<long long>(fitted), deviation);
  for (int a = 0; a < 3; ++a) frame.gridSize[a] = static_cast<int32_t>(box.size(a));

  for (const UsedLayer& u : used) {
    if (headerOnly) {
      for (const auto& t : u.targets) frame.channelMask |= int32_t(1u << t.second);
      continue;
    }
    // Each component is decoded into the slot of the first channel it feeds, then copied.
    float* out[3] = {nullptr, nullptr, nullptr};
    for (const auto& t : u.targets) {
      if (!frame.PrepareChannelSlot(t.second, 0)) {
        ZUtils::logReport("[ERROR] f3dport: no memory for a grid of %lld cells from %s\n",
                          static_cast<long long>(frame.CellCount()), label);
        releaseSlots(frame, u);
        return 4;
      }
      if (!out[t.first]) out[t.first] = frame.channelSlots[t.second].holder->values.data;
    }
    const Layer& layer = layout.partitions[u.partition].layers[u.layer];
    if (!decodeLayer(file, layer, box, out)) {
      ZUtils::logReport("f3dport: grid \"%s\" of %s could not be read\n", u.name.c_str(), label);
      releaseSlots(frame, u);
      return 4;
    }
    const int64_t cells = frame.CellCount();
    for (const auto& t : u.targets) {
      float* values = frame.channelSlots[t.second].holder->values.data;
      if (values != out[t.first]) std::copy(out[t.first], out[t.first] + cells, values);
      float lo = FLT_MAX, hi = -FLT_MAX;
      for (int64_t k = 0; k < cells; ++k) {
        lo = std::min(lo, values[k]);
        hi = std::max(hi, values[k]);
      }
      OstraneFrameData::ChannelSlot& slot = frame.channelSlots[t.second];
      slot.minimum = lo;
      slot.maximum = hi;
      frame.channelMask |= int32_t(1u << t.second);
    }
  }
  return 0;
}

int importFrame(const char* path, OstraneFrameData& frame, bool headerOnly, const CacheIO::GridMapping* entries,
                int count) {
  std::unique_ptr<F3dFile> file;
  const int status = openF3dFile(path, file);
  if (status != 0) return status;
  return importFromFile(*file, frame, headerOnly, entries, count);
}

void listChannelsOf(const F3dFile& file, CacheIO::AvailableChannelList& out) {
  const FileLayout& layout = file.layout();
  std::set<std::pair<size_t, size_t>> reported;
  for (const GridName& g : gridNames(layout)) {
    if (g.readable) {
      out.Append(CacheIO::AvailableChannels(g.name.c_str(), g.flag));
      continue;
    }
    if (!reported.insert(std::make_pair(g.partition, g.layer)).second) continue;
    ZUtils::logReport("f3dport: layer \"%s\" of %s is left out: %s\n", layerPath(layout, g.partition, g.layer).c_str(),
                      file.label().c_str(), layout.partitions[g.partition].layers[g.layer].unreadable.c_str());
  }
}

void listChannels(const char* path, CacheIO::AvailableChannelList& out) {
  std::unique_ptr<F3dFile> file;
  if (openF3dFile(path, file) == 0) listChannelsOf(*file, out);
}

}  // namespace F3dPort
