// The tools on Field3D samples (HDF5 and Ogawa): neb2vdb converts them to OpenVDB, its
// grids named by the preset, their voxels equal to the samples' expected values and
// voxel (i, j, k) where the sample's JSON puts it; nebinfo lists and checks them.
#include <gtest/gtest.h>

#include <openvdb/openvdb.h>

#include <fstream>
#include <iterator>

#include "support/Npz.h"
#include "support/ProcessRun.h"
#include "support/TempDir.h"
#include "support/VdbGrids.h"

namespace {

std::string sample(const std::string& name) { return std::string(F3D_DATA_DIR) + "/" + name; }

testsupport::ProcessRun run(const char* program, const std::string& args) {
  return testsupport::runCommand(testsupport::shellQuoted(program) + " " + args + " 2>&1");
}

}  // namespace

TEST(F3dToVdb, SmokeTwinsConvertToTheirExpectedVoxels) {
  const auto arrays = f3dtest::readNpz(sample("a_smoke_dense.npz"));
  for (const char* file : {"a_smoke_dense.f3d", "a_smoke_dense_ogawa.f3d"}) {
    if (!F3D_WITH_HDF5 && std::string(file) == "a_smoke_dense.f3d") continue;  // refused by such a build
    TempDir dir;
    const std::string out = dir / "smoke.vdb";
    const testsupport::ProcessRun r =
        run(NEB2VDB_PATH, "-q " + testsupport::shellQuoted(sample(file)) + " " + testsupport::shellQuoted(out));
    ASSERT_EQ(r.exitCode, 0) << file << ": " << r.out;
    openvdb::GridPtrVec grids;
    openvdb::MetaMap::Ptr metadata;
    ASSERT_TRUE(readVdbGrids(out, grids, metadata));
    // The default mapping gives density and temperature (fuel lies elsewhere and is left out).
    std::vector<std::string> names;
    for (const auto& g : grids) names.push_back(g->getName());
    EXPECT_EQ(names, (std::vector<std::string>{"density", "temperature"})) << file;
    for (const auto& g : grids) {
      const f3dtest::NpyArray& want = arrays.at("smoke/smoke.0/" + g->getName());
      const auto grid = openvdb::gridPtrCast<openvdb::FloatGrid>(g);
      ASSERT_TRUE(grid) << g->getName();
      const auto acc = grid->getConstAccessor();
      size_t wrong = 0;
      for (int k = 0; k < 16; ++k)
        for (int j = 0; j < 24; ++j)
          for (int i = 0; i < 32; ++i)
            wrong += acc.getValue(openvdb::Coord(i, j, k)) != static_cast<float>(want.values[(k * 24 + j) * 32 + i]);
      EXPECT_EQ(wrong, 0u) << file << " " << g->getName();
      // Voxel (i, j, k) is centred at ((i + 0.5) / 32, (j + 0.5) / 24, (k + 0.5) / 16).
      const openvdb::Vec3d w = grid->transform().indexToWorld(openvdb::Vec3d(31, 23, 15));
      EXPECT_NEAR(w.x(), 31.5 / 32, 1e-6);
      EXPECT_NEAR(w.y(), 23.5 / 24, 1e-6);
      EXPECT_NEAR(w.z(), 15.5 / 16, 1e-6);
    }
  }
}

TEST(F3dTools, NebinfoListsAndChecksField3dFiles) {
  const std::string twin = testsupport::shellQuoted(sample("e_matrix_ogawa.f3d"));
  const testsupport::ProcessRun json = run(NEBINFO_PATH, "--json " + twin);
  ASSERT_EQ(json.exitCode, 0) << json.out;
  EXPECT_NE(json.out.find("\"grid\":[10,8,6]"), std::string::npos) << json.out;  // rotated.0's density
  EXPECT_NE(json.out.find("\"name\":\"Smoke_ost\",\"channel\":2"), std::string::npos) << json.out;
  const testsupport::ProcessRun check = run(NEBINFO_PATH, "--check " + twin);
  EXPECT_EQ(check.exitCode, 0) << check.out;
  // A cut-short copy is named as damaged.
  TempDir dir;
  const std::string bytes = [] {
    std::ifstream in(sample("e_matrix_ogawa.f3d"), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  ASSERT_TRUE(dir.touch("cut.f3d", bytes.substr(0, bytes.size() / 2)));
  const testsupport::ProcessRun cut = run(NEBINFO_PATH, "--check " + testsupport::shellQuoted(dir / "cut.f3d"));
  EXPECT_EQ(cut.exitCode, 1) << cut.out;
  EXPECT_NE(cut.out.find("BAD"), std::string::npos) << cut.out;
}
