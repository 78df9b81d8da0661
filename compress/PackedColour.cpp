#include "compress/PackedColour.h"

#include "ostutils/OstParallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace OSTUtils {

namespace {

// Below this a job round trip costs more than the unpacking.
const int64_t kParallelMinimum = int64_t(1) << 18;

void unpackRange(const uint32_t* words, int64_t begin, int64_t end, float scale, float* const out[3]) {
  // Bytes 0..255 convert exactly; each product is one single-precision multiplication.
  static const int shifts[3] = {16, 8, 0};
  if (out[0] && out[1] && out[2]) {
    float* r = out[0];
    float* g = out[1];
    float* b = out[2];
#if defined(__SSE2__)
    // The channels are far larger than the caches and are not read back soon: streaming
    // stores skip reading the destination lines first. Scalar until all three outputs
    // are 16-byte aligned (they are when the allocations share their alignment).
    int64_t i = begin;
    while (i < end && ((reinterpret_cast<uintptr_t>(r + i) | reinterpret_cast<uintptr_t>(g + i) |
                        reinterpret_cast<uintptr_t>(b + i)) & 15) != 0) {
      const uint32_t w = words[i];
      r[i] = static_cast<float>((w >> 16) & 0xFFu) * scale;
      g[i] = static_cast<float>((w >> 8) & 0xFFu) * scale;
      b[i] = static_cast<float>(w & 0xFFu) * scale;
      ++i;
    }
    if (((reinterpret_cast<uintptr_t>(r + i) | reinterpret_cast<uintptr_t>(g + i) | reinterpret_cast<uintptr_t>(b + i)) &
         15) == 0) {
      const __m128i byte = _mm_set1_epi32(0xFF);
      const __m128 vs = _mm_set1_ps(scale);
      for (; i + 4 <= end; i += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i));
        _mm_stream_ps(r + i, _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(w, 16), byte)), vs));
        _mm_stream_ps(g + i, _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(w, 8), byte)), vs));
        _mm_stream_ps(b + i, _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(w, byte)), vs));
      }
      _mm_sfence();
    }
    begin = i;
#endif
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
