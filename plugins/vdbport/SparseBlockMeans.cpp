#include "plugins/vdbport/SparseBlockMeans.h"

#include <algorithm>
#include <vector>

namespace VdbPort {

namespace {

struct Scalar {
  template <class T>
  static float get(const T& v) { return static_cast<float>(v); }
};

template <int C>
struct Component {
  template <class V>
  static float get(const V& v) { return static_cast<float>(v[C]); }
};

// Sums of (value - background) per block, in double, so a block nothing touches stays
// exactly at the background; the mean is background + sum / voxels.
template <class Pick, class GridT>
void blockMeans(const openvdb::GridBase& base, const openvdb::CoordBBox& box, int64_t s, const int64_t dims[3],
                float* out) {
  const GridT& grid = static_cast<const GridT&>(base);
  const double bg = Pick::get(grid.background());
  std::vector<double> sum(static_cast<size_t>(dims[0] * dims[1] * dims[2]), 0.0);
  const openvdb::Coord& o = box.min();
  for (auto it = grid.constTree().cbeginValueAll(); it; ++it) {
    openvdb::CoordBBox b;
    it.getBoundingBox(b);
    b.intersect(box);
    if (b.empty()) continue;
    const float v = Pick::get(*it);
    if (v == static_cast<float>(bg)) continue;
    const double delta = static_cast<double>(v) - bg;
    int64_t lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
      lo[a] = (static_cast<int64_t>(b.min()[a]) - o[a]) / s;
      hi[a] = (static_cast<int64_t>(b.max()[a]) - o[a]) / s;
    }
    // Voxels of the tile inside cell u along axis a (a tile is at most 4096 a side, and
    // the product is taken in double anyway).
    auto overlap = [&](int a, int64_t u) {
      const int64_t c0 = o[a] + u * s, c1 = c0 + s - 1;
      return static_cast<double>(std::min<int64_t>(c1, b.max()[a]) - std::max<int64_t>(c0, b.min()[a]) + 1);
    };
    for (int64_t k = lo[2]; k <= hi[2]; ++k) {
      const double nz = delta * overlap(2, k);
      for (int64_t j = lo[1]; j <= hi[1]; ++j) {
        const double nyz = nz * overlap(1, j);
        double* row = sum.data() + (k * dims[1] + j) * dims[0];
        for (int64_t i = lo[0]; i <= hi[0]; ++i) row[i] += nyz * overlap(0, i);
      }
    }
  }
  // From the corners: dim() is 32-bit and the box may span the whole index range.
  int64_t src[3];
  for (int a = 0; a < 3; ++a) src[a] = static_cast<int64_t>(box.max()[a]) - box.min()[a] + 1;
  auto extent = [&](int a, int64_t u) { return std::min(src[a], (u + 1) * s) - u * s; };
  for (int64_t k = 0; k < dims[2]; ++k)
    for (int64_t j = 0; j < dims[1]; ++j) {
      const double plane = static_cast<double>(extent(2, k)) * static_cast<double>(extent(1, j));
      for (int64_t i = 0; i < dims[0]; ++i) {
        const size_t c = static_cast<size_t>((k * dims[1] + j) * dims[0] + i);
        out[c] = static_cast<float>(bg + sum[c] / (plane * static_cast<double>(extent(0, i))));
      }
    }
}

template <class GridT>
bool vectorMeans(const openvdb::GridBase& grid, int component, const openvdb::CoordBBox& box, int64_t s,
                 const int64_t dims[3], float* out) {
  switch (component) {
    case 0: blockMeans<Component<0>, GridT>(grid, box, s, dims, out); return true;
    case 1: blockMeans<Component<1>, GridT>(grid, box, s, dims, out); return true;
    case 2: blockMeans<Component<2>, GridT>(grid, box, s, dims, out); return true;
    default: return false;
  }
}

template <class GridT>
int64_t leafVoxels(const openvdb::GridBase& grid) {
  return static_cast<int64_t>(static_cast<const GridT&>(grid).constTree().leafCount()) * 512;
}

}  // namespace

int64_t storedLeafVoxels(const openvdb::GridBase& grid) {
  if (grid.isType<openvdb::FloatGrid>()) return leafVoxels<openvdb::FloatGrid>(grid);
  if (grid.isType<openvdb::DoubleGrid>()) return leafVoxels<openvdb::DoubleGrid>(grid);
  if (grid.isType<openvdb::Vec3SGrid>()) return leafVoxels<openvdb::Vec3SGrid>(grid);
  if (grid.isType<openvdb::Vec3DGrid>()) return leafVoxels<openvdb::Vec3DGrid>(grid);
  return 0;
}

bool sparseBlockMeans(const openvdb::GridBase& grid, int component, const openvdb::CoordBBox& box, int64_t s,
                      const int64_t dims[3], float* out) {
  if (component < 0) {
    if (grid.isType<openvdb::FloatGrid>()) {
      blockMeans<Scalar, openvdb::FloatGrid>(grid, box, s, dims, out);
      return true;
    }
    if (grid.isType<openvdb::DoubleGrid>()) {
      blockMeans<Scalar, openvdb::DoubleGrid>(grid, box, s, dims, out);
      return true;
    }
    return false;
  }
  if (grid.isType<openvdb::Vec3SGrid>()) return vectorMeans<openvdb::Vec3SGrid>(grid, component, box, s, dims, out);
  if (grid.isType<openvdb::Vec3DGrid>()) return vectorMeans<openvdb::Vec3DGrid>(grid, component, box, s, dims, out);
  return false;
}

}  // namespace VdbPort
