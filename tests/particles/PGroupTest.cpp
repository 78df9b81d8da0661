#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ParticleTestSupport.h"
#include "support/ReportCapture.h"

namespace {

std::vector<char> bytesOf(const std::vector<float>& v) {
  std::vector<char> b(v.size() * 4);
  if (!v.empty()) std::memcpy(b.data(), v.data(), b.size());
  return b;
}

}  // namespace

TEST(PGroupLayout, IdentifierSlot) {
  PGroup g;
  EXPECT_EQ(g.getBytesPerParticle(10), 8);
  EXPECT_EQ(g.getChannelComponents(10), 1);
  EXPECT_EQ(g.getChannelDataType(10), 7);
}

TEST(PGroupLayout, SlotsOutsideTheRangeAreEmpty) {
  PGroup g;
  g.particleCount = 4;
  const auto pos = positionsOf(4);
  storeChannel(g, 0, 0, pos.data());
  char out[16];
  for (int s : {-1, 32, 1000, INT32_MIN}) {
    EXPECT_FALSE(g.hasChannel(s));
    EXPECT_FALSE(g.slotHasData(s));
    EXPECT_EQ(g.getBytesPerParticle(s), 0);
    EXPECT_EQ(g.getChannelDataType(s), 0);
    EXPECT_EQ(g.getChannelComponents(s), 0);
    EXPECT_FALSE(g.getParticleValue(0, s, out));
    EXPECT_EQ(g.getChannelData(0, s), nullptr);
    EXPECT_EQ(g.allocateChannel(s), nullptr);
    EXPECT_FALSE(g.setChannel(s, out, -1));
    EXPECT_FALSE(g.decompressChannel(s, true));
    EXPECT_EQ(g.getCompressor(s), nullptr);
  }
}

TEST(PGroup, ParticleCountNeedsPositions) {
  PGroup g;
  g.particleCount = 5;
  EXPECT_EQ(g.getParticleCount(), 0);
  const std::vector<float> vel(15, 1.0f);
  storeChannel(g, 1, 0, vel.data());
  EXPECT_EQ(g.getParticleCount(), 0);
  const auto pos = positionsOf(5);
  storeChannel(g, 0, 1, pos.data());
  EXPECT_EQ(g.getParticleCount(), 5);
  g.particleCount = -3;
  EXPECT_EQ(g.getParticleCount(), 0);
}

TEST(PGroup, ValuesOfEveryMethod) {
  const int n = 37;
  const auto pos = positionsOf(n);
  std::vector<int64_t> ids(n);
  for (int i = 0; i < n; ++i) ids[i] = 1000 + 3 * i;
  std::vector<float> temp(n);
  for (int i = 0; i < n; ++i) temp[i] = 0.125f * i;
  for (int method = 0; method <= 4; ++method) {
    PGroup g;
    g.particleCount = n;
    storeChannel(g, 0, method, pos.data());
    storeChannel(g, 10, method, ids.data());
    storeChannel(g, 2, method, temp.data());
    ReportCapture capture;
    for (int i = 0; i < n; ++i) {
      float p[3];
      ASSERT_TRUE(g.getParticleValue(i, 0, p)) << method;
      EXPECT_EQ(std::memcmp(p, &pos[3 * i], 12), 0) << "method " << method << " particle " << i;
      int64_t id = 0;
      ASSERT_TRUE(g.getParticleValue(i, 10, &id));
      EXPECT_EQ(id, ids[i]);
      float t = -1.0f;
      ASSERT_TRUE(g.getParticleValue(i, 2, &t));
      EXPECT_EQ(t, temp[i]);
    }
    EXPECT_EQ(capture.text(), "") << method;
    // Expanded once, stored bytes released, channel still present.
    EXPECT_EQ(g.channels[0].stored.size, 0);
    EXPECT_EQ(g.channels[0].expanded.size, n * 12);
    EXPECT_TRUE(g.hasChannel(0));
    EXPECT_TRUE(g.decompressChannel(0, true));
  }
}

TEST(PGroup, ParticleIndicesAreBounded) {
  PGroup g;
  g.particleCount = 3;
  const auto pos = positionsOf(3);
  storeChannel(g, 0, 0, pos.data());
  float p[3] = {42.0f, 42.0f, 42.0f};
  EXPECT_FALSE(g.getParticleValue(-1, 0, p));
  EXPECT_FALSE(g.getParticleValue(3, 0, p));
  EXPECT_FALSE(g.getParticleValue(INT32_MAX, 0, p));
  EXPECT_EQ(p[0], 42.0f);
  EXPECT_EQ(g.getChannelData(3, 0), nullptr);
  EXPECT_EQ(g.getChannelData(-1, 0), nullptr);
  EXPECT_NE(g.getChannelData(2, 0), nullptr);
  EXPECT_FALSE(g.getParticleValue(0, 0, nullptr));
}

TEST(PGroup, ShortRawChannelIsNotReadPastItsEnd) {
  // 4 particles claimed, 2.5 particles' worth of position bytes stored with method 0.
  PGroup g;
  g.particleCount = 4;
  const auto pos = positionsOf(4);
  std::vector<char> bytes = bytesOf(pos);
  bytes.resize(30);
  storeRaw(g, 0, 0, bytes);
  float p[3];
  EXPECT_TRUE(g.getParticleValue(0, 0, p));
  EXPECT_TRUE(g.getParticleValue(1, 0, p));
  EXPECT_EQ(p[2], pos[5]);
  EXPECT_FALSE(g.getParticleValue(2, 0, p));
  EXPECT_FALSE(g.getParticleValue(3, 0, p));
  EXPECT_EQ(g.channels[0].expanded.size, 30);
  EXPECT_EQ(g.expandedParticleCount(0), 2);
}

