// The sample files Field3D 1.7.3 wrote (HDF5 and Ogawa twins), through the library as a host
// loads them: every layer imports with its values equal to the .npz cell by cell and its
// voxels where the sample's JSON puts them; the offered names, the default mappings and
// what the frame's grid is when layers differ.
#include <algorithm>
#include <cmath>
#include <map>

#include "F3dPortTestSupport.h"
#include "nebloader_c.h"

using namespace f3dtest;

namespace {

// One layer of a sample, with what the sample's JSON says about it.
struct SampleLayer {
  const char* file;
  const char* npz;    // the expected values (twins share one)
  const char* key;    // array key in the .npz
  const char* grid;   // the grid name the plug-in offers
  bool vector;
  bool mac;           // expected cells are the face means of key/u, key/v, key/w
  int windowMin[3];
  VoxelToWorld v2w;   // voxel_to_world_at_t0 of the JSON
};

const VoxelToWorld kSmoke = {{{0.03125, 0, 0}, {0, 0.041666666666666664, 0}, {0, 0, 0.0625}, {0, 0, 0}}};
const VoxelToWorld kFuel = {{{0.125, 0, 0}, {0, 0.125, 0}, {0, 0, 0.125}, {0, 0, 0}}};  // null mapping, 8^3
const VoxelToWorld kTypes = {{{0.125, 0, 0}, {0, 0.16666666666666666, 0}, {0, 0, 0.25}, {0, 0, 0}}};
const VoxelToWorld kMatrix = {{{0.1, 0, 0}, {0, 0.09999999999999999, 0}, {0, 0, 0.1}, {-1.5, 0.25, 10.0}}};
const VoxelToWorld kRotated = {{{0.08660254037844388, 0.049999999999999996, 0},
                                {-0.049999999999999996, 0.08660254037844388, 0},
                                {0, 0, 0.09999999999999999},
                                {5.0, -2.0, 1.0}}};
const VoxelToWorld kMac = {{{0.1, 0, 0}, {0, 0.09999999999999999, 0}, {0, 0, 0.1}, {0.8, 2.1, 3.0}}};

std::vector<SampleLayer> sampleLayers() {
  std::vector<SampleLayer> rows;
  for (const char* f : {"a_smoke_dense.f3d", "a_smoke_dense_ogawa.f3d"}) {
    rows.push_back({f, "a_smoke_dense", "smoke/smoke.0/density", "density", false, false, {0, 0, 0}, kSmoke});
    rows.push_back({f, "a_smoke_dense", "smoke/smoke.0/temperature", "temperature", false, false, {0, 0, 0}, kSmoke});
    rows.push_back({f, "a_smoke_dense", "smoke/smoke.0/vel", "vel", true, false, {0, 0, 0}, kSmoke});
    rows.push_back({f, "a_smoke_dense", "fuel/fuel.0/fuel", "fuel", false, false, {0, 0, 0}, kFuel});
  }
  for (const char* f : {"d_types.f3d", "d_types_ogawa.f3d"}) {
    for (const char* layer : {"dense_half", "dense_double", "sparse_half", "sparse_double"})
      rows.push_back({f, "d_types", nullptr, layer, false, false, {0, 0, 0}, kTypes});
    for (const char* layer : {"dense_vec_half", "dense_vec_double", "sparse_vec_half", "sparse_vec_double"})
      rows.push_back({f, "d_types", nullptr, layer, true, false, {0, 0, 0}, kTypes});
  }
  for (const char* f : {"e_matrix.f3d", "e_matrix_ogawa.f3d"}) {
    // "density" occurs in rotated.0 and smoke.0: rotated.0 comes first in byte order.
    rows.push_back({f, "e_matrix", "smoke/smoke.0/density", "smoke.0/density", false, false, {0, 0, 0}, kMatrix});
    rows.push_back({f, "e_matrix", "smoke/smoke.0/crop", "crop", false, false, {4, 2, 1}, kMatrix});
    rows.push_back({f, "e_matrix", "rotated/rotated.0/density", "density", false, false, {0, 0, 0}, kRotated});
  }
  rows.push_back({"f_mac.f3d", "f_mac", "smoke/smoke.0/vel", "vel", true, true, {2, -1, 0}, kMac});
  return rows;
}

void PrintTo(const SampleLayer& s, std::ostream* os) { *os << s.file << " " << s.grid; }

std::string mappingFor(const SampleLayer& s) {
  const std::string g = s.grid;
  return s.vector ? "4," + g + "(x);5," + g + "(y);6," + g + "(z);" : "2," + g + ";";
}

const std::map<std::string, NpyArray>& npz(const std::string& name) {
  static std::map<std::string, std::map<std::string, NpyArray>> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, readNpz(sample(name + ".npz"))).first;
  return it->second;
}

