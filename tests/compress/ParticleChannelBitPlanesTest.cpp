#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "compress/BitPlanes.h"

using OSTUtils::AssembleFromBitPlanes;
using OSTUtils::BitPlaneWordCount;
using OSTUtils::SplitIntoBitPlanes;

namespace {

// The layout written out bit by bit, independent of the block transpose of the library.
std::vector<uint32_t> naivePlanes(const std::vector<uint32_t>& channel, int64_t n, int words) {
  const int64_t s = (n + 31) / 32;
  std::vector<uint32_t> planes(static_cast<size_t>(32 * words * s), 0);
  for (int64_t i = 0; i < n; ++i)
    for (int c = 0; c < words; ++c)
      for (int b = 0; b < 32; ++b)
        if (channel[i * words + c] >> b & 1u) planes[(c * 32 + b) * s + i / 32] |= 1u << (i % 32);
  return planes;
}

std::vector<uint32_t> randomChannel(int64_t n, int words, uint32_t seed) {
  std::vector<uint32_t> v(static_cast<size_t>(n * words));
  for (auto& x : v) {
    seed = seed * 1664525u + 1013904223u;
    x = seed ^ (seed >> 13);
  }
  return v;
}

}  // namespace

TEST(ParticleChannelBitPlanes, BufferSize) {
  EXPECT_EQ(BitPlaneWordCount(33, 1), 64);  // s = 2, 32 planes: 256 bytes
  EXPECT_EQ(BitPlaneWordCount(32, 1), 32);
  EXPECT_EQ(BitPlaneWordCount(1, 3), 96);
  EXPECT_EQ(BitPlaneWordCount(0, 3), 0);
  EXPECT_EQ(BitPlaneWordCount(100, 0), 0);
  EXPECT_EQ(BitPlaneWordCount(-1, 1), -1);
  EXPECT_EQ(BitPlaneWordCount(5, -2), -1);
  EXPECT_EQ(BitPlaneWordCount(INT64_MAX, 3), -1);
  EXPECT_EQ(BitPlaneWordCount(2147483647, 3), int64_t(67108864) * 96);
}

TEST(ParticleChannelBitPlanes, ThirtyThreeParticlesOneWord) {
  // Particle 32 lives in bit 0 of the second word of every plane.
  std::vector<uint32_t> channel(33, 0);
  channel[32] = 0x80000005u;
  channel[0] = 0x2u;
  std::vector<uint32_t> planes(64, 0);
  SplitIntoBitPlanes(channel.data(), 33, 1, planes.data());
  for (int k = 0; k < 32; ++k) {
    const bool set32 = (channel[32] >> k) & 1u;
    EXPECT_EQ(planes[k * 2 + 1], set32 ? 1u : 0u) << k;
    EXPECT_EQ(planes[k * 2], k == 1 ? 1u : 0u) << k;
  }
  std::vector<uint32_t> back(33, 0xFFFFFFFFu);
  AssembleFromBitPlanes(planes.data(), 33, 1, 0, 33, back.data());
  EXPECT_EQ(back, channel);
}

TEST(ParticleChannelBitPlanes, MatchesTheBitByBitLayout) {
  for (int words : {1, 2, 3}) {
    for (int64_t n : {1, 31, 32, 33, 64, 95, 1000}) {
      const auto channel = randomChannel(n, words, static_cast<uint32_t>(n * 7 + words));
      const auto expect = naivePlanes(channel, n, words);
      std::vector<uint32_t> planes(static_cast<size_t>(BitPlaneWordCount(n, words)), 0xDEADBEEFu);
      SplitIntoBitPlanes(channel.data(), n, words, planes.data());
      ASSERT_EQ(planes, expect) << "n=" << n << " words=" << words;
      std::vector<uint32_t> back(channel.size(), 0);
      AssembleFromBitPlanes(expect.data(), n, words, 0, n, back.data());
      ASSERT_EQ(back, channel) << "n=" << n << " words=" << words;
    }
  }
}

TEST(ParticleChannelBitPlanes, RangesTouchOnlyTheirParticles) {
  const int64_t n = 100;
  const int words = 2;
  const auto channel = randomChannel(n, words, 99);
  const auto planes = naivePlanes(channel, n, words);
  std::vector<uint32_t> out(channel.size(), 0x11111111u);
  AssembleFromBitPlanes(planes.data(), n, words, 30, 67, out.data());
  for (int64_t i = 0; i < n; ++i)
    for (int c = 0; c < words; ++c) {
      const uint32_t want = (i >= 30 && i < 67) ? channel[i * words + c] : 0x11111111u;
      ASSERT_EQ(out[i * words + c], want) << i;
    }
  // Ranges beyond the particles are clamped; empty or reversed ranges write nothing.
  std::vector<uint32_t> out2(channel.size(), 7u);
  AssembleFromBitPlanes(planes.data(), n, words, 90, 1000, out2.data());
  AssembleFromBitPlanes(planes.data(), n, words, 50, 40, out2.data());
  AssembleFromBitPlanes(planes.data(), n, words, -5, 0, out2.data());
  for (int64_t i = 0; i < n; ++i) ASSERT_EQ(out2[i * words], i >= 90 ? channel[i * words] : 7u) << i;
}
