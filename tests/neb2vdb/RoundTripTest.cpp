// neb2vdb's files read back with OpenVDB: values, activity, transforms, names, vector
// grids, point data grids and metadata against the frame as the library decodes it.
#include <map>

#include <openvdb/points/PointCount.h>
#include <openvdb/points/PointDataGrid.h>

#include "Neb2VdbTestSupport.h"
#include "nebloader.h"

namespace {

const int kSize[3] = {21, 10, 13};  // border leaves on every axis

// The frame's grid position of world point w: v = w*A + o.
openvdb::Vec3d frameIndex(const openvdb::Vec3d& w) {
  const float* t = kFrameTransform;
  openvdb::Vec3d v;
  for (int c = 0; c < 3; ++c) v[c] = w[0] * t[c] + w[1] * t[3 + c] + w[2] * t[6 + c] + t[9 + c];
  return v;
}

bool nearlyEqual(const openvdb::Vec3d& a, const openvdb::Vec3d& b, double tolerance) {
  return (a - b).length() <= tolerance;
}

// The Z-up turn undone: (x, y, z) -> (x, z, -y).
openvdb::Vec3d yUp(const openvdb::Vec3d& w) { return openvdb::Vec3d(w[0], w[2], -w[1]); }

// Every cell: active with the channel's bits when some component's |value| > tolerance
// (vector grids: > the larger of it and 2^-16 of the largest component magnitude),
// otherwise inactive holding the background. Active voxels sit where the frame's
// transform (turned Z-up with zUp) puts the cell.
template <typename GridT>
void expectSparseGrid(const GridT& grid, const std::vector<const float*>& channels, float tolerance, bool dense,
                      bool zUp = false) {
  if (channels.size() == 3) {
    float peak = 0;
    for (const float* c : channels)
      for (int j = 0; j < kSize[0] * kSize[1] * kSize[2]; ++j) peak = std::max(peak, std::fabs(c[j]));
    tolerance = std::max(tolerance, peak / 65536.0f);
  }
  auto accessor = grid.getConstAccessor();
  int bad = 0;
  openvdb::Index64 active = 0;
  for (int z = 0; z < kSize[2]; ++z)
    for (int y = 0; y < kSize[1]; ++y)
      for (int x = 0; x < kSize[0]; ++x) {
        const size_t j = size_t(x) + size_t(kSize[0]) * (size_t(y) + size_t(kSize[1]) * size_t(z));
        const openvdb::Coord ijk(x, y, z);
        bool on = dense;
        for (const float* c : channels) on = on || std::fabs(c[j]) > tolerance;
        active += on;
        const auto value = accessor.getValue(ijk);
        const float* parts = reinterpret_cast<const float*>(&value);
        bool ok = accessor.isValueOn(ijk) == on;
        for (size_t k = 0; k < channels.size(); ++k)
          ok = ok && bitsOf(parts[k]) == (on ? bitsOf(channels[k][j]) : 0u);
        if (!ok && ++bad < 5) ADD_FAILURE() << grid.getName() << " cell " << ijk;
      }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(grid.activeVoxelCount(), active) << grid.getName();
  for (const openvdb::Coord ijk : {openvdb::Coord(0, 0, 0), openvdb::Coord(20, 9, 12), openvdb::Coord(3, 7, 11)})
    EXPECT_TRUE(nearlyEqual(frameIndex(zUp ? yUp(grid.indexToWorld(ijk)) : grid.indexToWorld(ijk)), ijk.asVec3d(), 1e-5))
        << grid.getName() << ijk;
}

// Per particle (matched by id): world position equal to the stored one, its place in
// the grid where the frame's transform puts it, velocity and slot 2 bit for bit (with
// zUp, position and velocity turned (x, y, z) -> (x, -z, y)).
void expectSparks(const openvdb::points::PointDataGrid& grid, IOstranePrtGroup& group, bool zUp = false) {
  using namespace openvdb::points;
  std::map<int64_t, int> byId;
  for (int i = 0; i < group.getParticleCount(); ++i) {
    int64_t id;
    ASSERT_TRUE(group.getParticleValue(i, 10, &id));
    byId[id] = i;
  }
  size_t seen = 0;
  for (auto leaf = grid.tree().cbeginLeaf(); leaf; ++leaf) {
    AttributeHandle<openvdb::Vec3f> position(leaf->constAttributeArray("P"));
    AttributeHandle<openvdb::Vec3f> velocity(leaf->constAttributeArray("v"));
    AttributeHandle<int64_t> id(leaf->constAttributeArray("id"));
    AttributeHandle<float> slot2(leaf->constAttributeArray("slot_2"));
    for (auto index = leaf->beginIndexOn(); index; ++index) {
      ++seen;
      const auto found = byId.find(id.get(*index));
      ASSERT_NE(found, byId.end());
      float p[3], v[3], s;
      ASSERT_TRUE(group.getParticleValue(found->second, 0, p));
      ASSERT_TRUE(group.getParticleValue(found->second, 1, v));
      ASSERT_TRUE(group.getParticleValue(found->second, 2, &s));
      if (zUp) {
        for (float* t : {p, v}) {
          const float y = t[1];
          t[1] = -t[2];
          t[2] = y;
        }
      }
      const openvdb::Vec3d voxelSpace = index.getCoord().asVec3d() + position.get(*index);
      const openvdb::Vec3d world = grid.indexToWorld(voxelSpace);
      EXPECT_TRUE(nearlyEqual(world, openvdb::Vec3d(p[0], p[1], p[2]), 1e-5)) << world;
      EXPECT_TRUE(nearlyEqual(frameIndex(zUp ? yUp(world) : world), voxelSpace, 1e-4)) << voxelSpace;
      const openvdb::Vec3f vel = velocity.get(*index);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(bitsOf(vel[k]), bitsOf(v[k]));
      EXPECT_EQ(bitsOf(slot2.get(*index)), bitsOf(s));
    }
  }
  EXPECT_EQ(seen, byId.size());
}

}  // namespace

