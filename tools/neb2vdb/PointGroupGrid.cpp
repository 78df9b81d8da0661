#include "tools/neb2vdb/PointGroupGrid.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <openvdb/points/PointAttribute.h>
#include <openvdb/points/PointConversion.h>
#include <openvdb/tools/PointIndexGrid.h>

#include "nebloader.h"

namespace Neb2Vdb {

namespace {

using openvdb::points::PointAttributeVector;
using openvdb::points::PointDataGrid;
using openvdb::points::PointDataTree;
using openvdb::tools::PointIndexGrid;

constexpr int kPositionSlot = 0, kVelocitySlot = 1, kIdSlot = 10;
constexpr int kTypeFloat = 10, kTypeId = 7;

void turnToZUp(float v[3]) {
  const float y = v[1];
  v[1] = -v[2];
  v[2] = y;
}

std::string slotError(IOstranePrtGroup& group, int slot) {
  return std::string("cannot read channel ") + std::to_string(slot) + " of particle group '" + group.getName() + "'";
}

// The values of one slot for the kept particles, as T (sizeof(T) == bytes per particle).
template <typename T>
std::vector<T> readSlot(IOstranePrtGroup& group, int slot, const std::vector<int>& kept) {
  std::vector<T> values(kept.size());
  for (size_t i = 0; i < kept.size(); ++i)
    if (!group.getParticleValue(kept[i], slot, &values[i])) throw std::runtime_error(slotError(group, slot));
  return values;
}

template <typename T>
void addAttribute(PointDataTree& tree, const openvdb::tools::PointIndexTree& index, const std::string& name,
                  const std::vector<T>& values) {
  openvdb::points::appendAttribute<T>(tree, name);
  openvdb::points::populateAttribute(tree, index, name, PointAttributeVector<T>(values));
}

}  // namespace

PointDataGrid::Ptr makePointDataGrid(IOstranePrtGroup& group, const openvdb::math::Transform& transform,
                                     const std::string& name, bool zUp, size_t* leftOut) {
  const int count = group.getParticleCount();
  std::vector<openvdb::Vec3f> positions;
  std::vector<int> kept;
  positions.reserve(count > 0 ? size_t(count) : 0);
  kept.reserve(positions.capacity());
  for (int i = 0; i < count; ++i) {
    float p[3];
    if (!group.getParticleValue(i, kPositionSlot, p)) throw std::runtime_error(slotError(group, kPositionSlot));
    if (zUp) turnToZUp(p);
    const openvdb::Vec3d world(p[0], p[1], p[2]);
    const openvdb::Vec3d index = transform.worldToIndex(world);
    bool placeable = true;
    for (int k = 0; k < 3; ++k) placeable = placeable && std::isfinite(p[k]) && std::fabs(index[k]) < 1073741824.0;
    if (!placeable) continue;
    positions.emplace_back(p[0], p[1], p[2]);
    kept.push_back(i);
  }
  if (leftOut) *leftOut = size_t(count > 0 ? count : 0) - kept.size();

  const PointAttributeVector<openvdb::Vec3f> wrapper(positions);
  PointIndexGrid::Ptr index = openvdb::tools::createPointIndexGrid<PointIndexGrid>(wrapper, transform);
  PointDataGrid::Ptr grid =
      openvdb::points::createPointDataGrid<openvdb::points::NullCodec, PointDataGrid>(*index, wrapper, transform);
  grid->setName(name);
  PointDataTree& tree = grid->tree();
  for (int slot = 1; slot < 32; ++slot) {
    if (!group.hasChannel(slot)) continue;
    const int bytes = group.getBytesPerParticle(slot);
    const int type = group.getChannelDataType(slot);
    const std::string attribute = slot == kVelocitySlot ? "v" : slot == kIdSlot ? "id" : "slot_" + std::to_string(slot);
    if (type == kTypeId && bytes == 8) {
      addAttribute(tree, index->tree(), attribute, readSlot<int64_t>(group, slot, kept));
    } else if (type == kTypeFloat && bytes == 12) {
      std::vector<openvdb::Vec3f> values = readSlot<openvdb::Vec3f>(group, slot, kept);
      if (zUp && slot == kVelocitySlot)
        for (openvdb::Vec3f& v : values) turnToZUp(v.asPointer());
      addAttribute(tree, index->tree(), attribute, values);
    } else if (type == kTypeFloat && bytes == 4) {
      addAttribute(tree, index->tree(), attribute, readSlot<float>(group, slot, kept));
    } else if (bytes == 4) {
      addAttribute(tree, index->tree(), attribute, readSlot<int32_t>(group, slot, kept));
    }  // slots without data per particle carry nothing to write
  }
  return grid;
}

}  // namespace Neb2Vdb
