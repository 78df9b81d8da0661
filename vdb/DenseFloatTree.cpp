#include "vdb/DenseFloatTree.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace NebVdb {

namespace {

using LeafT = openvdb::FloatTree::LeafNodeType;
constexpr int kLeafDim = static_cast<int>(LeafT::DIM);  // 8
static_assert(LeafT::LOG2DIM == 3, "leaf offsets below assume 8^3 leaves");

// Copies the part of the dense array covered by one leaf into its buffer. Source index
// x + nx*(y + ny*z); leaf offset (x<<6)|(y<<3)|z. Rows of x are read contiguously.
// `values` holds layers z0 .. of the grid (z0 = 0: the whole array).
void copyLeaf(LeafT& leaf, const float* values, const int size[3], bool setMask, int z0 = 0) {
  const openvdb::Coord origin = leaf.origin();
  const int ex = std::min(kLeafDim, size[0] - origin.x());
  const int ey = std::min(kLeafDim, size[1] - origin.y());
  const int ez = std::min(kLeafDim, size[2] - origin.z());
  const int64_t nx = size[0];
  const int64_t nxy = nx * size[1];
  float* buffer = leaf.buffer().data();
  for (int z = 0; z < ez; ++z) {
    for (int y = 0; y < ey; ++y) {
      const float* row = values + (origin.z() - z0 + z) * nxy + (origin.y() + y) * nx + origin.x();
      float* out = buffer + (y << 3) + z;
      // Plain copies: no arithmetic, so every bit pattern (signalling NaNs included)
      // reaches the file as the cache holds it.
      for (int x = 0; x < ex; ++x) out[x << 6] = row[x];
    }
  }
  if (!setMask) return;
  if (ex == kLeafDim && ey == kLeafDim && ez == kLeafDim) {
    leaf.getValueMask().setOn();
  } else {
    for (int x = 0; x < ex; ++x)
      for (int y = 0; y < ey; ++y)
        for (int z = 0; z < ez; ++z) leaf.setValueOn(static_cast<openvdb::Index>((x << 6) | (y << 3) | z));
  }
}

int blocks(int cells) { return (cells + kLeafDim - 1) / kLeafDim; }

}  // namespace

int64_t DenseFloatTree::cellCount(const int size[3]) {
  if (size[0] <= 0 || size[1] <= 0 || size[2] <= 0) return 0;
  const int64_t xy = static_cast<int64_t>(size[0]) * size[1];  // < 2^62
  if (xy > INT64_MAX / size[2]) throw std::length_error("Grid too large");
  return xy * size[2];
}

void DenseFloatTree::clear() {
  leaves_.clear();
  leaves_.shrink_to_fit();
  tree_.reset();
  size_[0] = size_[1] = size_[2] = 0;
}

void DenseFloatTree::fill(const float* values, const int size[3]) {
  try {
    const bool sameSize = size_[0] == size[0] && size_[1] == size[1] && size_[2] == size[2];
    if (tree_ && sameSize && tree_.use_count() == 1) {
      refill(values);
    } else {
      build(values, size);
    }
  } catch (...) {
    clear();
    throw;
  }
}

void DenseFloatTree::refill(const float* values) {
  tbb::parallel_for(tbb::blocked_range<size_t>(0, leaves_.size()), [&](const tbb::blocked_range<size_t>& r) {
    for (size_t i = r.begin(); i != r.end(); ++i) copyLeaf(*leaves_[i], values, size_, false);
  });
}

namespace {

// The leaves of layers [z0, z1) of a dense box, every cell inside the grid active, added
// to `tree` (`values` holds those layers, z0 first). Leaves are made in x-fastest block
// order, so that neighbours in the list read neighbouring stretches of the source rows;
// ownership stays here until the tree takes a leaf. `added` (optional) gets them in order.
void addDenseLeaves(openvdb::FloatTree& tree, const float* values, const int size[3], int z0, int z1,
                    std::vector<LeafT*>* added) {
  const int bx = blocks(size[0]), by = blocks(size[1]), bz = blocks(z1 - z0);
  const size_t count = static_cast<size_t>(bx) * static_cast<size_t>(by) * static_cast<size_t>(bz);
  std::vector<std::unique_ptr<LeafT>> made(count);
  tbb::parallel_for(tbb::blocked_range<size_t>(0, count), [&](const tbb::blocked_range<size_t>& r) {
    for (size_t i = r.begin(); i != r.end(); ++i) {
      const int ix = static_cast<int>(i % bx);
      const int iy = static_cast<int>((i / bx) % by);
      const int iz = static_cast<int>(i / (static_cast<size_t>(bx) * by));
      // Background 0, inactive: exactly what an accessor's setValue creates before it
      // writes the first cell of a leaf.
      auto leaf =
          std::make_unique<LeafT>(openvdb::Coord(ix * kLeafDim, iy * kLeafDim, z0 + iz * kLeafDim), 0.0f, false);
      copyLeaf(*leaf, values, size, true, z0);
      made[i] = std::move(leaf);
    }
  });
  if (added) added->resize(count);
  openvdb::tree::ValueAccessor<openvdb::FloatTree> accessor(tree);
  for (size_t i = 0; i < count; ++i) {
    accessor.addLeaf(made[i].get());  // internal nodes are created with inactive 0 tiles
    LeafT* leaf = made[i].release();
    if (added) (*added)[i] = leaf;
  }
}

}  // namespace

void DenseFloatTree::addSlab(openvdb::FloatTree& tree, const float* values, const int size[3], int z0, int z1) {
  if (cellCount(size) == 0 || z1 <= z0) return;
  addDenseLeaves(tree, values, size, z0, z1, nullptr);
}

void DenseFloatTree::build(const float* values, const int size[3]) {
  clear();
  auto tree = std::make_shared<openvdb::FloatTree>(0.0f);
  if (cellCount(size) == 0) {
    // Empty grid: a tree with nothing in it, still written as a named grid.
    tree_ = tree;
    return;
  }
  std::vector<LeafT*> leaves;
  addDenseLeaves(*tree, values, size, 0, size[2], &leaves);
  tree_ = tree;
  leaves_.swap(leaves);
  size_[0] = size[0];
  size_[1] = size[1];
  size_[2] = size[2];
}

}  // namespace NebVdb
