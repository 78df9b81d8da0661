#include "tools/neb2vdb/MemoryBudget.h"

#include <algorithm>

namespace Neb2Vdb {

int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t memoryBytes) {
  int64_t jobs = std::max(1, cores);
  jobs = std::min(jobs, std::max<int64_t>(frames, 1));
  if (memoryBytes > 0 && framePeak > 0) jobs = std::min(jobs, memoryBytes / 4 * 3 / framePeak);
  return int(std::max<int64_t>(jobs, 1));
}

}  // namespace Neb2Vdb
