// A particle group as an OpenVDB point data grid.
//
// Positions (slot 0) are taken as world positions and placed with `transform`, the
// index-to-world transform of the frame's voxel grids, so points and voxels line up.
// They are stored uncompressed (32-bit floats relative to their voxel). Every other slot
// the group has becomes an attribute: slot 1 "v" (Vec3s), slot 10
// "id" (int64), the others "slot_<n>": Vec3s or float for float
// slots, int32 for integer and untyped 32-bit slots (bits kept as they are).
// With zUp, positions and velocities take the Z-up turn (x, y, z) -> (x, -z, y) first,
// as the grids do (GridNaming.h); `transform` is then the turned one.
// A particle whose position is not finite or lies beyond 2^30 voxels cannot be placed
// and is left out; the count is returned.
#pragma once

#include <string>

#include <openvdb/openvdb.h>
#include <openvdb/points/PointDataGrid.h>

#include "nebloader_c.h"

namespace Neb2Vdb {

// The group's name ("" when it cannot be read).
std::string groupName(neb_group* group);

// Read through the C interface (neb_group_values). Throws std::runtime_error when a present
// channel cannot be read.
openvdb::points::PointDataGrid::Ptr makePointDataGrid(neb_group* group, const openvdb::math::Transform& transform,
                                                      const std::string& name, bool zUp, size_t* leftOut);

}  // namespace Neb2Vdb
