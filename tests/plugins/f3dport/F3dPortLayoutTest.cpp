// What the sample files do not hold, on files the tests write: sparse blocks anchored at a
// negative data-window minimum with clipped edge blocks, a layer without any stored block
// (both encodings), time-sampled matrices, the MAC layers Field3D leaves empty in Ogawa
// files, and the uniform frustum distribution.
#include <cmath>

#include "F3dPortTestSupport.h"
#include "support/F3dWriters.h"

using namespace f3dtest;

namespace {

const double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

std::vector<float> channel(const Frame& frame, int c) {
  const std::vector<int> n = frame.size();
  const float* v = frame.f->getChannel(c);
  if (!v) return {};
  return std::vector<float>(v, v + size_t(n[0]) * n[1] * n[2]);
}

bool writeFile(const std::string& path, const std::string& bytes) { return loadertest::writeText(path, bytes); }

}  // namespace

TEST_F(PluginTest, SparseBlocksStartAtTheWindowMinimumAndEmptyBlocksTakeTheirValue) {
  // Window (-3,-2,-1)..(2,1,0): 6 x 4 x 2 voxels in blocks of 4 -> 2 x 1 x 1 blocks; block 0
  // stored (value 100 + vi + 10 vj + 100 vk inside it), block 1 empty at 7.5 and clipped to
  // 2 voxels in x, 4 in y (of which the window keeps 4) and 2 in z. Layer "void" stores none.
  const int32_t wmin[3] = {-3, -2, -1}, wmax[3] = {2, 1, 0}, res[3] = {2, 1, 1};
  std::vector<float> block(64);
  for (int vk = 0; vk < 4; ++vk)
    for (int vj = 0; vj < 4; ++vj)
      for (int vi = 0; vi < 4; ++vi) block[(vk * 4 + vj) * 4 + vi] = 100.0f + vi + 10 * vj + 100 * vk;
  OgawaWriter w;
  const uint64_t dust = w.sparseFloat("dust", wmin, wmax, 2, res, {block, {}}, {0.0f, 7.5f});
  const uint64_t none = w.sparseFloat("void", wmin, wmax, 2, res, {{}, {}}, {1.25f, -3.0f});
  const std::string path = files.file("sparse.f3d");
  ASSERT_TRUE(writeFile(path, w.file({w.partition("smoke.0", w.matrixMapping({}), {dust, none})})));

  Frame frame(newINebWithChannelsMapping(path.c_str(), "2,dust;1,void;"));
  ASSERT_NE(frame.f, nullptr);
  ASSERT_EQ(frame.size(), (std::vector<int>{6, 4, 2}));
  const std::vector<float> d = channel(frame, 2), v = channel(frame, 1);
  ASSERT_EQ(d.size(), 48u);
  ASSERT_EQ(v.size(), 48u);
  for (int k = 0; k < 2; ++k)
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 6; ++i) {
        const size_t at = (k * 4 + j) * 6 + i;
        EXPECT_EQ(d[at], i < 4 ? 100.0f + i + 10 * j + 100 * k : 7.5f) << i << "," << j << "," << k;
        EXPECT_EQ(v[at], i < 4 ? 1.25f : -3.0f) << i << "," << j << "," << k;
      }
}

#if F3D_WITH_HDF5
TEST_F(PluginTest, Hdf5SparseLayerWithoutStoredBlocksHasNoDataDataset) {
  const std::string path = files.file("empty_sparse.f3d");
  {
    Hdf5Writer h(path);
    ASSERT_TRUE(h.ok());
    const int32_t wmin[3] = {0, 0, 0}, wmax[3] = {4, 3, 0};
    const hid_t l = h.layer(h.partition("fog.0", nullptr), "fog", "SparseField", wmin, wmax, 1, 32);
    h.ints(l, "block_order", {2});
    h.ints(l, "block_res", {2, 1, 1});
    h.ints(l, "num_blocks", {2});
    h.ints(l, "num_occupied_blocks", {0});
    const int8_t flags[2] = {0, 0};
    const float empty[2] = {0.5f, 2.0f};
    h.dataset(l, "block_is_allocated_data", H5T_STD_I8LE, H5T_NATIVE_SCHAR, flags, {2});
    h.dataset(l, "block_empty_value_data", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, empty, {2});
  }
  Frame frame(newINebWithChannelsMapping(path.c_str(), "2,fog;"));
  ASSERT_NE(frame.f, nullptr);
  ASSERT_EQ(frame.size(), (std::vector<int>{5, 4, 1}));
  const std::vector<float> v = channel(frame, 2);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 5; ++i) EXPECT_EQ(v[j * 5 + i], i < 4 ? 0.5f : 2.0f) << i << "," << j;
}
#endif

