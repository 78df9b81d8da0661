#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ParticleTestSupport.h"

namespace {

// A frame seen through the public interface: a 4 x 3 x 2 grid whose velocity channels are
// linear in the cell coordinates, so trilinear sampling is exact.
class FakeFrame : public INeb {
 public:
  FakeFrame() : vx(n()), vy(n()), vz(n()) {
    for (int k = 0; k < 2; ++k)
      for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i) {
          const int c = i + 4 * (j + 3 * k);
          vx[c] = 1.0f * i;
          vy[c] = 2.0f * j;
          vz[c] = 4.0f * k + 0.5f * i;
        }
  }
  static size_t n() { return 24; }
  const float* getChannel(int channel) override {
    ++channelRequests;
    if (!withVelocity) return nullptr;
    return channel == 4 ? vx.data() : channel == 5 ? vy.data() : channel == 6 ? vz.data() : nullptr;
  }
  int hasChannel(int channel) override { return withVelocity && channel >= 4 && channel <= 6 ? 1 : 0; }
  void getGridSize(int out[3]) override {
    out[0] = 4;
    out[1] = 3;
    out[2] = 2;
  }
  void getTransform(float out[12]) override {
    for (int i = 0; i < 12; ++i) out[i] = 0.0f;
  }
  int getParticleGroupCount() override { return 0; }
  IOstranePrtGroup* getParticleGroup(int) override { return nullptr; }
  IOstranePrtGroup* findParticleGroup(const char*) override { return nullptr; }

  bool withVelocity = true;
  int channelRequests = 0;
  std::vector<float> vx, vy, vz;
};

void makeGroup(PGroup& g, FakeFrame& frame, const std::vector<float>& positions) {
  g.particleCount = static_cast<int32_t>(positions.size() / 3);
  g.groupType = PGroup::kGridVelocityGroupType;
  g.owner = &frame;
  storeChannel(g, 0, 0, positions.data());
}

}  // namespace

TEST(PGroupGridVelocity, SamplesTheGridAtThePosition) {
  FakeFrame frame;
  PGroup g;
  makeGroup(g, frame, {1.5f, 0.5f, 0.25f, 0.0f, 0.0f, 0.0f, 3.0f, 2.0f, 1.0f});
  EXPECT_TRUE(g.hasChannel(1));
  EXPECT_FALSE(g.slotHasData(1));
  float v[3];
  ASSERT_TRUE(g.getParticleValue(0, 1, v));
  EXPECT_FLOAT_EQ(v[0], 1.5f);
  EXPECT_FLOAT_EQ(v[1], 1.0f);
  EXPECT_FLOAT_EQ(v[2], 1.0f + 0.75f);
  ASSERT_TRUE(g.getParticleValue(1, 1, v));
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_EQ(v[2], 0.0f);
  // The last cell on every axis: upper index equals lower.
  ASSERT_TRUE(g.getParticleValue(2, 1, v));
  EXPECT_EQ(v[0], 3.0f);
  EXPECT_EQ(v[1], 4.0f);
  EXPECT_EQ(v[2], 5.5f);
}

TEST(PGroupGridVelocity, PositionsAreClampedToTheGrid) {
  FakeFrame frame;
  PGroup g;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  makeGroup(g, frame, {-5.0f, 100.0f, 7.5f, nan, inf, -inf, 1e30f, -1e30f, 2.5e9f});
  float v[3];
  ASSERT_TRUE(g.getParticleValue(0, 1, v));
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_EQ(v[1], 4.0f);
  EXPECT_EQ(v[2], 4.0f);
  ASSERT_TRUE(g.getParticleValue(1, 1, v));
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_EQ(v[1], 4.0f);
  EXPECT_EQ(v[2], 0.0f);
  ASSERT_TRUE(g.getParticleValue(2, 1, v));
  EXPECT_EQ(v[0], 3.0f);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_EQ(v[2], 4.0f + 1.5f);
}

TEST(PGroupGridVelocity, OnlyForGridVelocityGroupsWithAFrame) {
  FakeFrame frame;
  float v[3] = {9.0f, 9.0f, 9.0f};
  {
    PGroup g;
    makeGroup(g, frame, {1.0f, 1.0f, 1.0f});
    g.groupType = 0;
    EXPECT_FALSE(g.hasChannel(1));
    EXPECT_FALSE(g.getParticleValue(0, 1, v));
  }
  {
    PGroup g;
    makeGroup(g, frame, {1.0f, 1.0f, 1.0f});
    g.owner = nullptr;
    EXPECT_FALSE(g.hasChannel(1));
    EXPECT_FALSE(g.getParticleValue(0, 1, v));
  }
  {
    FakeFrame noVelocity;
    noVelocity.withVelocity = false;
    PGroup g;
    makeGroup(g, noVelocity, {1.0f, 1.0f, 1.0f});
    EXPECT_FALSE(g.hasChannel(1));
    EXPECT_FALSE(g.getParticleValue(0, 1, v));
  }
  {
    // Out-of-range particles never reach the grid.
    PGroup g;
    makeGroup(g, frame, {1.0f, 1.0f, 1.0f});
    const int before = frame.channelRequests;
    EXPECT_FALSE(g.getParticleValue(1, 1, v));
    EXPECT_FALSE(g.getParticleValue(-1, 1, v));
    EXPECT_EQ(frame.channelRequests, before);
  }
  EXPECT_EQ(v[0], 9.0f);
}

TEST(PGroupGridVelocity, OwnVelocityWins) {
  FakeFrame frame;
  PGroup g;
  makeGroup(g, frame, {1.0f, 1.0f, 1.0f});
  const float own[3] = {-7.0f, 8.0f, -9.0f};
  storeChannel(g, 1, 0, own);
  float v[3];
  ASSERT_TRUE(g.getParticleValue(0, 1, v));
  EXPECT_EQ(v[0], -7.0f);
  EXPECT_EQ(v[2], -9.0f);
  // hasChannel(1) of such a group follows the frame, whatever the group holds.
  FakeFrame noVelocity;
  noVelocity.withVelocity = false;
  g.owner = &noVelocity;
  EXPECT_FALSE(g.hasChannel(1));
  EXPECT_TRUE(g.slotHasData(1));
}