TEST(Neb2VdbRoundTrip, DefaultOutputIsSparseNamedAndCarriesTheParticles) {
  TempDir dir;
  ASSERT_TRUE(writeTestFrame(dir / "f_0007.neb", kSize, {2, 1, 10, 4, 5, 6, 7, 8, 9, 14, 22}, true, 7));
  const ProgramResult run = runNeb2vdb({"-q", dir / "f_0007.neb", dir / "f_0007.vdb"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  const VdbFile file = readVdbFile(dir / "f_0007.vdb");
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.grids.size(), 9u);

  INeb* frame = newINeb((dir / "f_0007.neb").c_str());
  ASSERT_TRUE(frame);
  const std::map<std::string, std::vector<int>> scalars = {
      {"density", {2}}, {"temperature", {1}}, {"flame", {10}}, {"wavelet_energy", {14}}, {"channel_22", {22}}};
  for (const auto& s : scalars) {
    auto grid = openvdb::gridPtrCast<openvdb::FloatGrid>(file.find(s.first));
    ASSERT_TRUE(grid) << s.first;
    expectSparseGrid(*grid, {frame->getChannel(s.second[0])}, 0.0f, false);
    const bool fog = s.first == "density" || s.first == "flame";
    EXPECT_EQ(grid->getGridClass(), fog ? openvdb::GRID_FOG_VOLUME : openvdb::GRID_UNKNOWN) << s.first;
  }
  auto vel = openvdb::gridPtrCast<openvdb::Vec3SGrid>(file.find("vel"));
  auto cd = openvdb::gridPtrCast<openvdb::Vec3SGrid>(file.find("Cd"));
  ASSERT_TRUE(vel && cd);
  expectSparseGrid(*vel, {frame->getChannel(4), frame->getChannel(5), frame->getChannel(6)}, 0.0f, false);
  expectSparseGrid(*cd, {frame->getChannel(7), frame->getChannel(8), frame->getChannel(9)}, 0.0f, false);
  EXPECT_EQ(vel->getVectorType(), openvdb::VEC_CONTRAVARIANT_RELATIVE);
  EXPECT_EQ(cd->getVectorType(), openvdb::VEC_INVARIANT);
  // The constant first block of density is one active tile.
  EXPECT_GE(openvdb::gridPtrCast<openvdb::FloatGrid>(file.find("density"))->tree().activeTileCount(), 1u);

  auto sparks = openvdb::gridPtrCast<openvdb::points::PointDataGrid>(file.find("Sparks"));
  auto embers = openvdb::gridPtrCast<openvdb::points::PointDataGrid>(file.find("Embers"));
  ASSERT_TRUE(sparks && embers);
  expectSparks(*sparks, *frame->findParticleGroup("Sparks"));
  EXPECT_EQ(openvdb::points::pointCount(embers->tree()), 5u);
  deleteINeb(frame);

  ASSERT_TRUE(file.metadata);
  EXPECT_EQ(file.metadata->metaValue<int32_t>("frame"), 7);
  EXPECT_EQ(file.metadata->metaValue<std::string>("source_file"), dir / "f_0007.neb");
  EXPECT_EQ(file.metadata->metaValue<std::string>("converter"), "neb2vdb");
  EXPECT_FALSE(file.metadata->metaValue<std::string>("converter_version").empty());
}

TEST(Neb2VdbRoundTrip, PresetsRenamesAndSelection) {
  TempDir dir;
  ASSERT_TRUE(writeTestFrame(dir / "p.neb", kSize, {2, 1, 10, 4, 5, 6, 7, 8, 9, 15, 16}, true));
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> names;  // sorted, as OpenVDB lists them
  };
  const Case cases[] = {
      {{}, {"Cd", "Embers", "Sparks", "density", "flame", "rest_x", "rest_y", "temperature", "vel"}},
      // Z-up by default: the advection origin's y (channel 16) is the written z.
      {{"--preset", "blender", "--no-particles"}, {"color", "density", "flame", "rest_x", "rest_z", "temperature", "velocity"}},
      {{"--preset=native", "--no-particles"},
       {"AdvectionOriginX_ost", "AdvectionOriginY_ost", "ColorB_ost", "ColorG_ost", "ColorR_ost", "Fuel_ost", "Smoke_ost",
        "Temperature_ost", "VelocityX_ost", "VelocityY_ost", "VelocityZ_ost"}},
      {{"--rename", "vel=v", "--rename=Sparks=sparks", "--channels", "density,v,Cd"}, {"Cd", "Embers", "density", "sparks", "v"}},
  };
  for (const Case& c : cases) {
    VdbFile file = convertAndRead(c.options, dir / "p.neb", dir / "p.vdb");
    ASSERT_TRUE(file.opened);
    std::vector<std::string> names = file.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names) << c.options.size();
    for (const auto& g : file.grids) {
      // Vector grids only where the preset asks for them.
      const bool vector = g->getName() == "vel" || g->getName() == "velocity" || g->getName() == "v" ||
                          g->getName() == "Cd" || g->getName() == "color";
      if (!openvdb::gridPtrCast<openvdb::points::PointDataGrid>(g)) {
        EXPECT_EQ(g->isType<openvdb::Vec3SGrid>(), vector) << g->getName();
      }
    }
  }
}

