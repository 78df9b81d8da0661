#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "compress/PackedColour.h"

namespace {

using namespace OSTUtils;

// Every output equals byte * scale as one single-precision product, whatever the
// alignment of the outputs (vectorised middle, scalar edges) and with skipped outputs.
TEST(PackedColour, UnpackGivesEachByteTimesTheScale) {
  std::mt19937 rng(5);
  const float scale = 1.0f / 255.0f;
  std::vector<uint32_t> words(1031);
  for (uint32_t& w : words) w = rng() & 0x00FFFFFFu;
  const int shifts[3] = {16, 8, 0};
  for (int start = 0; start < 3; ++start) {
    for (int skip = -1; skip < 3; ++skip) {
      const int64_t cells = static_cast<int64_t>(words.size()) - start;
      std::vector<float> planes[3];
      float* out[3];
      for (int k = 0; k < 3; ++k) {
        planes[k].assign(words.size(), -1.0f);
        out[k] = k == skip ? nullptr : planes[k].data() + start;
      }
      UnpackColourWords(words.data() + start, cells, scale, out[0], out[1], out[2]);
      for (int k = 0; k < 3; ++k) {
        for (int64_t i = 0; i < cells; ++i) {
          const float expect = k == skip ? -1.0f : static_cast<float>((words[start + i] >> shifts[k]) & 0xFFu) * scale;
          ASSERT_EQ(0, std::memcmp(&expect, &planes[k][start + i], sizeof(float)))
              << "start " << start << " skip " << skip << " channel " << k << " cell " << i;
        }
      }
    }
  }
}

}  // namespace