TEST_F(PluginTest, TimeSampledMatricesAreTakenAtTimeZero) {
  // Local [0,1]^3 spans 4 voxels; scale 4 makes voxels 1 wide. Translation (0,0,0) at time
  // -1 and (2,4,6) at time 1: (1,2,3) at time 0.
  std::vector<double> before(kIdentity, kIdentity + 16), after(kIdentity, kIdentity + 16);
  for (int d = 0; d < 3; ++d) before[5 * d] = after[5 * d] = 4.0;
  after[12] = 2.0;
  after[13] = 4.0;
  after[14] = 6.0;
  const int32_t wmin[3] = {0, 0, 0}, wmax[3] = {3, 3, 3};
  OgawaWriter w;
  const uint64_t layer = w.denseFloat("density", wmin, wmax, std::vector<float>(64, 1.0f));
  const std::string path = files.file("timed.f3d");
  ASSERT_TRUE(writeFile(path, w.file({w.partition("smoke.0", w.matrixMapping({{-1.0f, before}, {1.0f, after}}), {layer})})));
  Frame frame(newINebWithChannelsMapping(path.c_str(), "2,density;"));
  ASSERT_NE(frame.f, nullptr);
  float t[12];
  frame.f->getTransform(t);
  const float expected[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, -1.5f, -2.5f, -3.5f};  // cell 0 centred at world (1.5, 2.5, 3.5)
  for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(t[i], expected[i]) << i;
}

TEST_F(PluginTest, OgawaMacLayerIsLeftOutWithAReport) {
  const int32_t wmin[3] = {0, 0, 0}, wmax[3] = {1, 1, 1};
  OgawaWriter w;
  const uint64_t vel = w.macLayer("vel");
  const uint64_t density = w.denseFloat("density", wmin, wmax, std::vector<float>(8, 2.0f));
  const std::string path = files.file("mac_ogawa.f3d");
  ASSERT_TRUE(writeFile(path, w.file({w.partition("smoke.0", w.matrixMapping({}), {vel, density})})));

  loadertest::LibraryReports reports;
  EXPECT_EQ(offered(path), (std::vector<std::pair<std::string, int>>{{"density", 0}}));
  EXPECT_GE(reports.count("MAC layer in an Ogawa file"), 1);
  Frame frame(newINebWithChannelsMapping(path.c_str(), "4,vel(x);5,vel(y);6,vel(z);2,density;"));
  ASSERT_NE(frame.f, nullptr);
  EXPECT_EQ(frame.f->hasChannel(2), 1);
  EXPECT_EQ(frame.f->hasChannel(4), 0);
  EXPECT_EQ(reports.count("grid \"vel(x)\""), 1);  // one report for the layer, not one per component
}

TEST_F(PluginTest, UniformFrustumSpacesSlicesEvenlyInDepth) {
  // The sample's perspective camera, one column of 8 voxels at the screen centre, slices
  // evenly spaced between the near and far points: the fit is exact along the column.
  const double S[16] = {0.41421356237309509, 0, 0, 0, 0, 0.41421356237309509, 0, 0,
                        0, 0, -2.25, -0.44999999999999996, 0, 0, 1.75, 0.55000000000000004};
  const int32_t wmin[3] = {0, 0, 0}, wmax[3] = {0, 0, 7};
  OgawaWriter w;
  const uint64_t layer = w.denseFloat("density", wmin, wmax, std::vector<float>(8, 1.0f));
  const std::string path = files.file("uniform.f3d");
  ASSERT_TRUE(writeFile(path, w.file({w.partition("cam.0", w.frustumMapping(S, 1), {layer})})));
  Frame frame(newINebWithChannelsMapping(path.c_str(), "2,density;"));
  ASSERT_NE(frame.f, nullptr);
  float t[12];
  frame.f->getTransform(t);
  // Screen (0, 0, z) projects to world (0, 0, (1.75 - 2.25 z) / (0.55 - 0.45 z)).
  const double nearZ = 1.75 / 0.55, farZ = (1.75 - 2.25) / (0.55 - 0.45);
  for (int k = 0; k < 8; ++k) {
    const double cell[3] = {0, 0, double(k)};
    double world[3];
    frameCellToWorld(t, cell, world);
    EXPECT_NEAR(world[2], nearZ + (k + 0.5) / 8 * (farZ - nearZ), 1e-4) << k;
  }
}
