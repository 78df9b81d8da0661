// Block means of a sparse OpenVDB grid from what its tree stores, for the voxel-limited
// import of grids whose source box is far larger than their contents.
#pragma once

#include <openvdb/openvdb.h>

#include <cstdint>

namespace VdbPort {

// Voxels the tree stores in leaves (512 per leaf), the measure of what a file really holds.
// 0 for grid types copyBoxToDense does not take.
int64_t storedLeafVoxels(const openvdb::GridBase& grid);

// Writes the mean of each s x s x s block of the index box `box` (blocks start at box.min;
// those at the far edges are clipped to the box) into `out`, dims[0] x dims[1] x dims[2]
// cells, x fastest. The cells take the same values as copyBoxToDense would give them:
// leaf voxels and tiles, active or not, and the background elsewhere, each rounded to
// float first. The work is proportional to the tree's leaf voxels and tiles (each tile
// adds value x overlap to the blocks it overlaps), never to the box's volume. Grid and
// component as for copyBoxToDense; false for other types. Throws std::bad_alloc.
bool sparseBlockMeans(const openvdb::GridBase& grid, int component, const openvdb::CoordBBox& box, int64_t s,
                      const int64_t dims[3], float* out);

}  // namespace VdbPort
