#include "vdb/DenseFloatTree.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <stdexcept>
#include <vector>

#include "TreeCompare.h"

using NebVdb::DenseFloatTree;

namespace {

// Deterministic values with zeros, negative zeros, a signalling NaN and denormals mixed in.
std::vector<float> makeValues(const int size[3], uint32_t seed) {
  const int64_t n = int64_t(size[0]) * size[1] * size[2];
  std::vector<float> v(static_cast<size_t>(n));
  uint32_t s = seed;
  for (int64_t j = 0; j < n; ++j) {
    s = s * 1664525u + 1013904223u;
    switch (s >> 29) {
      case 0:
      case 1:
        v[size_t(j)] = 0.0f;
        break;
      case 2:
        v[size_t(j)] = bitsFloat(0x80000000u);
        break;
      case 3:
        v[size_t(j)] = bitsFloat(0x7fa00001u);  // signalling NaN
        break;
      case 4:
        v[size_t(j)] = bitsFloat(s & 0x007fffffu);  // denormal
        break;
      default:
        v[size_t(j)] = float(int(s % 20001u) - 10000) / 97.0f;
    }
  }
  return v;
}

}  // namespace

class DenseFloatTreeSizes : public ::testing::TestWithParam<std::array<int, 3>> {};

TEST_P(DenseFloatTreeSizes, SameTreeAsSettingEveryVoxel) {
  const std::array<int, 3> dims = GetParam();
  const int size[3] = {dims[0], dims[1], dims[2]};
  const std::vector<float> values = makeValues(size, 7u + uint32_t(size[0] * 31 + size[1] * 7 + size[2]));
  DenseFloatTree fast;
  fast.fill(values.data(), size);
  ASSERT_TRUE(fast.tree());
  EXPECT_EQ(fast.tree()->activeVoxelCount(), openvdb::Index64(values.size()));
  expectSameTree(*fast.tree(), *buildTreeVoxelByVoxel(values.data(), size));
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenSizes, DenseFloatTreeSizes,
                         ::testing::Values(std::array<int, 3>{1, 1, 1}, std::array<int, 3>{9, 7, 13},
                                           std::array<int, 3>{8, 8, 8}, std::array<int, 3>{16, 1, 33},
                                           std::array<int, 3>{1, 40, 2}, std::array<int, 3>{130, 3, 5}));

TEST(DenseFloatTree, RefillReusesLeavesAndMatchesAFreshBuild) {
  const int size[3] = {9, 7, 13};
  DenseFloatTree dense;
  dense.fill(makeValues(size, 1).data(), size);
  const openvdb::FloatTree* first = dense.tree().get();
  const std::vector<float> second = makeValues(size, 2);
  dense.fill(second.data(), size);
  EXPECT_EQ(dense.tree().get(), first);  // refilled in place
  expectSameTree(*dense.tree(), *buildTreeVoxelByVoxel(second.data(), size));
}

TEST(DenseFloatTree, SharedOrResizedTreeIsRebuiltNotOverwritten) {
  const int size[3] = {9, 7, 13};
  DenseFloatTree dense;
  const std::vector<float> a = makeValues(size, 1);
  dense.fill(a.data(), size);
  openvdb::FloatTree::Ptr held = dense.tree();  // e.g. a grid still alive
  const std::vector<float> b = makeValues(size, 2);
  dense.fill(b.data(), size);
  EXPECT_NE(dense.tree(), held);
  expectSameTree(*held, *buildTreeVoxelByVoxel(a.data(), size));
  expectSameTree(*dense.tree(), *buildTreeVoxelByVoxel(b.data(), size));

  const int other[3] = {7, 9, 13};
  held.reset();
  dense.fill(b.data(), other);
  expectSameTree(*dense.tree(), *buildTreeVoxelByVoxel(b.data(), other));
}

TEST(DenseFloatTree, EmptyOrNegativeSizeGivesEmptyTree) {
  DenseFloatTree dense;
  for (auto dims : {std::array<int, 3>{0, 5, 5}, std::array<int, 3>{4, -1, 4}, std::array<int, 3>{-3, -3, 2}}) {
    const int size[3] = {dims[0], dims[1], dims[2]};
    dense.fill(nullptr, size);
    ASSERT_TRUE(dense.tree());
    EXPECT_TRUE(dense.tree()->empty());
    EXPECT_EQ(dense.tree()->activeVoxelCount(), 0u);
  }
}

TEST(DenseFloatTree, CellCountRefusesOverflow) {
  const int ok[3] = {1000, 1000, 1000};
  EXPECT_EQ(DenseFloatTree::cellCount(ok), 1000000000);
  const int huge[3] = {INT_MAX, INT_MAX, INT_MAX};
  EXPECT_THROW(DenseFloatTree::cellCount(huge), std::length_error);
  DenseFloatTree dense;
  float one = 1.0f;
  EXPECT_THROW(dense.fill(&one, huge), std::length_error);
  EXPECT_FALSE(dense.tree());
}