TEST(Neb2VdbRoundTrip, DenseToleranceHalfAndCompression) {
  TempDir dir;
  ASSERT_TRUE(writeTestFrame(dir / "s.neb", kSize, {2, 4, 5, 6}, false));
  INeb* frame = newINeb((dir / "s.neb").c_str());
  ASSERT_TRUE(frame);
  struct Case {
    std::vector<std::string> options;
    float tolerance;
    bool dense, half;
    const char* compression;
  };
  const Case cases[] = {{{"--dense"}, 0.0f, true, false, "blosc + active values"},
                        {{"--tolerance", "0.5", "--compression", "zip"}, 0.5f, false, false, "zip + active values"},
                        {{"--half", "--compression=none"}, 0.0f, false, true, "active values"}};
  for (const Case& c : cases) {
    VdbFile file = convertAndRead(c.options, dir / "s.neb", dir / "s.vdb");
    ASSERT_TRUE(file.opened);
    auto density = openvdb::gridPtrCast<openvdb::FloatGrid>(file.find("density"));
    auto vel = openvdb::gridPtrCast<openvdb::Vec3SGrid>(file.find("vel"));
    ASSERT_TRUE(density && vel);
    EXPECT_EQ(density->saveFloatAsHalf(), c.half);
    // (OpenVDB never zips fog volumes, so the vector grid tells.)
    EXPECT_EQ(vel->metaValue<std::string>("file_compression"), c.compression);
    if (c.half) continue;  // halves are not the channel's bits
    expectSparseGrid(*density, {frame->getChannel(2)}, c.tolerance, c.dense);
    expectSparseGrid(*vel, {frame->getChannel(4), frame->getChannel(5), frame->getChannel(6)}, c.tolerance, c.dense);
  }
  deleteINeb(frame);
}

