#include "compress/BitPlanes.h"

#include <algorithm>
#include <limits>

namespace OSTUtils {

namespace {

// In-place transpose of a 32 x 32 bit matrix: afterwards bit b of a[i] is what bit i of
// a[b] was. Five rounds swap ever smaller off-diagonal blocks (16, 8, 4, 2, 1 bits); the
// mask selects the low half of each 2j-bit group.
void transpose32(uint32_t a[32]) {
  uint32_t m = 0x0000FFFFu;
  for (int j = 16; j != 0; j >>= 1, m ^= (m << j)) {
    for (int k = 0; k < 32; k = ((k | j) + 1) & ~j) {
      const uint32_t t = ((a[k] >> j) ^ a[k | j]) & m;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
  }
}

int64_t planeStride(int64_t particleCount) { return particleCount / 32 + (particleCount % 32 != 0 ? 1 : 0); }

}  // namespace

int64_t BitPlaneWordCount(int64_t particleCount, int words) {
  if (particleCount < 0 || words < 0) return -1;
  const int64_t stride = planeStride(particleCount);
  if (words == 0 || stride == 0) return 0;
  if (stride > std::numeric_limits<int64_t>::max() / (32 * static_cast<int64_t>(words))) return -1;
  return stride * 32 * words;
}

void AssembleFromBitPlanes(const uint32_t* planes, int64_t particleCount, int words, int64_t first, int64_t last,
                           uint32_t* target) {
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, particleCount);
  if (first >= last || words <= 0) return;
  const int64_t stride = planeStride(particleCount);
  uint32_t block[32];
  // One plane word carries bit b of 32 consecutive particles: gather the 32 planes of one
  // word of the channel for a block of 32 particles and transpose them.
  for (int64_t q = first / 32; q <= (last - 1) / 32; ++q) {
    const int64_t lo = std::max<int64_t>(first, q * 32);
    const int64_t hi = std::min<int64_t>(last, q * 32 + 32);
    for (int c = 0; c < words; ++c) {
      const uint32_t* plane = planes + static_cast<int64_t>(c) * 32 * stride + q;
      for (int b = 0; b < 32; ++b) block[b] = plane[b * stride];
      transpose32(block);
      for (int64_t i = lo; i < hi; ++i) target[i * words + c] = block[i - q * 32];
    }
  }
}

void SplitIntoBitPlanes(const uint32_t* source, int64_t particleCount, int words, uint32_t* planes) {
  if (particleCount <= 0 || words <= 0) return;
  const int64_t stride = planeStride(particleCount);
  uint32_t block[32];
  for (int64_t q = 0; q < stride; ++q) {
    const int64_t count = std::min<int64_t>(32, particleCount - q * 32);
    for (int c = 0; c < words; ++c) {
      for (int64_t i = 0; i < 32; ++i) block[i] = i < count ? source[(q * 32 + i) * words + c] : 0u;
      transpose32(block);
      uint32_t* plane = planes + static_cast<int64_t>(c) * 32 * stride + q;
      for (int b = 0; b < 32; ++b) plane[b * stride] = block[b];
    }
  }
}

}  // namespace OSTUtils
