#include "tools/neb2vdb/PointGroupGrid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <openvdb/points/PointAttribute.h>
#include <openvdb/points/PointConversion.h>
#include <openvdb/tools/PointIndexGrid.h>


namespace Neb2Vdb {

namespace {

using openvdb::points::PointAttributeVector;
using openvdb::points::PointDataGrid;
using openvdb::points::PointDataTree;
using openvdb::tools::PointIndexGrid;

constexpr int kPositionSlot = 0, kVelocitySlot = 1, kIdSlot = 10;
constexpr int kTypeFloat = NEB_TYPE_FLOAT, kTypeId = NEB_TYPE_ID64;

void turnToZUp(float v[3]) {
  const float y = v[1];
  v[1] = -v[2];
  v[2] = y;
}

std::string slotError(neb_group* group, int slot) {
  return std::string("cannot read channel ") + std::to_string(slot) + " of particle group '" + groupName(group) + "'";
}

// Every particle's values of one slot, as T (sizeof(T) == bytes per particle).
template <typename T>
std::vector<T> readAll(neb_group* group, int slot, int64_t count) {
  std::vector<T> values(size_t(count > 0 ? count : 0));
  const long long bytes = (long long)(values.size() * sizeof(T));
  if (!values.empty() && neb_group_values(group, slot, 0, count, values.data(), bytes) != NEB_OK)
    throw std::runtime_error(slotError(group, slot));
  return values;
}

// The values of one slot for the kept particles, as T (sizeof(T) == bytes per particle).
template <typename T>
std::vector<T> readSlot(neb_group* group, int slot, int64_t count, const std::vector<int64_t>& kept) {
  std::vector<T> all = readAll<T>(group, slot, count);
  if (kept.size() == all.size()) return all;
  std::vector<T> values(kept.size());
  for (size_t i = 0; i < kept.size(); ++i) values[i] = all[size_t(kept[i])];
  return values;
}

template <typename T>
void addAttribute(PointDataTree& tree, const openvdb::tools::PointIndexTree& index, const std::string& name,
                  const std::vector<T>& values) {
  openvdb::points::appendAttribute<T>(tree, name);
  openvdb::points::populateAttribute(tree, index, name, PointAttributeVector<T>(values));
}

}  // namespace

std::string groupName(neb_group* group) {
  long long length = 0;
  if (neb_group_name(group, nullptr, 0, &length) != NEB_E_BUFFER && length == 0) return "";
  std::string name(size_t(length) + 1, '\0');
  if (neb_group_name(group, &name[0], (long long)name.size(), &length) != NEB_OK) return "";
  name.resize(size_t(length));
  return name;
}

PointDataGrid::Ptr makePointDataGrid(neb_group* group, const openvdb::math::Transform& transform,
                                     const std::string& name, bool zUp, size_t* leftOut) {
  const int64_t count = std::max(0LL, neb_group_particle_count(group));
  const std::vector<openvdb::Vec3f> stored = readAll<openvdb::Vec3f>(group, kPositionSlot, count);
  std::vector<openvdb::Vec3f> positions;
  std::vector<int64_t> kept;
  positions.reserve(stored.size());
  kept.reserve(stored.size());
  for (int64_t i = 0; i < count; ++i) {
    float p[3] = {stored[size_t(i)][0], stored[size_t(i)][1], stored[size_t(i)][2]};
    if (zUp) turnToZUp(p);
    const openvdb::Vec3d world(p[0], p[1], p[2]);
    const openvdb::Vec3d index = transform.worldToIndex(world);
    bool placeable = true;
    for (int k = 0; k < 3; ++k) placeable = placeable && std::isfinite(p[k]) && std::fabs(index[k]) < 1073741824.0;
    if (!placeable) continue;
    positions.emplace_back(p[0], p[1], p[2]);
    kept.push_back(i);
  }
  if (leftOut) *leftOut = size_t(count) - kept.size();

  const PointAttributeVector<openvdb::Vec3f> wrapper(positions);
  PointIndexGrid::Ptr index = openvdb::tools::createPointIndexGrid<PointIndexGrid>(wrapper, transform);
  PointDataGrid::Ptr grid =
      openvdb::points::createPointDataGrid<openvdb::points::NullCodec, PointDataGrid>(*index, wrapper, transform);
  grid->setName(name);
  PointDataTree& tree = grid->tree();
  for (int slot = 1; slot < 32; ++slot) {
    if (neb_group_has_slot(group, slot) != 1) continue;
    const int bytes = neb_group_slot_bytes(group, slot);
    int type = NEB_TYPE_NONE;
    neb_slot_layout(slot, nullptr, nullptr, &type);
    const std::string attribute = slot == kVelocitySlot ? "v" : slot == kIdSlot ? "id" : "slot_" + std::to_string(slot);
    if (type == kTypeId && bytes == 8) {
      addAttribute(tree, index->tree(), attribute, readSlot<int64_t>(group, slot, count, kept));
    } else if (type == kTypeFloat && bytes == 12) {
      std::vector<openvdb::Vec3f> values = readSlot<openvdb::Vec3f>(group, slot, count, kept);
      if (zUp && slot == kVelocitySlot)
        for (openvdb::Vec3f& v : values) turnToZUp(v.asPointer());
      addAttribute(tree, index->tree(), attribute, values);
    } else if (type == kTypeFloat && bytes == 4) {
      addAttribute(tree, index->tree(), attribute, readSlot<float>(group, slot, count, kept));
    } else if (bytes == 4) {
      addAttribute(tree, index->tree(), attribute, readSlot<int32_t>(group, slot, count, kept));
    }  // slots without data per particle carry nothing to write
  }
  return grid;
}

}  // namespace Neb2Vdb
