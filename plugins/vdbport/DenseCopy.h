// Copying a box of a sparse OpenVDB grid into a dense float array.
#pragma once

#include <openvdb/openvdb.h>

namespace VdbPort {

// Writes every cell of the index box `box` into `out`: x fastest, then y, then z, with the
// box's own dimensions (out must hold box.volume() floats). Active or not, each cell gets
// the grid's value there: voxel values inside leaves, tile values, the background
// outside. `grid` is a scalar grid (component -1) or a vec3 grid with component 0, 1 or 2
// (see VdbSources.h); doubles are rounded to float. Runs on the calling thread; several
// threads may copy disjoint boxes of one grid at once. False for any other grid type.
bool copyBoxToDense(const openvdb::GridBase& grid, int component, const openvdb::CoordBBox& box, float* out);

}  // namespace VdbPort