TEST(PGroup, UnknownMethodFailsSilentlyAndKeepsStoredBytes) {
  PGroup g;
  g.particleCount = 2;
  const auto pos = positionsOf(2);
  storeRaw(g, 0, 7, bytesOf(pos));
  ReportCapture capture;
  float p[3];
  EXPECT_FALSE(g.getParticleValue(0, 0, p));
  EXPECT_FALSE(g.decompressChannel(0, true));
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(g.channels[0].stored.size, 24);
  EXPECT_EQ(g.channels[0].expanded.size, 0);
  EXPECT_TRUE(g.hasChannel(0));
  // A repaired method number expands normally afterwards.
  g.channels[0].method = 0;
  EXPECT_TRUE(g.getParticleValue(1, 0, p));
  EXPECT_EQ(p[0], pos[3]);
}

TEST(PGroup, FailedExpansionDropsTheChannel) {
  PGroup g;
  g.particleCount = 2;
  storeRaw(g, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8});  // not a zlib stream
  ReportCapture capture;
  float v;
  EXPECT_FALSE(g.getParticleValue(0, 2, &v));
  EXPECT_EQ(capture.text(), "[ERROR] Decompressing Zip (-3)\nError decompressing particle channel 2 with method 1\n");
  EXPECT_FALSE(g.hasChannel(2));
  EXPECT_EQ(g.channels[2].stored.size, 0);
  EXPECT_EQ(g.channels[2].expanded.size, 0);
  // Nothing left to expand: reported as such.
  EXPECT_FALSE(g.decompressChannel(2, true));
  EXPECT_NE(capture.text().find("PGroup::decompressChannel failed: no compression data!\n"), std::string::npos);
}

TEST(PGroup, GridBlockFailureIsReportedWithItsMethod) {
  PGroup g;
  g.particleCount = 2;
  storeRaw(g, 0, 3, {0x12, 0x34, 0x56, 0x78});  // not a grid block
  ReportCapture capture;
  EXPECT_EQ(g.getChannelData(0, 0), nullptr);
  // The grid decoder adds its own reason first.
  const std::string text = capture.text();
  const std::string tail = "Error decompressing particle channel 0 with method 3\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_FALSE(g.hasChannel(0));
}

TEST(PGroup, NegativeParticleCount) {
  PGroup g;
  g.particleCount = -5;
  storeRaw(g, 2, 1, {1, 2, 3, 4});
  float v;
  EXPECT_FALSE(g.getParticleValue(0, 2, &v));
  EXPECT_EQ(g.allocateChannel(2), nullptr);
  EXPECT_FALSE(g.setChannel(2, &v, -1));
  EXPECT_EQ(g.getParticleCount(), 0);
  EXPECT_EQ(g.findParticleById(1), -1);
  ReportCapture capture;
  EXPECT_FALSE(g.decompressChannel(2, true));  // cannot be sized: a failed expansion
  EXPECT_NE(capture.text().find("Error decompressing particle channel 2 with method 1"), std::string::npos);
}

TEST(PGroup, AllocateAndSetChannel) {
  PGroup g;
  g.particleCount = 3;
  float* p = static_cast<float*>(g.allocateChannel(0));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 9; ++i) p[i] = static_cast<float>(i);
  EXPECT_TRUE(g.hasChannel(0));
  float out[3];
  ASSERT_TRUE(g.getParticleValue(2, 0, out));
  EXPECT_EQ(out[0], 6.0f);

  const float vel[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_FALSE(g.setChannel(1, vel, 35));
  EXPECT_FALSE(g.hasChannel(1));
  EXPECT_TRUE(g.setChannel(1, vel, 36));
  EXPECT_TRUE(g.setChannel(4, vel, -1));
  ASSERT_TRUE(g.getParticleValue(1, 4, out));
  EXPECT_EQ(out[2], 6.0f);

  // A slot expanded from a longer raw block is resized, not overrun, by setChannel.
  storeRaw(g, 2, 0, std::vector<char>(100, 1));
  ASSERT_TRUE(g.decompressChannel(2, true));
  EXPECT_EQ(g.channels[2].expanded.size, 100);
  const float t[3] = {7, 8, 9};
  EXPECT_TRUE(g.setChannel(2, t, -1));
  EXPECT_EQ(g.channels[2].expanded.size, 12);
}

TEST(PGroup, GroupsSurviveRelocationInsideTheArray) {
  OSTUtils::OstArray<PGroup> groups;
  ASSERT_TRUE(groups.SetSize(1));
  PGroup& first = groups[0];
  first.particleCount = 40;
  first.setName("first");
  const auto pos = positionsOf(40);
  storeChannel(first, 0, 4, pos.data());
  float p[3];
  ASSERT_TRUE(first.getParticleValue(39, 0, p));
  ASSERT_NE(first.getCompressor(3), nullptr);
  // Growth moves the group by memcpy; everything it owns must come along.
  ASSERT_TRUE(groups.SetSize(500));
  EXPECT_STREQ(groups[0].getName(), "first");
  ASSERT_TRUE(groups[0].getParticleValue(39, 0, p));
  EXPECT_EQ(std::memcmp(p, &pos[117], 12), 0);
  EXPECT_TRUE(groups[0].setName("abcdef", 3));
  EXPECT_STREQ(groups[0].getName(), "abc");
  groups[499].particleCount = 1;
  EXPECT_NE(groups[499].allocateChannel(0), nullptr);
  EXPECT_EQ(groups[499].getParticleCount(), 1);
}
