#include "tools/volconvert/SparseTree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "tools/volconvert/DenseFloatTree.h"

namespace VolConvert {

namespace {

constexpr int kLeafDim = 8;

// One cell value from the dense arrays, and its activity.
struct ScalarSource {
  using Value = float;
  const float* values;
  float tolerance;
  bool keepAll;
  bool read(int64_t j, float& out) const {
    out = values[j];
    return keepAll || !(std::fabs(out) <= tolerance);  // NaN counts as a value
  }
  static bool sameBits(const float& a, const float& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};

struct Vec3Source {
  using Value = openvdb::Vec3s;
  const float* const* components;
  float tolerance;
  bool keepAll;
  bool read(int64_t j, openvdb::Vec3s& out) const {
    out = openvdb::Vec3s(components[0][j], components[1][j], components[2][j]);
    return keepAll || !(std::fabs(out[0]) <= tolerance && std::fabs(out[1]) <= tolerance &&
                        std::fabs(out[2]) <= tolerance);
  }
  static bool sameBits(const openvdb::Vec3s& a, const openvdb::Vec3s& b) {
    return std::memcmp(a.asPointer(), b.asPointer(), 3 * sizeof(float)) == 0;
  }
};

enum class BlockKind { kEmpty, kLeaf, kTile };

template <typename TreeT, typename Source>
typename TreeT::Ptr buildTree(const Source& source, const int size[3]) {
  using LeafT = typename TreeT::LeafNodeType;
  using Value = typename Source::Value;
  static_assert(LeafT::DIM == kLeafDim, "leaf offsets below assume 8^3 leaves");
  auto tree = std::make_shared<TreeT>(openvdb::zeroVal<Value>());
  if (DenseFloatTree::cellCount(size) == 0) return tree;
  const int bx = (size[0] + kLeafDim - 1) / kLeafDim;
  const int by = (size[1] + kLeafDim - 1) / kLeafDim;
  const int bz = (size[2] + kLeafDim - 1) / kLeafDim;
  const size_t count = size_t(bx) * size_t(by) * size_t(bz);
  const int64_t nx = size[0], nxy = nx * size[1];

  std::vector<std::unique_ptr<LeafT>> leaves(count);
  std::vector<BlockKind> kinds(count, BlockKind::kEmpty);
  tbb::parallel_for(tbb::blocked_range<size_t>(0, count), [&](const tbb::blocked_range<size_t>& r) {
    for (size_t i = r.begin(); i != r.end(); ++i) {
      const openvdb::Coord origin(int(i % bx) * kLeafDim, int((i / bx) % by) * kLeafDim,
                                  int(i / (size_t(bx) * by)) * kLeafDim);
      const int ex = std::min(kLeafDim, size[0] - origin.x());
      const int ey = std::min(kLeafDim, size[1] - origin.y());
      const int ez = std::min(kLeafDim, size[2] - origin.z());
      auto leaf = std::make_unique<LeafT>(origin, openvdb::zeroVal<Value>(), false);
      Value* buffer = leaf->buffer().data();
      auto& mask = leaf->getValueMask();
      int active = 0;
      bool constant = true;
      Value first = openvdb::zeroVal<Value>();
      for (int z = 0; z < ez; ++z) {
        for (int y = 0; y < ey; ++y) {
          const int64_t row = (origin.z() + z) * nxy + (origin.y() + y) * nx + origin.x();
          for (int x = 0; x < ex; ++x) {
            Value v;
            if (!source.read(row + x, v)) continue;
            const openvdb::Index offset = openvdb::Index((x << 6) | (y << 3) | z);
            buffer[offset] = v;
            mask.setOn(offset);
            if (active++ == 0) first = v;
            else if (constant && !Source::sameBits(v, first)) constant = false;
          }
        }
      }
      if (active == 0 && !source.keepAll) continue;
      if (active == int(LeafT::SIZE) && constant && !source.keepAll) {
        kinds[i] = BlockKind::kTile;
        buffer[0] = first;  // the tile's value, read back below
      } else {
        kinds[i] = BlockKind::kLeaf;
      }
      leaves[i] = std::move(leaf);
    }
  });
  openvdb::tree::ValueAccessor<TreeT> accessor(*tree);
  for (size_t i = 0; i < count; ++i) {
    if (kinds[i] == BlockKind::kLeaf) {
      accessor.addLeaf(leaves[i].release());
    } else if (kinds[i] == BlockKind::kTile) {
      // Level 1 holds tiles the size of one leaf.
      accessor.addTile(1, leaves[i]->origin(), leaves[i]->buffer().data()[0], true);
    }
  }
  return tree;
}

}  // namespace

openvdb::FloatTree::Ptr buildSparseFloatTree(const float* values, const int size[3], float tolerance) {
  return buildTree<openvdb::FloatTree>(ScalarSource{values, tolerance, false}, size);
}

openvdb::Vec3STree::Ptr buildVec3Tree(const float* const components[3], const int size[3], float tolerance,
                                      bool keepAll) {
  return buildTree<openvdb::Vec3STree>(Vec3Source{components, tolerance, keepAll}, size);
}

}  // namespace VolConvert
