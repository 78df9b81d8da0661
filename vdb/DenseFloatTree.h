// A float tree holding a dense box of cells [0,nx) x [0,ny) x [0,nz), every cell active.
//
// Built leaf by leaf: one 8^3 leaf per block touching the box, its buffer filled from the
// dense array (source x fastest, leaf offset (x<<6)|(y<<3)|z, i.e. z fastest) and its value
// mask on for the cells inside the box. Cells of border leaves outside the box keep the
// background 0 and stay inactive. The result is the same tree, value for value and bit
// for bit, as setting every cell through a value accessor, in parallel over leaves.
//
// refill() reuses the leaves of an earlier build of the same size: only the buffers are
// rewritten, the topology and masks are already right.
#pragma once

#include <cstdint>
#include <vector>

#include <openvdb/openvdb.h>

namespace NebVdb {

class DenseFloatTree {
 public:
  // Number of cells of a grid size, 0 for an empty grid (any count <= 0). Throws
  // std::length_error when the count does not fit 63 bits.
  static int64_t cellCount(const int size[3]);

  // Builds a new tree for `size` from `values` (cellCount(size) floats, x fastest), or
  // refills the current one when it has the same size and nobody else holds it. Values
  // are copied unchanged (bit patterns included). Throws std::bad_alloc or
  // std::length_error; the object is then empty.
  void fill(const float* values, const int size[3]);

  // Adds the leaves of layers [z0, z1) to `tree`, every cell inside the grid active, from
  // `values` holding those layers (z0 first): z0 a multiple of 8, z1 a multiple of 8 or
  // size[2]. The slabs of a tree together give what fill() builds. Throws std::bad_alloc.
  static void addSlab(openvdb::FloatTree& tree, const float* values, const int size[3], int z0, int z1);

  // The tree of the last fill (null before the first). Grids made from it share it; a
  // later fill() builds a new tree if the previous one is still shared.
  openvdb::FloatTree::Ptr tree() const { return tree_; }

  void clear();

 private:
  void build(const float* values, const int size[3]);
  void refill(const float* values);

  openvdb::FloatTree::Ptr tree_;
  std::vector<openvdb::FloatTree::LeafNodeType*> leaves_;  // owned by tree_
  int size_[3] = {0, 0, 0};
};

}  // namespace NebVdb
