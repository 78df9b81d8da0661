#include "vdb/SparseTree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#if defined(__SSE2__)
#include <xmmintrin.h>
#include <emmintrin.h>
#endif

#include "vdb/DenseFloatTree.h"

namespace NebVdb {

namespace {

constexpr int kLeafDim = 8;

// The dense arrays a tree is built from: one (scalar) or three (vector) float components.
// A cell is active when some component has |value| > tolerance (NaN counts as a value).
struct ScalarSource {
  using Value = float;
  static constexpr int kComponents = 1;
  const float* components[1];
  float tolerance;
  bool keepAll;
  static Value compose(const float (*soa)[512], int k) { return soa[0][k]; }
};

struct Vec3Source {
  using Value = openvdb::Vec3s;
  static constexpr int kComponents = 3;
  const float* components[3];
  float tolerance;
  bool keepAll;
  static Value compose(const float (*soa)[512], int k) { return Value(soa[0][k], soa[1][k], soa[2][k]); }
};

enum class BlockKind { kEmpty, kLeaf, kTile };

// A block gathered into the leaf's own layout, one array per component: value offset
// (x << 6) | (y << 3) | z, and mask word x holds bit (y << 3) | z. Inactive cells hold
// +0, the background. Only blocks with an active cell that are not one constant tile get
// a leaf: most blocks of a plume are empty, and allocating (and zero-filling) a leaf for
// each of them cost more than reading them.
template <int C>
struct BlockScratch {
  float soa[C][kLeafDim * kLeafDim * kLeafDim];
  uint64_t words[kLeafDim];
};

// Any block, cell by cell: `extent` cells of it lie inside the grid, the rest stay
// inactive background.
template <typename Source>
void gatherBlock(const Source& source, int64_t base, int64_t nx, int64_t nxy, const int extent[3],
                 BlockScratch<Source::kComponents>& b) {
  constexpr int C = Source::kComponents;
  if (extent[0] < kLeafDim || extent[1] < kLeafDim || extent[2] < kLeafDim)
    for (int c = 0; c < C; ++c) std::fill(b.soa[c], b.soa[c] + 512, 0.0f);
  for (int z = 0; z < extent[2]; ++z) {
    for (int y = 0; y < extent[1]; ++y) {
      const int64_t row = base + z * nxy + y * nx;
      const int bit = (y << 3) | z;
      for (int x = 0; x < extent[0]; ++x) {
        float v[C];
        bool active = source.keepAll;
        for (int c = 0; c < C; ++c) {
          v[c] = source.components[c][row + x];
          active = active || !(std::fabs(v[c]) <= source.tolerance);
        }
        for (int c = 0; c < C; ++c) b.soa[c][(x << 6) | bit] = active ? v[c] : 0.0f;
        b.words[x] |= uint64_t(active) << bit;
      }
    }
  }
}

#if defined(__SSE2__)
// A block wholly inside the grid, 4x4 cells at a time: for each y, four source rows
// (z .. z+3, x fastest) are transposed so that each register holds four z values of one x,
// which the leaf keeps side by side. The same rule as gatherBlock: !(|v| <= tolerance) is
// true for NaN; and-ing with the activity mask leaves inactive cells +0.
template <typename Source>
void gatherInteriorBlock(const Source& source, int64_t base, int64_t nx, int64_t nxy,
                         BlockScratch<Source::kComponents>& b) {
  constexpr int C = Source::kComponents;
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 tolerance = _mm_set1_ps(source.tolerance);
  const __m128 none = source.keepAll ? _mm_castsi128_ps(_mm_set1_epi32(-1)) : _mm_setzero_ps();
  for (int y = 0; y < kLeafDim; ++y) {
    for (int z = 0; z < kLeafDim; z += 4) {
      for (int x = 0; x < kLeafDim; x += 4) {
        __m128 r[C][4];
        __m128 active[4] = {none, none, none, none};
        for (int c = 0; c < C; ++c) {
          const float* at = source.components[c] + base + z * nxy + y * nx + x;
          r[c][0] = _mm_loadu_ps(at);
          r[c][1] = _mm_loadu_ps(at + nxy);
          r[c][2] = _mm_loadu_ps(at + 2 * nxy);
          r[c][3] = _mm_loadu_ps(at + 3 * nxy);
          _MM_TRANSPOSE4_PS(r[c][0], r[c][1], r[c][2], r[c][3]);  // r[c][j]: x + j, z .. z+3
          for (int j = 0; j < 4; ++j)
            active[j] = _mm_or_ps(active[j], _mm_cmpnle_ps(_mm_and_ps(r[c][j], magnitude), tolerance));
        }
        for (int j = 0; j < 4; ++j) {
          const int offset = ((x + j) << 6) | (y << 3) | z;
          for (int c = 0; c < C; ++c) _mm_storeu_ps(&b.soa[c][offset], _mm_and_ps(r[c][j], active[j]));
          b.words[x + j] |= uint64_t(_mm_movemask_ps(active[j])) << ((y << 3) | z);
        }
      }
    }
  }
}
#endif

// Adds the blocks of layers [z0, z1) to `tree`: z0 is a multiple of 8 and z1 either a
// multiple of 8 or the grid's last layer, so every block lies in one slab. The source's
// components hold the slab's cells, layer z0 first.
template <typename TreeT, typename Source>
void addBlocks(TreeT& tree, const Source& source, const int size[3], int z0, int z1) {
  using LeafT = typename TreeT::LeafNodeType;
  using Value = typename Source::Value;
  constexpr int C = Source::kComponents;
  static_assert(LeafT::DIM == kLeafDim && LeafT::SIZE == 512, "leaf offsets below assume 8^3 leaves");
  static_assert(LeafT::NodeMaskType::WORD_COUNT == kLeafDim, "one 64-bit mask word per x slab");
  if (DenseFloatTree::cellCount(size) == 0 || z1 <= z0) return;
  const int bx = (size[0] + kLeafDim - 1) / kLeafDim;
  const int by = (size[1] + kLeafDim - 1) / kLeafDim;
  const int bz = (z1 - z0 + kLeafDim - 1) / kLeafDim;
  const size_t count = size_t(bx) * size_t(by) * size_t(bz);
  const int64_t nx = size[0], nxy = nx * size[1];
  auto originOf = [&](size_t i) {
    return openvdb::Coord(int(i % bx) * kLeafDim, int((i / bx) % by) * kLeafDim,
                          z0 + int(i / (size_t(bx) * by)) * kLeafDim);
  };

  std::vector<std::unique_ptr<LeafT>> leaves(count);
  std::vector<Value> tiles(count);
  std::vector<BlockKind> kinds(count, BlockKind::kEmpty);
  tbb::parallel_for(tbb::blocked_range<size_t>(0, count), [&](const tbb::blocked_range<size_t>& r) {
    BlockScratch<C> b;
    for (size_t i = r.begin(); i != r.end(); ++i) {
      const openvdb::Coord origin = originOf(i);
      const int extent[3] = {std::min(kLeafDim, size[0] - origin.x()), std::min(kLeafDim, size[1] - origin.y()),
                             std::min(kLeafDim, z1 - origin.z())};
      const int64_t base = (origin.z() - z0) * nxy + origin.y() * nx + origin.x();
      std::fill(b.words, b.words + kLeafDim, uint64_t(0));
#if defined(__SSE2__)
      if (extent[0] == kLeafDim && extent[1] == kLeafDim && extent[2] == kLeafDim)
        gatherInteriorBlock(source, base, nx, nxy, b);
      else
#endif
        gatherBlock(source, base, nx, nxy, extent, b);
      uint64_t any = 0, all = ~uint64_t(0);
      for (int w = 0; w < kLeafDim; ++w) {
        any |= b.words[w];
        all &= b.words[w];
      }
      if (!any && !source.keepAll) continue;
      if (all == ~uint64_t(0) && !source.keepAll) {
        // Bit patterns, component by component.
        bool constant = true;
        for (int c = 0; c < C && constant; ++c) {
          uint32_t first;
          std::memcpy(&first, &b.soa[c][0], sizeof first);
          for (int k = 1; k < 512 && constant; ++k) constant = std::memcmp(&b.soa[c][k], &first, sizeof first) == 0;
        }
        if (constant) {
          kinds[i] = BlockKind::kTile;
          tiles[i] = Source::compose(b.soa, 0);
          continue;
        }
      }
      auto leaf = std::make_unique<LeafT>(openvdb::PartialCreate(), origin, openvdb::zeroVal<Value>(), false);
      leaf->buffer().allocate();
      Value* data = leaf->buffer().data();
      for (int k = 0; k < 512; ++k) data[k] = Source::compose(b.soa, k);
      auto& mask = leaf->getValueMask();
      for (int w = 0; w < kLeafDim; ++w) mask.template getWord<uint64_t>(w) = b.words[w];
      kinds[i] = BlockKind::kLeaf;
      leaves[i] = std::move(leaf);
    }
  });
  openvdb::tree::ValueAccessor<TreeT> accessor(tree);
  for (size_t i = 0; i < count; ++i) {
    if (kinds[i] == BlockKind::kLeaf) {
      accessor.addLeaf(leaves[i].release());
    } else if (kinds[i] == BlockKind::kTile) {
      // Level 1 holds tiles the size of one leaf.
      accessor.addTile(1, originOf(i), tiles[i], true);
    }
  }
}

}  // namespace

openvdb::FloatTree::Ptr buildSparseFloatTree(const float* values, const int size[3], float tolerance) {
  auto tree = std::make_shared<openvdb::FloatTree>(0.0f);
  addSparseFloatSlab(*tree, values, size, 0, size[2], tolerance);
  return tree;
}

openvdb::Vec3STree::Ptr buildVec3Tree(const float* const components[3], const int size[3], float tolerance,
                                      bool keepAll) {
  auto tree = std::make_shared<openvdb::Vec3STree>(openvdb::zeroVal<openvdb::Vec3s>());
  addVec3Slab(*tree, components, size, 0, size[2], tolerance, keepAll);
  return tree;
}

void addSparseFloatSlab(openvdb::FloatTree& tree, const float* values, const int size[3], int z0, int z1,
                        float tolerance) {
  addBlocks(tree, ScalarSource{{values}, tolerance, false}, size, z0, z1);
}

void addVec3Slab(openvdb::Vec3STree& tree, const float* const components[3], const int size[3], int z0, int z1,
                 float tolerance, bool keepAll) {
  addBlocks(tree, Vec3Source{{components[0], components[1], components[2]}, tolerance, keepAll}, size, z0, z1);
}

}  // namespace NebVdb
