#include "plugins/vdbport/VdbSources.h"

namespace VdbPort {

bool isScalarGrid(const openvdb::GridBase& grid) {
  return grid.isType<openvdb::FloatGrid>() || grid.isType<openvdb::DoubleGrid>();
}

bool isVectorGrid(const openvdb::GridBase& grid) {
  return grid.isType<openvdb::Vec3SGrid>() || grid.isType<openvdb::Vec3DGrid>();
}

std::vector<OfferedChannel> offeredChannels(const openvdb::GridPtrVec& grids) {
  static const char* const kComponents[3] = {".x", ".y", ".z"};
  std::vector<OfferedChannel> out;
  for (const openvdb::GridBase::Ptr& grid : grids) {
    if (!grid) continue;
    if (isScalarGrid(*grid)) {
      const bool levelSet = grid->getGridClass() == openvdb::GRID_LEVEL_SET;
      out.push_back({grid->getName(), static_cast<uint8_t>(levelSet ? 1 : 0)});
    } else if (isVectorGrid(*grid)) {
      for (const char* c : kComponents) out.push_back({grid->getName() + c, 1});
    }
  }
  return out;
}

openvdb::GridBase::Ptr findSourceGrid(const openvdb::GridPtrVec& grids, const std::string& name, int& component) {
  component = -1;
  for (const openvdb::GridBase::Ptr& grid : grids) {
    if (grid && isScalarGrid(*grid) && grid->getName() == name) return grid;
  }
  const size_t n = name.size();
  if (n < 3 || name[n - 2] != '.') return nullptr;
  const char axis = name[n - 1];
  if (axis != 'x' && axis != 'y' && axis != 'z') return nullptr;
  const std::string base = name.substr(0, n - 2);
  for (const openvdb::GridBase::Ptr& grid : grids) {
    if (grid && isVectorGrid(*grid) && grid->getName() == base) {
      component = axis - 'x';
      return grid;
    }
  }
  return nullptr;
}

}  // namespace VdbPort
