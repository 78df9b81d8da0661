#include "compress/PackedColour.h"

#include "ostutils/OstParallel.h"

namespace OSTUtils {

namespace {

// Below this a job round trip costs more than the unpacking.
const int64_t kParallelMinimum = int64_t(1) << 18;

void unpackRange(const uint32_t* words, int64_t begin, int64_t end, float scale, float* const out[3]) {
  static const int shifts[3] = {16, 8, 0};
  if (out[0] && out[1] && out[2]) {
    float* r = out[0];
    float* g = out[1];
    float* b = out[2];
    for (int64_t i = begin; i < end; ++i) {
      const uint32_t w = words[i];
      r[i] = static_cast<float>((w >> 16) & 0xFFu) * scale;
      g[i] = static_cast<float>((w >> 8) & 0xFFu) * scale;
      b[i] = static_cast<float>(w & 0xFFu) * scale;
    }
    return;
  }
  for (int k = 0; k < 3; ++k) {
    if (!out[k]) continue;
    float* o = out[k];
    const int shift = shifts[k];
    for (int64_t i = begin; i < end; ++i) o[i] = static_cast<float>((words[i] >> shift) & 0xFFu) * scale;
  }
}

class MTUnpackColour : public OstParallel {
 public:
  MTUnpackColour(const uint32_t* words, float scale, float* const out[3]) : words_(words), scale_(scale) {
    for (int k = 0; k < 3; ++k) out_[k] = out[k];
  }
  const char* getName() override { return "MTUnpackColour"; }
  void processJob(Job* job) override {
    if (job->end > job->begin) unpackRange(words_, job->begin, job->end, scale_, out_);
  }

 private:
  const uint32_t* words_;
  float scale_;
  float* out_[3];
};

}  // namespace

void UnpackColourWords(const uint32_t* words, int64_t cells, float scale, float* red, float* green, float* blue) {
  if (!words || cells <= 0) return;
  float* const out[3] = {red, green, blue};
  if (cells < kParallelMinimum || !CurrentThreadManager()) {
    unpackRange(words, 0, cells, scale, out);
    return;
  }
  MTUnpackColour job(words, scale, out);
  job.setupJobs(-1);
  job.setRange(cells);
  job.runJobs(0);
}

}  // namespace OSTUtils
