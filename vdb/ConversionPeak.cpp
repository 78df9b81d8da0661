#include "vdb/ConversionPeak.h"

#include <algorithm>
#include <map>

#include "vdb/FrameGridBuilder.h"
#include "vdb/FrameSlabs.h"
#include "vdb/VdbFileWriter.h"

namespace NebVdb {

namespace {

int64_t particleCount(neb_frame* frame) {
  int64_t particles = 0;
  const int groups = neb_frame_group_count(frame);
  for (int g = 0; g < groups; ++g) {
    neb_group* group = nullptr;
    if (neb_frame_group(frame, g, &group) == NEB_OK) particles += std::max(0LL, neb_group_particle_count(group));
  }
  return particles;
}

// Cells of each stored channel's record that may hold other values than their neighbours,
// from the zone counts of its record: every cell for a zlib record (packed colour) or
// zones that cannot be read.
std::map<int, int64_t> variedCells(neb_frame* frame, int64_t cells) {
  std::map<int, int64_t> varied;
  const int records = neb_frame_grid_record_count(frame);
  for (int i = 0; i < records; ++i) {
    neb_grid_record r{};
    r.size = sizeof r;
    if (neb_frame_grid_record(frame, i, &r) != NEB_OK) continue;
    const neb_block_zones& z = r.zones;
    int64_t v = cells;
    if (!r.zip && z.readable && z.zone_count > 0)
      v = cells / z.zone_count * std::max(0, z.zone_count - z.constant_zones);
    varied[r.channel] = v;
  }
  return varied;
}

}  // namespace

int64_t estimateConversionPeak(neb_frame* frame, const std::vector<GridPlan>& plans, bool dense) {
  const FrameSlabs slabs(frame);
  const int* size = slabs.size();
  const int64_t cells = slabs.layerCells() * size[2];
  const int64_t particles = particleCount(frame);
  if (slabs.whole()) {
    int channels = 0;
    for (uint32_t m = storedChannels(frame); m; m &= m - 1) ++channels;
    // Channel + tree per channel, one more channel's worth for the leaf bookkeeping, the
    // compressed bytes the file writer holds (never more than the trees); particles at up
    // to 128 bytes each with their index and attributes.
    const int64_t trees = cells * 4 * int64_t(channels);
    return 2 * trees + cells * 4 + std::min(trees, int64_t(NebVdb::kDefaultHeldBytes)) + particles * 128 +
           (int64_t(64) << 20);
  }
  const std::map<int, int64_t> varied = variedCells(frame, cells);
  auto variedOf = [&](int channel) -> int64_t {
    if (dense) return cells;
    auto at = varied.find(channel);
    if (at != varied.end()) return at->second;
    if (channel >= 7 && channel <= 9) return cells;  // unpacked colour: every cell
    if (channel != 3) return 0;
    int64_t sum = 0;  // speed derived from the velocity
    for (int c = 4; c <= 6; ++c) sum += varied.count(c) ? varied.at(c) : 0;
    return std::min(sum, cells);
  };
  int64_t trees = 0, channels = 0;
  for (const GridPlan& plan : plans) {
    int64_t v = 0;
    for (int i = 0; i < plan.components; ++i) v = std::max(v, variedOf(plan.channels[i]));
    trees += v * 4 * plan.components / 4 * 5;
    channels += plan.components;
  }
  // Slab buffers (8 layers, at least 2M cells): the channels of a slab, turned copies, the
  // colour read ahead, the velocity held for speed and the packed colour words. Then the
  // compressed bytes the file writer holds, never more than the trees.
  const int64_t slabBytes = std::max<int64_t>(slabs.layerCells() * 8, int64_t(1) << 21) * 4 * (channels + 8);
  return trees + slabBytes + std::min(trees, int64_t(NebVdb::kDefaultHeldBytes)) + particles * 128 +
         (int64_t(64) << 20);
}

}  // namespace NebVdb