// The expected frame values of component c (-1 scalar) over the layer's window, x fastest,
// each rounded to float as the frame stores it.
std::vector<float> expectedValues(const SampleLayer& s, int c, std::vector<int>& dims) {
  const auto& arrays = npz(s.npz);
  std::vector<float> out;
  if (s.mac) {
    const NpyArray& u = arrays.at(std::string(s.key) + "/u");
    const NpyArray& v = arrays.at(std::string(s.key) + "/v");
    const NpyArray& w = arrays.at(std::string(s.key) + "/w");
    const int nz = static_cast<int>(u.shape[0]), ny = static_cast<int>(u.shape[1]), nx = static_cast<int>(u.shape[2]) - 1;
    dims = {nx, ny, nz};
    for (int k = 0; k < nz; ++k)
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
          double a, b;
          if (c == 0) {
            a = u.values[(k * ny + j) * (nx + 1) + i];
            b = u.values[(k * ny + j) * (nx + 1) + i + 1];
          } else if (c == 1) {
            a = v.values[(k * (ny + 1) + j) * nx + i];
            b = v.values[(k * (ny + 1) + j + 1) * nx + i];
          } else {
            a = w.values[(k * ny + j) * nx + i];
            b = w.values[((k + 1) * ny + j) * nx + i];
          }
          out.push_back((static_cast<float>(a) + static_cast<float>(b)) * 0.5f);
        }
    return out;
  }
  const std::string key = s.key ? s.key : std::string("types/types.0/") + s.grid;
  const NpyArray& a = arrays.at(key);
  dims = {static_cast<int>(a.shape[2]), static_cast<int>(a.shape[1]), static_cast<int>(a.shape[0])};
  const size_t stride = s.vector ? 3 : 1;
  for (size_t i = 0; i * stride < a.values.size(); ++i) out.push_back(static_cast<float>(a.values[i * stride + (c < 0 ? 0 : c)]));
  return out;
}

class SampleLayerTest : public PluginTest, public ::testing::WithParamInterface<SampleLayer> {};

std::string rowName(const ::testing::TestParamInfo<SampleLayer>& info) {
  std::string n = std::string(info.param.file) + "_" + info.param.grid;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

}  // namespace

TEST_P(SampleLayerTest, ImportsEveryCellAndPlacesItsVoxels) {
  const SampleLayer& s = GetParam();
  if (!readable(s.file)) GTEST_SKIP() << "HDF5 files are refused by a build without libhdf5";
  Frame frame(newINebWithChannelsMapping(sample(s.file).c_str(), mappingFor(s).c_str()));
  ASSERT_NE(frame.f, nullptr);
  for (int c = s.vector ? 0 : -1; c < (s.vector ? 3 : 0); ++c) {
    std::vector<int> dims;
    const std::vector<float> expected = expectedValues(s, c, dims);
    ASSERT_EQ(frame.size(), dims);  // the frame is the layer's data window
    const float* values = frame.f->getChannel(c < 0 ? 2 : 4 + c);
    ASSERT_NE(values, nullptr);
    size_t wrong = 0;
    for (size_t i = 0; i < expected.size(); ++i) wrong += !(values[i] == expected[i]);
    EXPECT_EQ(wrong, 0u) << "component " << c << ", first cell " << values[0] << " vs " << expected[0];
  }
  // Frame cell u is voxel windowMin + u, centred at voxel coordinate windowMin + u + 0.5.
  float t[12];
  frame.f->getTransform(t);
  const std::vector<int> n = frame.size();
  for (const std::vector<int>& u : {std::vector<int>{0, 0, 0}, std::vector<int>{n[0] - 1, n[1] - 1, n[2] - 1}}) {
    const double cell[3] = {double(u[0]), double(u[1]), double(u[2])};
    double world[3];
    frameCellToWorld(t, cell, world);
    for (int c = 0; c < 3; ++c) {
      double want = s.v2w.m[3][c];
      for (int a = 0; a < 3; ++a) want += (s.windowMin[a] + u[a] + 0.5) * s.v2w.m[a][c];
      EXPECT_NEAR(world[c], want, 1e-5) << "cell " << u[0] << "," << u[1] << "," << u[2] << " axis " << c;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleLayerTest, ::testing::ValuesIn(sampleLayers()), rowName);

TEST_F(PluginTest, FrustumMappingImportsWithTheLeastSquaresAffineFit) {
  if (!readable("g_frustum.f3d")) GTEST_SKIP() << "an HDF5 sample";
  loadertest::LibraryReports reports;
  Frame frame(newINebWithChannelsMapping(sample("g_frustum.f3d").c_str(), "2,density;"));
  ASSERT_NE(frame.f, nullptr);
  ASSERT_EQ(frame.size(), (std::vector<int>{8, 8, 8}));
  const NpyArray& density = npz("g_frustum").at("smoke/smoke.0/density");
  const float* values = frame.f->getChannel(2);
  ASSERT_NE(values, nullptr);
  for (size_t i = 0; i < density.values.size(); ++i) ASSERT_EQ(values[i], static_cast<float>(density.values[i])) << i;
  EXPECT_EQ(reports.count("frustum mapping"), 1);
  EXPECT_EQ(reports.count("least squares"), 1);

  // The sample's perspective frustum (screen_to_world of its JSON) at every voxel centre:
  // the residuals of the fitted map w = u * B + t must satisfy the normal equations (sum
  // zero and uncorrelated with each cell coordinate), which only the least-squares fit does.
  const double S[4][4] = {{0.41421356237309509, 0, 0, 0},
                          {0, 0.41421356237309509, 0, 0},
                          {0, 0, -2.25, -0.44999999999999996},
                          {0, 0, 1.75, 0.55000000000000004}};
  float t[12];
  frame.f->getTransform(t);
  double sum[3] = {}, moment[3][3] = {}, scale = 0;
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 8; ++i) {
        const double screen[4] = {2 * (i + 0.5) / 8 - 1, 2 * (j + 0.5) / 8 - 1, (k + 0.5) / 8, 1};
        double h[4] = {};
        for (int c = 0; c < 4; ++c)
          for (int r = 0; r < 4; ++r) h[c] += screen[r] * S[r][c];
        const double cell[3] = {double(i), double(j), double(k)};
        double fitted[3];
        frameCellToWorld(t, cell, fitted);
        for (int c = 0; c < 3; ++c) {
          const double residual = fitted[c] - h[c] / h[3];
          scale = std::max(scale, std::fabs(h[c] / h[3]));
          sum[c] += residual;
          for (int a = 0; a < 3; ++a) moment[a][c] += (cell[a] - 3.5) * residual;
        }
      }
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(sum[c] / 512, 0, 1e-5 * scale) << c;
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(moment[a][c] / 512, 0, 1e-5 * scale) << a << "," << c;
  }
}

