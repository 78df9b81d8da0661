// Float and Vec3s trees from dense channel arrays, keeping only the cells that carry a
// value: a cell is an active voxel when some component has |value| > tolerance;
// every other cell is an inactive voxel holding the background 0 (or (0,0,0)).
//
// Built leaf by leaf like DenseFloatTree (one 8^3 leaf per block of the box, source x
// fastest, leaf offset (x<<6)|(y<<3)|z), in parallel over blocks. Then pruned:
//   - a block with no active cell gets no leaf (background tile);
//   - a block whose 512 cells are all active with one bit pattern becomes an active
//     tile of that value. Bit patterns, not float equality: +0/-0 and NaN payloads
//     must survive, and OpenVDB's own prune() treats NaNs as equal to anything.
// Active values are copied unchanged, bit for bit.
//
// With keepAll every cell of the box is active, as DenseFloatTree makes them (used for
// vector grids of dense output; nothing is pruned then).
#pragma once

#include <openvdb/openvdb.h>

namespace NebVdb {

// `values`: nx*ny*nz floats, x fastest. Throws std::bad_alloc / std::length_error.
openvdb::FloatTree::Ptr buildSparseFloatTree(const float* values, const int size[3], float tolerance);

// `components`: three nx*ny*nz float arrays (x, y, z components).
openvdb::Vec3STree::Ptr buildVec3Tree(const float* const components[3], const int size[3], float tolerance,
                                      bool keepAll);

// The same trees built slab by slab, for a caller that streams its channels: each call
// adds the blocks of layers [z0, z1), whose cells `values` / `components` hold (layer z0
// first, x fastest). z0 must be a multiple of 8 and z1 a multiple of 8 or size[2]; the
// slabs of a tree together give what the whole-array builders give, bit for bit.
void addSparseFloatSlab(openvdb::FloatTree& tree, const float* values, const int size[3], int z0, int z1,
                        float tolerance);
void addVec3Slab(openvdb::Vec3STree& tree, const float* const components[3], const int size[3], int z0, int z1,
                 float tolerance, bool keepAll);

}  // namespace NebVdb
