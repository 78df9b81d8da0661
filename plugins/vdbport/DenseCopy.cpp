#include "plugins/vdbport/DenseCopy.h"

#include <cstddef>

namespace VdbPort {

namespace {

// The trees copy into any "dense" type with this interface (ValueType, bbox, data and the
// three strides); leaf voxels and tiles alike are written as `ValueType(value)`. The cell
// types below are one float wide, so the float array itself is the dense storage and the
// conversion picks the scalar or one component on the way.
template <class Cell>
class DenseTarget {
 public:
  using ValueType = Cell;
  DenseTarget(const openvdb::CoordBBox& box, float* data)
      : box_(box),
        data_(reinterpret_cast<Cell*>(data)),
        yStride_(static_cast<size_t>(box.dim().x())),
        zStride_(yStride_ * static_cast<size_t>(box.dim().y())) {}
  const openvdb::CoordBBox& bbox() const { return box_; }
  Cell* data() { return data_; }
  size_t xStride() const { return 1; }
  size_t yStride() const { return yStride_; }
  size_t zStride() const { return zStride_; }

 private:
  openvdb::CoordBBox box_;
  Cell* data_;
  size_t yStride_, zStride_;
};

struct ScalarCell {
  float v;
  ScalarCell() = default;
  template <class T>
  explicit ScalarCell(const T& x) : v(static_cast<float>(x)) {}
};

template <int C>
struct ComponentCell {
  float v;
  ComponentCell() = default;
  template <class V>
  explicit ComponentCell(const V& x) : v(static_cast<float>(x[C])) {}
};

static_assert(sizeof(ScalarCell) == sizeof(float), "cells alias the float array");
static_assert(sizeof(ComponentCell<0>) == sizeof(float), "cells alias the float array");

template <class Cell, class GridT>
void copyTree(const openvdb::GridBase& grid, const openvdb::CoordBBox& box, float* out) {
  DenseTarget<Cell> target(box, out);
  static_cast<const GridT&>(grid).constTree().root().copyToDense(box, target);
}

template <class GridT>
bool copyVector(const openvdb::GridBase& grid, int component, const openvdb::CoordBBox& box, float* out) {
  switch (component) {
    case 0: copyTree<ComponentCell<0>, GridT>(grid, box, out); return true;
    case 1: copyTree<ComponentCell<1>, GridT>(grid, box, out); return true;
    case 2: copyTree<ComponentCell<2>, GridT>(grid, box, out); return true;
    default: return false;
  }
}

}  // namespace

bool copyBoxToDense(const openvdb::GridBase& grid, int component, const openvdb::CoordBBox& box, float* out) {
  if (box.empty()) return true;
  if (component < 0) {
    if (grid.isType<openvdb::FloatGrid>()) {
      copyTree<ScalarCell, openvdb::FloatGrid>(grid, box, out);
      return true;
    }
    if (grid.isType<openvdb::DoubleGrid>()) {
      copyTree<ScalarCell, openvdb::DoubleGrid>(grid, box, out);
      return true;
    }
    return false;
  }
  if (grid.isType<openvdb::Vec3SGrid>()) return copyVector<openvdb::Vec3SGrid>(grid, component, box, out);
  if (grid.isType<openvdb::Vec3DGrid>()) return copyVector<openvdb::Vec3DGrid>(grid, component, box, out);
  return false;
}

}  // namespace VdbPort
