#include "tools/neb2vdb/MemoryBudget.h"

#include <algorithm>

#include "nebloader.h"
#include "tools/neb2vdb/FrameExporter.h"

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
  // Channel + tree per channel, one more channel's worth for the written file and the
  // leaf bookkeeping; particles at up to 128 bytes each with their index and attributes.
  return cells * 4 * (2 * int64_t(channels) + 1) + particles * 128 + (int64_t(64) << 20);
}

int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t memoryBytes) {
  int64_t jobs = std::max(1, cores);
  jobs = std::min(jobs, std::max<int64_t>(frames, 1));
  if (memoryBytes > 0 && framePeak > 0) jobs = std::min(jobs, memoryBytes / 4 * 3 / framePeak);
  return int(std::max<int64_t>(jobs, 1));
}

}  // namespace Neb2Vdb
