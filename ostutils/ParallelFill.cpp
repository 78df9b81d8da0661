#include "ostutils/ParallelFill.h"

#include <algorithm>
#include <cstdint>

#include "ostutils/OstParallel.h"

namespace OSTUtils {

namespace {

// Below this a job round trip costs more than the fill.
const int64_t kParallelFillMinimum = int64_t(1) << 20;

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
