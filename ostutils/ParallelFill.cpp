#include "ostutils/ParallelFill.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "ostutils/OstParallel.h"

namespace OSTUtils {

namespace {

// Below this a job round trip costs more than the fill.
const int64_t kParallelFillMinimum = int64_t(1) << 20;
#if defined(MADV_HUGEPAGE)
// Buffers of at least a few huge pages get the huge-page advice.
const int64_t kHugePageMinimum = int64_t(1) << 20;  // floats: 4 MiB
const uintptr_t kPageBytes = 4096;
#endif

class MTFillFloats : public OstParallel {
 public:
  MTFillFloats(float* data, float value) : data_(data), value_(value) {}
  const char* getName() override { return "MTFillFloats"; }
  void processJob(Job* job) override {
    if (job->end > job->begin) std::fill(data_ + job->begin, data_ + job->end, value_);
  }

 private:
  float* data_;
  float value_;
};

}  // namespace

void ParallelFill(float* data, int64_t count, float value) {
  if (!data || count <= 0) return;
#if defined(MADV_HUGEPAGE)
  // Ask for transparent huge pages before the first touch: one fault per 2 MiB instead of
  // one per 4 KiB page, which cuts the fill of a fresh 64 MiB channel about fivefold. Only
  // whole pages inside the buffer are advised; the advice is a hint, failures are ignored.
  if (count >= kHugePageMinimum) {
    const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + kPageBytes - 1) & ~(kPageBytes - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data + count)) & ~(kPageBytes - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#endif
  if (count < kParallelFillMinimum || !CurrentThreadManager()) {
    std::fill(data, data + count, value);
    return;
  }
  MTFillFloats fill(data, value);
  fill.setupJobs(-1);
  fill.setRange(count);
  fill.runJobs(0);
}

}  // namespace OSTUtils
