#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ParticleTestSupport.h"
#include "compress/BitPlanes.h"
#include "ostutils/OstParallel.h"
#include "particles/MTBuildScalarSpeedFromVelocity.h"
#include "particles/MTComputeParticlesBbox.h"
#include "particles/PRTIN.h"
#include "zutils/ThreadPool.h"

namespace {

// Runs the body once inline (no thread manager) and once on a registered pool.
template <class F>
void withAndWithoutPool(F body) {
  body();
  ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
  ASSERT_NE(pool, nullptr);
  OSTUtils::RegisterThreadManager(pool);
  body();
  OSTUtils::UnregisterLastThreadManager();
  ZUtils::destroyPoolThreadManager(pool);
}

void expectBox(const ZUtils::Box& b, float x0, float y0, float z0, float x1, float y1, float z1) {
  EXPECT_EQ(b.min[0], x0);
  EXPECT_EQ(b.min[1], y0);
  EXPECT_EQ(b.min[2], z0);
  EXPECT_EQ(b.max[0], x1);
  EXPECT_EQ(b.max[1], y1);
  EXPECT_EQ(b.max[2], z1);
}

}  // namespace

TEST(MTComputeParticlesBbox, BadParticlesStayOutOfTheBox) {
  withAndWithoutPool([] {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> pos = {60000, 50000, 0,  60000, -50000, 0, 1, nan, 3, 1, 2, 3,
                                    -99999, 0, 0,     0, 0, 100000,     std::numeric_limits<float>::infinity(), 0, 0};
    PGroup g;
    g.particleCount = 7;
    storeChannel(g, 0, 0, pos.data());
    MTComputeParticlesBbox job;
    ZUtils::Box box = MTComputeParticlesBbox::emptyBox();
    int bad = -1;
    ASSERT_TRUE(job.widenBox(&g, box, bad));
    EXPECT_EQ(bad, 4);  // sum 110000, NaN, exactly 100000, infinity
    expectBox(box, -99999, -50000, 0, 60000, 2, 3);
  });
}

TEST(MTComputeParticlesBbox, AllBadOrNoneLeavesTheBoxUnchanged) {
  withAndWithoutPool([] {
    const std::vector<float> pos = {1e6f, 0, 0, 0, -2e5f, 0};
    PGroup g;
    g.particleCount = 2;
    storeChannel(g, 0, 1, pos.data());
    MTComputeParticlesBbox job;
    ZUtils::Box box = {{-1, -2, -3}, {4, 5, 6}};
    int bad = 0;
    ASSERT_TRUE(job.widenBox(&g, box, bad));
    EXPECT_EQ(bad, 2);
    expectBox(box, -1, -2, -3, 4, 5, 6);

    // The same job object is reused for another group, here one without positions.
    PGroup empty;
    empty.particleCount = 50;
    ASSERT_TRUE(job.widenBox(&empty, box, bad));
    EXPECT_EQ(bad, 0);
    expectBox(box, -1, -2, -3, 4, 5, 6);
  });
}

TEST(MTComputeParticlesBbox, ShortPositionChannelIsBounded) {
  PGroup g;
  g.particleCount = 1000;  // claims far more than the 2 stored positions
  const std::vector<float> pos = {1, 2, 3, -4, -5, -6};
  std::vector<char> bytes(24);
  std::memcpy(bytes.data(), pos.data(), 24);
  storeRaw(g, 0, 0, bytes);
  MTComputeParticlesBbox job;
  ZUtils::Box box = MTComputeParticlesBbox::emptyBox();
  int bad = 0;
  ASSERT_TRUE(job.widenBox(&g, box, bad));
  EXPECT_EQ(bad, 0);
  expectBox(box, -4, -5, -6, 1, 2, 3);
}

TEST(MTBuildScalarSpeedFromVelocity, SpeedOfEveryCell) {
  withAndWithoutPool([] {
    const int n = 4099;
    std::vector<float> vx(n), vy(n), vz(n), speed(n, -1.0f);
    vx[0] = 3;
    vy[0] = 4;
    vz[0] = 0;
    for (int i = 1; i < n; ++i) {
      vx[i] = std::cos(0.1f * i) * 7.0f;
      vy[i] = -0.01f * i;
      vz[i] = std::sin(0.3f * i);
    }
    MTBuildScalarSpeedFromVelocity::build(vx.data(), vy.data(), vz.data(), speed.data(), n);
    EXPECT_EQ(speed[0], 5.0f);
    for (int i = 1; i < n; ++i) {
      const float x = vx[i], y = vy[i], z = vz[i];
      const float xx = x * x, yy = y * y, zz = z * z;
      const float sum = (xx + yy) + zz;
      ASSERT_EQ(speed[i], std::sqrt(sum)) << i;
    }
  });
}

TEST(PRTIN, RebuildsTheChannelOnEveryWorker) {
  withAndWithoutPool([] {
    const int n = 3001;
    const int slot = 0;  // three words
    std::vector<uint32_t> channel(3 * n);
    for (int i = 0; i < 3 * n; ++i) channel[i] = 0x01000193u * static_cast<uint32_t>(i) ^ (i >> 3);
    std::vector<uint32_t> planes(static_cast<size_t>(OSTUtils::BitPlaneWordCount(n, 3)));
    OSTUtils::SplitIntoBitPlanes(channel.data(), n, 3, planes.data());
    OSTUtils::OstArray<char, int64_t> target;
    ASSERT_TRUE(target.SetSize(3 * n * 4));
    PRTIN::run(target, planes.data(), slot, n);
    EXPECT_EQ(std::memcmp(target.data, channel.data(), channel.size() * 4), 0);

    // A range claiming more particles than the target holds stops at the target's end
    // (the plane stride follows the target's own particle count).
    std::vector<uint32_t> planes100(static_cast<size_t>(OSTUtils::BitPlaneWordCount(100, 3)));
    OSTUtils::SplitIntoBitPlanes(channel.data(), 100, 3, planes100.data());
    OSTUtils::OstArray<char, int64_t> shortTarget;
    ASSERT_TRUE(shortTarget.SetSize(100 * 12));
    PRTIN::run(shortTarget, planes100.data(), slot, n);
    EXPECT_EQ(std::memcmp(shortTarget.data, channel.data(), 100 * 12), 0);
  });
}