TEST_F(PluginTest, TwinsOfferTheSameNamesInByteOrder) {
  const std::vector<std::pair<std::string, int>> smoke = {{"density", 0}, {"fuel", 0},   {"temperature", 0},
                                                          {"vel(x)", 1},  {"vel(y)", 1}, {"vel(z)", 1}};
  for (const char* twin : {"a_smoke_dense.f3d", "a_smoke_dense_ogawa.f3d"})
    if (readable(twin)) {
      EXPECT_EQ(offered(sample(twin)), smoke) << twin;
    }
  // "density" of rotated.0 keeps the plain name; smoke.0's is named by its group.
  const std::vector<std::pair<std::string, int>> matrix = {{"crop", 0}, {"density", 0}, {"smoke.0/density", 0}};
  for (const char* twin : {"e_matrix.f3d", "e_matrix_ogawa.f3d"})
    if (readable(twin)) {
      EXPECT_EQ(offered(sample(twin)), matrix) << twin;
    }
}

TEST_F(PluginTest, DefaultMappingsFollowTheF3dNameTable) {
  const std::pair<const char*, const char*> cases[] = {
      {"a_smoke_dense.f3d", "2,density;10,fuel;1,temperature;"},
      {"a_smoke_dense_ogawa.f3d", "2,density;10,fuel;1,temperature;"},
      {"e_matrix.f3d", "2,density;"},
      {"g_frustum.f3d", "2,density;"},
      // No table name: the first scalar grid becomes smoke.
      {"d_types.f3d", "2,dense_double;"},
      {"d_types_ogawa.f3d", "2,dense_double;"},
      // Vector components only: nothing for smoke, so nothing at all.
      {"f_mac.f3d", ""},
  };
  for (const auto& c : cases)
    if (readable(c.first)) {
      EXPECT_EQ(defaultMapping(sample(c.first)), c.second) << c.first;
    }
}