TEST(Neb2VdbRoundTrip, UpAxisTurnsGridsVectorsAndParticlesTogether) {
  TempDir dir;
  ASSERT_TRUE(writeTestFrame(dir / "u.neb", kSize, {2, 4, 5, 6, 7, 8, 9}, true));
  INeb* frame = newINeb((dir / "u.neb").c_str());
  ASSERT_TRUE(frame);
  const int n = kSize[0] * kSize[1] * kSize[2];
  std::vector<float> minusZ(frame->getChannel(6), frame->getChannel(6) + n);
  for (float& f : minusZ) f = -f;
  struct Case {
    std::vector<std::string> options;
    const char* vel;
    const char* colour;
    bool zUp;
  };
  const Case cases[] = {{{"--preset", "blender"}, "velocity", "color", true},
                        {{"--preset", "blender", "--up-axis", "y"}, "velocity", "color", false},
                        {{"--up-axis=z"}, "vel", "Cd", true},
                        {{}, "vel", "Cd", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vel + std::string(c.zUp ? " z-up" : " y-up"));
    VdbFile file = convertAndRead(c.options, dir / "u.neb", dir / "u.vdb");
    auto density = openvdb::gridPtrCast<openvdb::FloatGrid>(file.find("density"));
    auto vel = openvdb::gridPtrCast<openvdb::Vec3SGrid>(file.find(c.vel));
    auto colour = openvdb::gridPtrCast<openvdb::Vec3SGrid>(file.find(c.colour));
    auto sparks = openvdb::gridPtrCast<openvdb::points::PointDataGrid>(file.find("Sparks"));
    ASSERT_TRUE(density && vel && colour && sparks);
    expectSparseGrid(*density, {frame->getChannel(2)}, 0.0f, false, c.zUp);
    const float* x = frame->getChannel(4);
    const float* y = frame->getChannel(5);
    const float* z = frame->getChannel(6);
    if (c.zUp) expectSparseGrid(*vel, {x, minusZ.data(), y}, 0.0f, false, true);
    else expectSparseGrid(*vel, {x, y, z}, 0.0f, false);
    // Colour is no direction: its components stay.
    expectSparseGrid(*colour, {frame->getChannel(7), frame->getChannel(8), frame->getChannel(9)}, 0.0f, false, c.zUp);
    expectSparks(*sparks, *frame->findParticleGroup("Sparks"), c.zUp);
  }
  deleteINeb(frame);
}

