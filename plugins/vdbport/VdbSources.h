// Which grids of an OpenVDB file the plug-in offers as channels, and which grid a mapping
// name refers to.
//
// Offered, in the order OpenVDB lists a file's grids (by name): scalar grids of float or double values under their own names, and each
// component of a vec3 grid (float or double) as "<grid>.x", "<grid>.y", "<grid>.z".
// Flag byte 1 marks grids that are never density-like, so the default mapping never
// makes them smoke: level sets and vector components. Every other grid has flag 0.
// Grids of other value types (integers, booleans, masks, points) are not offered.
#pragma once

#include <openvdb/openvdb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace VdbPort {

struct OfferedChannel {
  std::string name;
  uint8_t flag;
};

bool isScalarGrid(const openvdb::GridBase& grid);
bool isVectorGrid(const openvdb::GridBase& grid);

// The channels offered by a file whose grids (metadata is enough) are `grids`, in their order.
std::vector<OfferedChannel> offeredChannels(const openvdb::GridPtrVec& grids);

// The grid a mapping name refers to: a scalar grid of exactly that name first, otherwise a
// vec3 grid named by the part before a final ".x", ".y" or ".z" (component 0, 1, 2). With
// several grids of one name the first counts. Null when the file has no such grid;
// `component` is -1 for a scalar grid.
openvdb::GridBase::Ptr findSourceGrid(const openvdb::GridPtrVec& grids, const std::string& name, int& component);

}  // namespace VdbPort