TEST_F(PluginTest, DefaultLoadKeepsTheLayersPlacedLikeTheFirst) {
  for (const char* file : {"a_smoke_dense.f3d", "a_smoke_dense_ogawa.f3d"}) {
    if (!readable(file)) continue;
    loadertest::LibraryReports reports;
    // density first; fuel (a null mapping on 8^3) is elsewhere and is left out.
    Frame frame(newINeb(sample(file).c_str()));
    ASSERT_NE(frame.f, nullptr) << file;
    EXPECT_EQ(frame.size(), (std::vector<int>{32, 24, 16}));
    EXPECT_EQ(frame.f->hasChannel(10), 0);
    EXPECT_EQ(reports.count("grid \"fuel\""), 1);
    const auto& arrays = npz("a_smoke_dense");
    for (const auto& ch : {std::make_pair(2, "smoke/smoke.0/density"), std::make_pair(1, "smoke/smoke.0/temperature")}) {
      const NpyArray& a = arrays.at(ch.second);
      const float* v = frame.f->getChannel(ch.first);
      ASSERT_NE(v, nullptr);
      size_t wrong = 0;
      for (size_t i = 0; i < a.values.size(); ++i) wrong += v[i] != static_cast<float>(a.values[i]);
      EXPECT_EQ(wrong, 0u) << file << " channel " << ch.first;
    }
  }
}

TEST_F(PluginTest, FrameGridIsTheUnionOfTheWindowsWithZerosOutside) {
  for (const char* file : {"e_matrix.f3d", "e_matrix_ogawa.f3d"}) {
    if (!readable(file)) continue;
    // crop feeds two channels.
    Frame frame(newINebWithChannelsMapping(sample(file).c_str(), "1,crop;2,smoke.0/density;10,crop;"));
    ASSERT_NE(frame.f, nullptr);
    // crop (4,2,1)..(27,21,14) comes first, density's whole 32x24x16 widens the grid.
    ASSERT_EQ(frame.size(), (std::vector<int>{32, 24, 16}));
    const NpyArray& crop = npz("e_matrix").at("smoke/smoke.0/crop");
    const float* v = frame.f->getChannel(1);
    ASSERT_NE(v, nullptr);
    size_t wrong = 0;
    for (int k = 0; k < 16; ++k)
      for (int j = 0; j < 24; ++j)
        for (int i = 0; i < 32; ++i) {
          const bool inside = i >= 4 && i <= 27 && j >= 2 && j <= 21 && k >= 1 && k <= 14;
          const float want = inside ? static_cast<float>(crop.values[((k - 1) * 20 + (j - 2)) * 24 + (i - 4)]) : 0.0f;
          wrong += v[(k * 24 + j) * 32 + i] != want;
        }
    EXPECT_EQ(wrong, 0u) << file;
    const float* again = frame.f->getChannel(10);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(std::equal(v, v + 32 * 24 * 16, again));
  }
}

TEST_F(PluginTest, LayerPlacedElsewhereIsLeftOutWithAReport) {
  loadertest::LibraryReports reports;
  Frame frame(newINebWithChannelsMapping(sample("e_matrix_ogawa.f3d").c_str(), "2,density;1,smoke.0/density;"));
  ASSERT_NE(frame.f, nullptr);
  EXPECT_EQ(frame.size(), (std::vector<int>{10, 8, 6}));  // rotated.0's density alone
  EXPECT_EQ(frame.f->hasChannel(1), 0);
  EXPECT_EQ(reports.count("grid \"smoke.0/density\" of "), 1);
}

TEST_F(PluginTest, HeaderOnlyLoadGivesGridAndChannelsWithoutData) {
  for (const char* file : {"d_types.f3d", "d_types_ogawa.f3d"}) {
    if (!readable(file)) continue;
    Frame frame(newINebWithChannelsMappingMaxVox(sample(file).c_str(), "2,sparse_double;4,dense_vec_half(x);", -1, true));
    ASSERT_NE(frame.f, nullptr);
    EXPECT_EQ(frame.size(), (std::vector<int>{8, 6, 4}));
    EXPECT_EQ(frame.f->hasChannel(2), 1);
    EXPECT_EQ(frame.f->getChannel(2), nullptr);
  }
}

TEST_F(PluginTest, CInterfaceListsAndOpensField3dFiles) {
  EXPECT_EQ(neb_initialize(pluginDir().c_str(), "test", -1) & 1, 1);
  const std::string path = sample("d_types_ogawa.f3d");
  char name[64];
  int flag = -1;
  ASSERT_EQ(neb_file_grid(path.c_str(), 2, &flag, name, sizeof name, nullptr), NEB_OK);
  EXPECT_STREQ(name, "dense_vec_double(x)");
  EXPECT_EQ(flag, 1);
  neb_frame* frame = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), "2,sparse_half;", -1, 0, &frame), NEB_OK);
  const float* values = nullptr;
  ASSERT_EQ(neb_frame_channel(frame, 2, &values), NEB_OK);
  const NpyArray& expected = npz("d_types").at("types/types.0/sparse_half");
  for (size_t i = 0; i < expected.values.size(); ++i) ASSERT_EQ(values[i], static_cast<float>(expected.values[i])) << i;
  neb_frame_close(frame);
}
