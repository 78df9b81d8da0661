// The voxel-by-voxel reference build and a full comparison of two float trees.
#pragma once

#include <gtest/gtest.h>

#include <openvdb/openvdb.h>

#include "TestSupport.h"

// Every cell set through one accessor, x fastest: the plain way the fast build must match.
inline openvdb::FloatTree::Ptr buildTreeVoxelByVoxel(const float* values, const int size[3]) {
  auto tree = std::make_shared<openvdb::FloatTree>(0.0f);
  openvdb::tree::ValueAccessor<openvdb::FloatTree> accessor(*tree);
  const int64_t n = int64_t(size[0]) * size[1] * size[2];
  if (size[0] <= 0 || size[1] <= 0 || size[2] <= 0) return tree;
  for (int64_t j = 0; j < n; ++j) {
    const int x = int(j % size[0]), y = int((j / size[0]) % size[1]), z = int(j / (int64_t(size[0]) * size[1]));
    accessor.setValue(openvdb::Coord(x, y, z), values[j]);
  }
  return tree;
}

// Same topology, same leaves, and every value (as bits) and active state equal, across the
// union of both trees' leaves; also the same background and tile structure.
inline void expectSameTree(const openvdb::FloatTree& a, const openvdb::FloatTree& b) {
  EXPECT_EQ(floatBits(a.background()), floatBits(b.background()));
  EXPECT_EQ(a.activeVoxelCount(), b.activeVoxelCount());
  EXPECT_EQ(a.leafCount(), b.leafCount());
  EXPECT_EQ(a.activeTileCount(), b.activeTileCount());
  EXPECT_TRUE(a.hasSameTopology(b));
  std::vector<openvdb::Index32> na, nb;
  a.getNodeLog2Dims(na);
  b.getNodeLog2Dims(nb);
  EXPECT_EQ(na, nb);
  EXPECT_EQ(a.nonLeafCount(), b.nonLeafCount());
  int mismatches = 0;
  auto compareLeaves = [&](const openvdb::FloatTree& x, const openvdb::FloatTree& y) {
    for (auto leaf = x.cbeginLeaf(); leaf; ++leaf) {
      const auto* other = y.probeConstLeaf(leaf->origin());
      if (!other) {
        ADD_FAILURE() << "leaf " << leaf->origin() << " missing";
        continue;
      }
      for (openvdb::Index i = 0; i < leaf->SIZE; ++i) {
        if (floatBits(leaf->getValue(i)) != floatBits(other->getValue(i)) ||
            leaf->isValueOn(i) != other->isValueOn(i)) {
          if (++mismatches < 5) ADD_FAILURE() << "leaf " << leaf->origin() << " offset " << i;
        }
      }
    }
  };
  compareLeaves(a, b);
  compareLeaves(b, a);
  EXPECT_EQ(mismatches, 0);
}