TEST(Neb2VdbRoundTrip, CodecNoiseLeavesVectorGridsSparse) {
  // Velocity about 1 in a 6-cell slab, the codec's residue (1e-6 and below) elsewhere.
  TempDir dir;
  const int n = kSize[0] * kSize[1] * kSize[2];
  std::vector<float> v[3];
  for (int c = 0; c < 3; ++c) {
    v[c].resize(n);
    for (int j = 0; j < n; ++j) {
      const int x = j % kSize[0];
      v[c][j] = x >= 5 && x < 11 ? 0.75f + 0.125f * float(c) - 0.01f * float(j % 7) : 1e-6f * float((j + c) % 3 - 1);
    }
  }
  NebWriter w;
  w.setGridSize(kSize[0], kSize[1], kSize[2]);
  w.setTransform(kFrameTransform);
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(w.addChannel(4 + c, v[c].data()));
  ASSERT_TRUE(w.write((dir / "n.neb").c_str()));
  INeb* frame = newINeb((dir / "n.neb").c_str());
  ASSERT_TRUE(frame);
  const std::vector<const float*> decoded = {frame->getChannel(4), frame->getChannel(5), frame->getChannel(6)};
  // The noise cells are inactive; --tolerance and --dense keep their meaning.
  struct Case {
    std::vector<std::string> options;
    float tolerance;
    bool dense;
  };
  const Case cases[] = {{{}, 0.0f, false}, {{"--tolerance", "0.8"}, 0.8f, false}, {{"--dense"}, 0.0f, true}};
  for (const Case& c : cases) {
    VdbFile file = convertAndRead(c.options, dir / "n.neb", dir / "n.vdb");
    auto vel = openvdb::gridPtrCast<openvdb::Vec3SGrid>(file.find("vel"));
    ASSERT_TRUE(vel);
    expectSparseGrid(*vel, decoded, c.tolerance, c.dense);
    if (c.options.empty()) {
      EXPECT_EQ(vel->activeVoxelCount(), openvdb::Index64(6 * kSize[1] * kSize[2]));
    }
  }
  deleteINeb(frame);
}

TEST(Neb2VdbRoundTrip, PointsFileAndParticleGroupsInChannels) {
  TempDir dir;
  ASSERT_TRUE(writeTestFrame(dir / "g_0003.neb", kSize, {2, 4, 5, 6}, true, 3));
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> volume, points;  // sorted; no points: no points file
  };
  const std::string pointsFile = dir / "g_pts_0003.vdb";
  const Case cases[] = {
      {{"--points-file", pointsFile}, {"density", "vel"}, {"Embers", "Sparks"}},
      {{"--channels", "Sparks"}, {"Sparks"}, {}},
      {{"--channels=density,Embers", "--points-file", pointsFile}, {"density"}, {"Embers"}},
      {{"--rename", "Sparks=sparks", "--channels", "sparks,vel"}, {"sparks", "vel"}, {}},
      {{"--channels", "vel", "--points-file", pointsFile}, {"vel"}, {"Embers", "Sparks"}},
  };
  for (const Case& c : cases) {
    std::remove(pointsFile.c_str());
    VdbFile file = convertAndRead(c.options, dir / "g_0003.neb", dir / "g_0003.vdb");
    ASSERT_TRUE(file.opened);
    std::vector<std::string> names = file.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.volume) << c.options[1];
    const bool written = std::ifstream(pointsFile).good();
    EXPECT_EQ(written, !c.points.empty()) << c.options[1];
    if (!written) continue;
    const VdbFile points = readVdbFile(pointsFile);
    names = points.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.points) << c.options[1];
    EXPECT_EQ(points.metadata->metaValue<int32_t>("frame"), 3);
    for (const auto& g : points.grids) EXPECT_TRUE(openvdb::gridPtrCast<openvdb::points::PointDataGrid>(g));
  }
}
