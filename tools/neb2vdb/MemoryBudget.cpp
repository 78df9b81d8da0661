#include "tools/neb2vdb/MemoryBudget.h"

#include <algorithm>

#include "cache/FrameSlabReader.h"
#include "cache/OstraneFrameData.h"
#include "nebloader.h"
#include "tools/neb2vdb/FrameExporter.h"
#include "vdb/VdbFileWriter.h"

namespace Neb2Vdb {

int64_t estimateFramePeak(INeb& frame) {
  int size[3] = {0, 0, 0};
  frame.getGridSize(size);
  const int64_t cells = size[0] > 0 && size[1] > 0 && size[2] > 0 ? int64_t(size[0]) * size[1] * size[2] : 0;
  const uint32_t stored = FrameExporter::storedChannels(frame);
  int channels = 0;
  for (uint32_t m = stored; m; m &= m - 1) ++channels;
  int64_t particles = 0;
  for (int g = 0; g < frame.getParticleGroupCount(); ++g)
    if (IOstranePrtGroup* group = frame.getParticleGroup(g)) particles += group->getParticleCount();
  // Channel + tree per channel, one more channel's worth for the leaf bookkeeping, the
  // compressed bytes the file writer holds (never more than the trees); particles at up
  // to 128 bytes each with their index and attributes.
  const int64_t trees = cells * 4 * int64_t(channels);
  return 2 * trees + cells * 4 + std::min(trees, int64_t(VolConvert::kDefaultHeldBytes)) + particles * 128 +
         (int64_t(64) << 20);
}

int64_t estimateStreamedPeak(OstraneFrameData& frame, const GridRecordBytes& records,
                             const std::vector<GridPlan>& plans, bool dense) {
  int size[3] = {0, 0, 0};
  frame.getGridSize(size);
  const int64_t cells = std::max<int64_t>(frame.CellCount(), 0);
  const int64_t layer = size[0] > 0 && size[1] > 0 ? int64_t(size[0]) * size[1] : 0;
  FrameSlabReader reader(frame, records);
  int64_t trees = 0, channels = 0;
  for (const GridPlan& plan : plans) {
    int64_t varied = 0;
    for (int i = 0; i < plan.components; ++i) {
      reader.open(plan.channels[i]);
      varied = std::max(varied, dense ? cells : reader.variedCells(plan.channels[i]));
    }
    trees += varied * 4 * plan.components / 4 * 5;
    channels += plan.components;
  }
  int64_t particles = 0;
  for (int g = 0; g < frame.getParticleGroupCount(); ++g)
    if (IOstranePrtGroup* group = frame.getParticleGroup(g)) particles += group->getParticleCount();
  // Slab buffers (8 layers, at least 2M cells): the channels of a slab, turned copies, the
  // colour read ahead, the velocity held for speed and the packed colour words. Then the
  // compressed bytes the file writer holds, never more than the trees.
  const int64_t slabs = std::max<int64_t>(layer * 8, int64_t(1) << 21) * 4 * (channels + 8);
  return trees + slabs + std::min(trees, int64_t(VolConvert::kDefaultHeldBytes)) + particles * 128 +
         (int64_t(64) << 20);
}

int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t memoryBytes) {
  int64_t jobs = std::max(1, cores);
  jobs = std::min(jobs, std::max<int64_t>(frames, 1));
  if (memoryBytes > 0 && framePeak > 0) jobs = std::min(jobs, memoryBytes / 4 * 3 / framePeak);
  return int(std::max<int64_t>(jobs, 1));
}

}  // namespace Neb2Vdb
