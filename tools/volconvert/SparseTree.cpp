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

// The leaf's own layout: value offset (x << 6) | (y << 3) | z, and mask word x holds bit
// (y << 3) | z. A block is first gathered into such a layout on the stack, without a
// branch per cell; only blocks with an active cell that are not one constant tile get a
// leaf. Most blocks of a plume are empty, and allocating (and zero-filling) a leaf for
// each of them cost more than reading them.
template <typename Value>
struct BlockScratch {
  Value values[kLeafDim * kLeafDim * kLeafDim];
  uint64_t words[kLeafDim];
};

template <typename TreeT, typename Source>
typename TreeT::Ptr buildTree(const Source& source, const int size[3]) {
  using LeafT = typename TreeT::LeafNodeType;
  using Value = typename Source::Value;
  static_assert(LeafT::DIM == kLeafDim, "leaf offsets below assume 8^3 leaves");
  static_assert(LeafT::NodeMaskType::WORD_COUNT == kLeafDim, "one 64-bit mask word per x slab");
  auto tree = std::make_shared<TreeT>(openvdb::zeroVal<Value>());
  if (DenseFloatTree::cellCount(size) == 0) return tree;
  const int bx = (size[0] + kLeafDim - 1) / kLeafDim;
  const int by = (size[1] + kLeafDim - 1) / kLeafDim;
  const int bz = (size[2] + kLeafDim - 1) / kLeafDim;
  const size_t count = size_t(bx) * size_t(by) * size_t(bz);
  const int64_t nx = size[0], nxy = nx * size[1];

  std::vector<std::unique_ptr<LeafT>> leaves(count);
  std::vector<Value> tiles(count);
  std::vector<BlockKind> kinds(count, BlockKind::kEmpty);
  tbb::parallel_for(tbb::blocked_range<size_t>(0, count), [&](const tbb::blocked_range<size_t>& r) {
    BlockScratch<Value> scratch;
    const Value zero = openvdb::zeroVal<Value>();
    for (size_t i = r.begin(); i != r.end(); ++i) {
      const openvdb::Coord origin(int(i % bx) * kLeafDim, int((i / bx) % by) * kLeafDim,
                                  int(i / (size_t(bx) * by)) * kLeafDim);
      const int ex = std::min(kLeafDim, size[0] - origin.x());
      const int ey = std::min(kLeafDim, size[1] - origin.y());
      const int ez = std::min(kLeafDim, size[2] - origin.z());
      Value* values = scratch.values;
      uint64_t* words = scratch.words;
      // Cells of a block at the grid's far edges that lie outside the grid stay inactive
      // background.
      if (ex < kLeafDim || ey < kLeafDim || ez < kLeafDim) std::fill(values, values + LeafT::SIZE, zero);
      std::fill(words, words + kLeafDim, uint64_t(0));
      for (int z = 0; z < ez; ++z) {
        for (int y = 0; y < ey; ++y) {
          const int64_t row = (origin.z() + z) * nxy + (origin.y() + y) * nx + origin.x();
          const int bit = (y << 3) | z;
          for (int x = 0; x < ex; ++x) {
            Value v;
            const bool active = source.read(row + x, v);
            // Inactive cells hold the background, as in a leaf made with it.
            values[(x << 6) | bit] = active ? v : zero;
            words[x] |= uint64_t(active) << bit;
          }
        }
      }
      uint64_t any = 0, all = ~uint64_t(0);
      for (int w = 0; w < kLeafDim; ++w) {
        any |= words[w];
        all &= words[w];
      }
      if (!any && !source.keepAll) continue;
      if (all == ~uint64_t(0) && !source.keepAll) {
        bool constant = true;
        for (openvdb::Index k = 1; k < LeafT::SIZE && constant; ++k) constant = Source::sameBits(values[k], values[0]);
        if (constant) {
          kinds[i] = BlockKind::kTile;
          tiles[i] = values[0];
          continue;
        }
      }
      auto leaf = std::make_unique<LeafT>(openvdb::PartialCreate(), origin, zero, false);
      leaf->buffer().allocate();
      std::copy(values, values + LeafT::SIZE, leaf->buffer().data());
      auto& mask = leaf->getValueMask();
      for (int w = 0; w < kLeafDim; ++w) mask.template getWord<uint64_t>(w) = words[w];
      kinds[i] = BlockKind::kLeaf;
      leaves[i] = std::move(leaf);
    }
  });
  openvdb::tree::ValueAccessor<TreeT> accessor(*tree);
  for (size_t i = 0; i < count; ++i) {
    if (kinds[i] == BlockKind::kLeaf) {
      accessor.addLeaf(leaves[i].release());
    } else if (kinds[i] == BlockKind::kTile) {
      // Level 1 holds tiles the size of one leaf.
      const openvdb::Coord origin(int(i % bx) * kLeafDim, int((i / bx) % by) * kLeafDim,
                                  int(i / (size_t(bx) * by)) * kLeafDim);
      accessor.addTile(1, origin, tiles[i], true);
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
