// The OpenVDB plug-in loaded into libnebloader.so once per test program (the plug-in
// table is process-wide), and small helpers to write OpenVDB files and read frames back.
#pragma once

#include <gtest/gtest.h>
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include <string>
#include <vector>

#include "nebloader.h"
#include "plugins/PluginTestSupport.h"

namespace vdbtest {

// The built module, as vdbport_test.so (.dll) in a directory of its own.
inline const std::string& pluginDir() {
  static const loadertest::TempDir* dir = plugintest::linkedModuleDir(VDBPORT_PATH, "vdbport");
  return dir->path();
}

using plugintest::defaultMapping;
using plugintest::offered;

inline int loadPlugin() { return initalizeNebuLoader(pluginDir().c_str(), "test", 0); }

inline void writeVdb(const std::string& path, const openvdb::GridPtrVec& grids) {
  openvdb::io::File file(path);
  file.write(grids);
  file.close();
}

// An empty grid of type GridT named `name`.
template <class GridT>
typename GridT::Ptr namedGrid(const std::string& name,
                              const typename GridT::ValueType& background = openvdb::zeroVal<typename GridT::ValueType>()) {
  typename GridT::Ptr grid = GridT::create(background);
  grid->setName(name);
  return grid;
}

// A float grid with the given name, transform and active voxels value(ijk) over `box`.
template <class Fn>
openvdb::FloatGrid::Ptr floatGrid(const std::string& name, const openvdb::CoordBBox& box, Fn value,
                                  openvdb::math::Transform::Ptr xform = openvdb::math::Transform::createLinearTransform(1.0),
                                  float background = 0.0f) {
  openvdb::FloatGrid::Ptr grid = namedGrid<openvdb::FloatGrid>(name, background);
  grid->setTransform(xform);
  auto acc = grid->getAccessor();
  for (auto it = box.begin(); it; ++it) acc.setValue(*it, value(*it));
  return grid;
}

// Dense index of a cell of a frame of size n.
inline size_t cell(const int n[3], int x, int y, int z) {
  return static_cast<size_t>(x) + static_cast<size_t>(n[0]) * (static_cast<size_t>(y) + static_cast<size_t>(n[1]) * z);
}

// World position w through a frame transform (v = w * A + o).
inline openvdb::Vec3d toFrameGrid(const float t[12], const openvdb::Vec3d& w) {
  openvdb::Vec3d v;
  for (int c = 0; c < 3; ++c) v[c] = w[0] * t[c] + w[1] * t[3 + c] + w[2] * t[6 + c] + t[9 + c];
  return v;
}

class PluginTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { openvdb::initialize(); }
  void SetUp() override { ASSERT_EQ(loadPlugin(), 2); }
  loadertest::TempDir files;
};

}  // namespace vdbtest
