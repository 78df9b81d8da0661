// The Field3D plug-in loaded into libnebloader.so once per test program (the plug-in table
// is process-wide), the sample files written by Field3D 1.7.3 (data/, with their expected
// values in .npz archives) and helpers to read frames back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "nebloader.h"
#include "plugins/PluginTestSupport.h"
#include "support/Npz.h"

namespace f3dtest {

// The built module, linked as f3dport_test.so into a directory of its own.
inline const std::string& pluginDir() {
  static const loadertest::TempDir* dir = plugintest::linkedModuleDir(F3DPORT_PATH, "f3dport");
  return dir->path();
}

using plugintest::defaultMapping;
using plugintest::offered;

inline std::string sample(const std::string& name) { return std::string(F3D_DATA_DIR) + "/" + name; }

// Whether this build reads the sample: a build without libhdf5 reads the Ogawa ones only.
inline bool readable(const std::string& name) { return F3D_WITH_HDF5 || name.find("_ogawa") != std::string::npos; }

// A frame owned by the test.
struct Frame {
  INeb* f = nullptr;
  explicit Frame(INeb* frame) : f(frame) {}
  ~Frame() {
    if (f) deleteINeb(f);
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  std::vector<int> size() const {
    int n[3];
    f->getGridSize(n);
    return {n[0], n[1], n[2]};
  }
};

// Voxel-to-world of a linear placement in the row-vector convention (rows 0..2 linear,
// row 3 the world position of voxel coordinate 0), as the sample JSON records it.
struct VoxelToWorld {
  double m[4][3];
};

// World position of frame cell coordinate v through the inverse of the frame transform.
inline void frameCellToWorld(const float t[12], const double v[3], double w[3]) {
  // Solve w * A = v - o for w, A row by row in t[0..8].
  const double A[3][3] = {{t[0], t[1], t[2]}, {t[3], t[4], t[5]}, {t[6], t[7], t[8]}};
  const double r[3] = {v[0] - t[9], v[1] - t[10], v[2] - t[11]};
  const double det = A[0][0] * (A[1][1] * A[2][2] - A[1][2] * A[2][1]) - A[0][1] * (A[1][0] * A[2][2] - A[1][2] * A[2][0]) +
                     A[0][2] * (A[1][0] * A[2][1] - A[1][1] * A[2][0]);
  // w = r * A^-1 (row vector): Cramer on the transposed system w_c = sum_r r_r * inv[r][c].
  double inv[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      inv[i][j] = (A[i1][j1] * A[i2][j2] - A[i1][j2] * A[i2][j1]) / det;
    }
  for (int c = 0; c < 3; ++c) w[c] = r[0] * inv[0][c] + r[1] * inv[1][c] + r[2] * inv[2][c];
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(initalizeNebuLoader(pluginDir().c_str(), "test", 0), 1); }
  loadertest::TempDir files;
};

}  // namespace f3dtest
