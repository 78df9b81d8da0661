#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ParticleTestSupport.h"

namespace {

void setIds(PGroup& g, const std::vector<int64_t>& ids, int method = 0) {
  g.particleCount = static_cast<int32_t>(ids.size());
  storeChannel(g, 10, method, ids.data());
}

std::vector<int> indexOf(const PGroup& g) { return std::vector<int>(g.idOrder.data, g.idOrder.data + g.idOrder.size); }

}  // namespace

TEST(PGroupIds, AscendingIdsAreSearchedDirectly) {
  PGroup g;
  setIds(g, {5, 7, 9});
  EXPECT_EQ(g.findParticleById(7), 1);
  EXPECT_EQ(g.idOrder.size, 0);
  EXPECT_EQ(g.findParticleById(8), -1);
  EXPECT_EQ(g.findParticleById(5), 0);
  EXPECT_EQ(g.findParticleById(9), 2);
  EXPECT_EQ(g.findParticleById(4), -1);
  EXPECT_EQ(g.findParticleById(10), -1);
  EXPECT_EQ(g.idOrder.size, 0);
}

TEST(PGroupIds, UnorderedIdsGetAnIndex) {
  PGroup g;
  setIds(g, {9, 5, 7});
  EXPECT_EQ(g.findParticleById(9), 0);
  EXPECT_EQ(indexOf(g), std::vector<int>({1, 2, 0}));
  EXPECT_EQ(g.findParticleById(5), 1);
  EXPECT_EQ(g.findParticleById(7), 2);
  EXPECT_EQ(g.findParticleById(6), -1);
}

TEST(PGroupIds, NegativeFirstIdBuildsTheIndex) {
  PGroup g;
  setIds(g, {-3, -2});
  EXPECT_EQ(g.findParticleById(-2), 1);
  EXPECT_EQ(indexOf(g), std::vector<int>({0, 1}));
  EXPECT_EQ(g.findParticleById(-3), 0);
  EXPECT_EQ(g.findParticleById(0), -1);
}

TEST(PGroupIds, WithoutIdsOrParticles) {
  PGroup none;
  none.particleCount = 3;
  EXPECT_EQ(none.findParticleById(0), -1);
  EXPECT_FALSE(none.ensureIdOrder());

  // An identifier channel on a group of 0 particles: nothing to find, nothing read.
  PGroup empty;
  storeRaw(empty, 10, 0, std::vector<char>(8, 0));
  EXPECT_EQ(empty.findParticleById(0), -1);
}

TEST(PGroupIds, LargeShuffledIdsAgreeWithAScan) {
  const int n = 5000;
  std::vector<int64_t> ids(n);
  uint64_t x = 88172645463325252ull;
  for (int i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    ids[i] = static_cast<int64_t>(x % 20000) - 3000 + (static_cast<int64_t>(x >> 40) << 33);
  }
  ids[17] = ids[4000];  // duplicates are fine: either index is an answer
  for (int method : {0, 1, 4}) {
    PGroup g;
    setIds(g, ids, method);
    for (int i = 0; i < n; ++i) {
      const int found = g.findParticleById(ids[i]);
      ASSERT_GE(found, 0) << i;
      ASSERT_EQ(ids[found], ids[i]) << i;
    }
    EXPECT_EQ(g.findParticleById(INT64_MIN), -1);
    // The index is sorted by identifier and stable for equal ones.
    const auto order = indexOf(g);
    ASSERT_EQ(order.size(), static_cast<size_t>(n));
    for (int k = 1; k < n; ++k) {
      ASSERT_LE(ids[order[k - 1]], ids[order[k]]);
      if (ids[order[k - 1]] == ids[order[k]]) {
        ASSERT_LT(order[k - 1], order[k]);
      }
    }
  }
}

TEST(PGroupIds, SortHandlesEveryRunBoundary) {
  for (int n = 1; n <= 40; ++n) {
    std::vector<int64_t> ids(n);
    for (int i = 0; i < n; ++i) ids[i] = (i * 7919) % n - n / 2;  // a permutation, first below 0
    PGroup g;
    setIds(g, ids);
    for (int i = 0; i < n; ++i) ASSERT_EQ(g.findParticleById(ids[i]), i) << "n=" << n;
  }
}

TEST(PGroupIds, IndexFromTheLoaderIsUsedAndChecked) {
  PGroup g;
  setIds(g, {30, 10, 20});
  // An index made while loading, as the reader does for non-ascending identifiers.
  ASSERT_TRUE(g.idOrder.SetSize(3));
  g.idOrder[0] = 1;
  g.idOrder[1] = 2;
  g.idOrder[2] = 0;
  EXPECT_EQ(g.findParticleById(30), 0);
  EXPECT_EQ(g.findParticleById(10), 1);
  // An index that names particles that do not exist is rebuilt.
  PGroup h;
  setIds(h, {30, 10, 20});
  ASSERT_TRUE(h.idOrder.SetSize(3));
  h.idOrder[0] = 1;
  h.idOrder[1] = 77;
  h.idOrder[2] = 0;
  EXPECT_EQ(h.findParticleById(20), 2);
  EXPECT_EQ(indexOf(h), std::vector<int>({1, 2, 0}));
  // An index of the wrong length is rebuilt.
  PGroup k;
  setIds(k, {30, 10, 20});
  ASSERT_TRUE(k.idOrder.SetSize(2));
  k.idOrder[0] = 5;
  k.idOrder[1] = 9;
  EXPECT_EQ(k.findParticleById(20), 2);
  EXPECT_EQ(indexOf(k), std::vector<int>({1, 2, 0}));
}
