// The OpenVDB plug-in through the library: the grids it offers and the default mappings
// they give, imports of dense boxes, transforms, vector components, the voxel limit,
// header-only loads, damaged files and the thread manager.
#include <atomic>
#include <cmath>
#include <cstdio>

#include "VdbPortTestSupport.h"

using namespace vdbtest;
using openvdb::Coord;
using openvdb::CoordBBox;

namespace {

openvdb::math::Transform::Ptr halfVoxelsMoved() {
  openvdb::math::Transform::Ptr xf = openvdb::math::Transform::createLinearTransform(0.5);
  xf->postRotate(0.3, openvdb::math::Z_AXIS);
  xf->postTranslate(openvdb::Vec3d(1.0, -2.0, 3.5));
  return xf;
}

float ramp(const Coord& c) { return static_cast<float>(c.x() + 10 * c.y() + 100 * c.z()); }

}  // namespace

TEST_F(PluginTest, OffersScalarsAndVectorComponentsWithFlags) {
  const std::string path = files.file("mixed.vdb");
  openvdb::FloatGrid::Ptr surface = namedGrid<openvdb::FloatGrid>("surface", 1.0f);
  surface->setGridClass(openvdb::GRID_LEVEL_SET);
  openvdb::Vec3SGrid::Ptr vel = namedGrid<openvdb::Vec3SGrid>("vel");
  openvdb::DoubleGrid::Ptr heat = namedGrid<openvdb::DoubleGrid>("heat");
  openvdb::Int32Grid::Ptr ids = namedGrid<openvdb::Int32Grid>("ids");
  writeVdb(path, {floatGrid("density", CoordBBox(Coord(0), Coord(1)), ramp), surface, vel, heat, ids});

  // In OpenVDB's order (by grid name); integer grids are not offered.
  const std::vector<std::pair<std::string, int>> expected = {
      {"density", 0}, {"heat", 0}, {"surface", 1}, {"vel.x", 1}, {"vel.y", 1}, {"vel.z", 1}};
  EXPECT_EQ(offered(path), expected);
  // Table names only; channel 2 is taken, so no fallback.
  EXPECT_EQ(defaultMapping(path), "2,density;1,surface;4,vel.x;5,vel.y;6,vel.z;");
}

TEST_F(PluginTest, SmokeFallbackSkipsLevelSetsAndVectors) {
  const std::string path = files.file("fallback.vdb");
  openvdb::FloatGrid::Ptr sdf = namedGrid<openvdb::FloatGrid>("sdf", 1.0f);
  sdf->setGridClass(openvdb::GRID_LEVEL_SET);
  openvdb::Vec3SGrid::Ptr v = namedGrid<openvdb::Vec3SGrid>("v");
  openvdb::FloatGrid::Ptr mist = namedGrid<openvdb::FloatGrid>("mist");
  openvdb::FloatGrid::Ptr fog = namedGrid<openvdb::FloatGrid>("fog");
  writeVdb(path, {sdf, v, mist, fog});
  // The first unflagged candidate in listing (name) order.
  EXPECT_EQ(defaultMapping(path), "2,fog;");

  // A file of level sets only maps nothing.
  const std::string onlySdf = files.file("sdf.vdb");
  writeVdb(onlySdf, {sdf});
  EXPECT_EQ(defaultMapping(onlySdf), "");
}

TEST_F(PluginTest, SequenceMappingIsTheUnionOfItsFiles) {
  openvdb::FloatGrid::Ptr density = namedGrid<openvdb::FloatGrid>("density");
  openvdb::FloatGrid::Ptr temperature = namedGrid<openvdb::FloatGrid>("temperature");
  openvdb::Vec3SGrid::Ptr vel = namedGrid<openvdb::Vec3SGrid>("vel");
  writeVdb(files.file("seq_0001.vdb"), {density});
  writeVdb(files.file("seq_0002.vdb"), {temperature, vel, density});
  EXPECT_EQ(defaultMapping(files.file("seq_####.vdb")), "2,density;1,temperature;4,vel.x;5,vel.y;6,vel.z;");
  EXPECT_EQ(defaultMapping(files.file("seq_0001.vdb")), "2,density;");
}

TEST_F(PluginTest, ImportCoversTheUnionOfTheMappedActiveBoxes) {
  const std::string path = files.file("boxes.vdb");
  openvdb::math::Transform::Ptr xf = halfVoxelsMoved();
  const CoordBBox densityBox(Coord(2, 1, 0), Coord(5, 3, 1));
  const CoordBBox heatBox(Coord(4, 0, 3), Coord(7, 0, 3));
  const CoordBBox ignoredBox(Coord(-50), Coord(-40));  // not mapped: must not widen the box
  writeVdb(path, {floatGrid("density", densityBox, ramp, xf),
                  floatGrid("temperature", heatBox, [](const Coord& c) { return 0.25f * c.x(); }, xf, -1.0f),
                  floatGrid("unmapped", ignoredBox, ramp, xf)});

  INeb* f = newINebWithChannelsMapping(path.c_str(), "2,density;1,temperature;10,absent;");
  ASSERT_NE(f, nullptr);
  int n[3];
  f->getGridSize(n);
  EXPECT_EQ(n[0], 6);  // x 2..7
  EXPECT_EQ(n[1], 4);  // y 0..3
  EXPECT_EQ(n[2], 4);  // z 0..3
  EXPECT_EQ(f->hasChannel(2), 1);
  EXPECT_EQ(f->hasChannel(1), 1);
  EXPECT_EQ(f->hasChannel(10), 0);
  const float* smoke = f->getChannel(2);
  const float* heat = f->getChannel(1);
  ASSERT_NE(smoke, nullptr);
  ASSERT_NE(heat, nullptr);
  const Coord origin(2, 0, 0);
  for (auto it = CoordBBox(origin, Coord(7, 3, 3)).begin(); it; ++it) {
    const Coord c = *it;
    const size_t j = cell(n, c.x() - 2, c.y(), c.z());
    EXPECT_EQ(smoke[j], densityBox.isInside(c) ? ramp(c) : 0.0f) << c;
    // Outside its active voxels a grid gives its background.
    EXPECT_EQ(heat[j], heatBox.isInside(c) ? 0.25f * c.x() : -1.0f) << c;
  }

  // The frame transform takes a voxel's world position to its dense cell.
  float t[12];
  f->getTransform(t);
  for (const Coord& c : {Coord(2, 0, 0), Coord(7, 3, 3), Coord(4, 1, 2)}) {
    const openvdb::Vec3d v = toFrameGrid(t, xf->indexToWorld(c));
    EXPECT_NEAR(v[0], c.x() - 2, 1e-5);
    EXPECT_NEAR(v[1], c.y(), 1e-5);
    EXPECT_NEAR(v[2], c.z(), 1e-5);
  }
  deleteINeb(f);
}

TEST_F(PluginTest, VectorComponentsFeedTheVelocityChannels) {
  const std::string path = files.file("vel.vdb");
  openvdb::Vec3DGrid::Ptr vel = namedGrid<openvdb::Vec3DGrid>("vel");
  const CoordBBox box(Coord(0), Coord(3, 2, 1));
  auto acc = vel->getAccessor();
  for (auto it = box.begin(); it; ++it) acc.setValue(*it, openvdb::Vec3d((*it).x(), -(*it).y(), 0.5 * (*it).z()));
  // A constant tile of a second grid: tiles are filled like voxels.
  openvdb::FloatGrid::Ptr tiled = namedGrid<openvdb::FloatGrid>("density");
  tiled->fill(CoordBBox(Coord(0), Coord(7)), 3.0f, true);
  writeVdb(path, {vel, tiled});

  INeb* f = newINeb(path.c_str());  // default mapping: vel.x/y/z and density
  ASSERT_NE(f, nullptr);
  int n[3];
  f->getGridSize(n);
  EXPECT_EQ(n[0], 8);
  for (int c : {2, 3, 4, 5, 6}) EXPECT_EQ(f->hasChannel(c), 1) << c;
  const float* vx = f->getChannel(4);
  const float* vy = f->getChannel(5);
  const float* vz = f->getChannel(6);
  const float* d = f->getChannel(2);
  ASSERT_TRUE(vx && vy && vz && d);
  EXPECT_EQ(vx[cell(n, 3, 2, 1)], 3.0f);
  EXPECT_EQ(vy[cell(n, 3, 2, 1)], -2.0f);
  EXPECT_EQ(vz[cell(n, 3, 2, 1)], 0.5f);
  EXPECT_EQ(vx[cell(n, 7, 7, 7)], 0.0f);
  EXPECT_EQ(d[cell(n, 7, 7, 7)], 3.0f);
  // Speed is derived from the imported velocity.
  ASSERT_NE(f->getChannel(3), nullptr);
  EXPECT_FLOAT_EQ(f->getChannel(3)[cell(n, 3, 2, 1)], std::sqrt(9.0f + 4.0f + 0.25f));
  deleteINeb(f);
}

TEST_F(PluginTest, VoxelLimitDownsamplesByBlockMeans) {
  const std::string path = files.file("big.vdb");
  openvdb::math::Transform::Ptr xf = halfVoxelsMoved();
  writeVdb(path, {floatGrid("density", CoordBBox(Coord(1), Coord(8)), ramp, xf)});

  INeb* f = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 64, false);
  ASSERT_NE(f, nullptr);
  int n[3];
  f->getGridSize(n);
  EXPECT_EQ(n[0], 4);
  EXPECT_EQ(n[1], 4);
  EXPECT_EQ(n[2], 4);
  const float* d = f->getChannel(2);
  ASSERT_NE(d, nullptr);
  // Block (i, j, k) covers source voxels 1 + 2i .. 2 + 2i: the mean is at 1.5 + 2i.
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(d[cell(n, i, j, k)], (1.5f + 2 * i) + 10 * (1.5f + 2 * j) + 100 * (1.5f + 2 * k));
  // Cell centres sit on block centres.
  float t[12];
  f->getTransform(t);
  const openvdb::Vec3d v = toFrameGrid(t, xf->indexToWorld(openvdb::Vec3d(1.5 + 2 * 3, 1.5, 1.5 + 2 * 1)));
  EXPECT_NEAR(v[0], 3.0, 1e-5);
  EXPECT_NEAR(v[1], 0.0, 1e-5);
  EXPECT_NEAR(v[2], 1.0, 1e-5);
  deleteINeb(f);

  // 8 cells per axis and room for 27: factor 3, blocks clipped at the far edge.
  INeb* g = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 27, false);
  ASSERT_NE(g, nullptr);
  g->getGridSize(n);
  EXPECT_EQ(n[0], 3);
  const float* e = g->getChannel(2);
  ASSERT_NE(e, nullptr);
  EXPECT_FLOAT_EQ(e[cell(n, 2, 0, 0)], 7.5f + 10 * 2 + 100 * 2);  // x 7..8, y 1..3, z 1..3
  deleteINeb(g);

  // A limit of 0 still gives one cell, the mean of everything; no limit gives it whole.
  INeb* one = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 0, false);
  ASSERT_NE(one, nullptr);
  one->getGridSize(n);
  EXPECT_EQ(n[0] * n[1] * n[2], 1);
  EXPECT_FLOAT_EQ(one->getChannel(2)[0], 4.5f * 111);
  deleteINeb(one);
  INeb* whole = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 512, false);
  ASSERT_NE(whole, nullptr);
  whole->getGridSize(n);
  EXPECT_EQ(n[0], 8);
  deleteINeb(whole);
}

// Two voxels at opposite corners of a box of 2^36 voxels and one tile: the means come from
// what the tree stores (visiting every voxel of the box would take minutes), the
// background fills the rest, and a tile counts with every voxel it covers.
TEST_F(PluginTest, VoxelLimitOnASparseHugeBoxAveragesWhatTheTreeHolds) {
  const std::string path = files.file("sparse.vdb");
  openvdb::FloatGrid::Ptr grid = namedGrid<openvdb::FloatGrid>("density", 0.5f);
  const float block = 64.0f * 64.0f * 64.0f;
  grid->tree().setValue(Coord(0), 0.5f + block);
  grid->tree().setValue(Coord(4095), 0.5f - block);
  grid->tree().addTile(2, Coord(128, 0, 0), 2.5f, true);  // 128^3 voxels: blocks x 2..3, y, z 0..1
  writeVdb(path, {grid});

  INeb* f = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 64 * 64 * 64, false);
  ASSERT_NE(f, nullptr);
  int n[3];
  f->getGridSize(n);
  ASSERT_EQ(n[0] * n[1] * n[2], 64 * 64 * 64);
  const float* d = f->getChannel(2);
  ASSERT_NE(d, nullptr);
  for (int k = 0; k < 64; ++k)
    for (int j = 0; j < 64; ++j)
      for (int i = 0; i < 64; ++i) {
        float expected = 0.5f;
        if (i == 0 && j == 0 && k == 0) expected = 1.5f;
        if (i == 63 && j == 63 && k == 63) expected = -0.5f;
        if (i >= 2 && i <= 3 && j <= 1 && k <= 1) expected = 2.5f;
        ASSERT_EQ(d[cell(n, i, j, k)], expected) << i << " " << j << " " << k;
      }
  deleteINeb(f);
}

TEST_F(PluginTest, HeaderOnlyGivesSizeTransformAndChannelsWithoutData) {
  const std::string path = files.file("header.vdb");
  openvdb::math::Transform::Ptr xf = halfVoxelsMoved();
  writeVdb(path, {floatGrid("density", CoordBBox(Coord(-3, 0, 0), Coord(4, 1, 2)), ramp, xf)});
  INeb* full = newINebWithChannelsMapping(path.c_str(), "2,density;");
  INeb* header = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", -1, true);
  ASSERT_NE(full, nullptr);
  ASSERT_NE(header, nullptr);
  int a[3], b[3];
  full->getGridSize(a);
  header->getGridSize(b);
  EXPECT_EQ(std::vector<int>(a, a + 3), std::vector<int>(b, b + 3));
  EXPECT_EQ(b[0], 8);
  float ta[12], tb[12];
  full->getTransform(ta);
  header->getTransform(tb);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ta[i], tb[i]) << i;
  EXPECT_EQ(header->hasChannel(2), 1);
  EXPECT_EQ(header->getChannel(2), nullptr);
  deleteINeb(header);
  deleteINeb(full);
}

TEST_F(PluginTest, DamagedAndMissingFilesFailCleanly) {
  loadertest::LibraryReports reports;
  const std::string good = files.file("good.vdb");
  writeVdb(good, {floatGrid("density", CoordBBox(Coord(0), Coord(15)), ramp)});
  const std::string bytes = loadertest::readText(good);
  ASSERT_GT(bytes.size(), 200u);

  EXPECT_EQ(newINebWithChannelsMapping(files.file("missing.vdb").c_str(), "2,density;"), nullptr);
  ASSERT_TRUE(loadertest::writeText(files.file("text.vdb"), "not an OpenVDB file at all"));
  EXPECT_EQ(newINebWithChannelsMapping(files.file("text.vdb").c_str(), "2,density;"), nullptr);
  EXPECT_EQ(defaultMapping(files.file("text.vdb")), defaultMapping(""));  // nothing surveyed: native
#if !defined(__SANITIZE_ADDRESS__)
  // Cuts of the file and a few flipped bytes: a failure or a frame, never a crash. Not
  // under AddressSanitizer: OpenVDB's own reader sizes some buffers from the stream before
  // checking them (and leaks the node it was reading when a tree is cut short). With the
  // real allocator such a request throws std::bad_alloc, which the plug-in turns into a
  // failed load; AddressSanitizer aborts on it instead.
  for (size_t cut = 0; cut < bytes.size(); cut += bytes.size() / 23 + 1) {
    const std::string p = files.file("cut.vdb");
    ASSERT_TRUE(loadertest::writeText(p, bytes.substr(0, cut)));
    EXPECT_EQ(newINebWithChannelsMapping(p.c_str(), "2,density;"), nullptr) << cut;
  }
  for (size_t at = 40; at < bytes.size(); at += bytes.size() / 17 + 1) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
    const std::string p = files.file("flip.vdb");
    ASSERT_TRUE(loadertest::writeText(p, flipped));
    if (INeb* f = newINebWithChannelsMappingMaxVox(p.c_str(), "2,density;", 4096, false)) deleteINeb(f);
  }
#endif
  EXPECT_GT(reports.count("vdbport: "), 0);
}

TEST_F(PluginTest, GridsWithAnotherTransformAreLeftOut) {
  loadertest::LibraryReports reports;
  const std::string path = files.file("mixed_xf.vdb");
  writeVdb(path, {floatGrid("density", CoordBBox(Coord(0), Coord(3)), ramp),
                  floatGrid("temperature", CoordBBox(Coord(0), Coord(9)), ramp,
                            openvdb::math::Transform::createLinearTransform(2.0))});
  INeb* f = newINebWithChannelsMapping(path.c_str(), "2,density;1,temperature;");
  ASSERT_NE(f, nullptr);
  int n[3];
  f->getGridSize(n);
  EXPECT_EQ(n[0], 4);
  EXPECT_EQ(f->hasChannel(2), 1);
  EXPECT_EQ(f->hasChannel(1), 0);
  EXPECT_EQ(reports.count("grid \"temperature\""), 1);
  deleteINeb(f);
}

namespace {

// Forwards to the library's pool and counts the plug-in's batches (the library's own
// parallel work reaches the registered manager too).
class CountingManager : public ZUtils::ThreadManager {
 public:
  CountingManager() : pool_(createDefaultThreadManager()) {}
  ~CountingManager() override { destroyDefaultThreadManager(pool_); }
  void terminateThreads(bool force) override { pool_->terminateThreads(force); }
  int runOnThreads(int count, ZUtils::ThreadProcedure* p, ZUtils::ThreadProgress* progress, bool report) override {
    const char* name = p ? p->name() : nullptr;
    if (name && std::string(name) == "vdbport dense fill") ++fills;
    return pool_->runOnThreads(count, p, progress, report);
  }
  void setLowPriority(int flag) override { pool_->setLowPriority(flag); }
  int runProcedure(ZUtils::ThreadProcedure* p, int parameter) override { return pool_->runProcedure(p, parameter); }
  void setStackSize(int bytes) override { pool_->setStackSize(bytes); }
  int currentThreadIndex() override { return pool_->currentThreadIndex(); }
  std::atomic<int> fills{0};  // batches of the plug-in's own dense fills

 private:
  ZUtils::ThreadManager* pool_;
};

std::vector<float> channelCopy(INeb* f, int channel) {
  int n[3];
  f->getGridSize(n);
  const float* v = f->getChannel(channel);
  if (!v) return {};
  return std::vector<float>(v, v + static_cast<size_t>(n[0]) * n[1] * n[2]);
}

}  // namespace

TEST_F(PluginTest, FillsRunOnTheHandedManagerWithIdenticalResults) {
  const std::string path = files.file("pool.vdb");
  auto wave = [](const Coord& c) { return std::sin(0.1f * c.x()) * std::cos(0.07f * c.y()) + 0.01f * c.z(); };
  writeVdb(path, {floatGrid("density", CoordBBox(Coord(-20, -5, 0), Coord(43, 58, 63)), wave)});

  INeb* alone = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", -1, false);
  INeb* aloneSmall = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 5000, false);
  ASSERT_TRUE(alone && aloneSmall);
  const std::vector<float> single = channelCopy(alone, 2), singleSmall = channelCopy(aloneSmall, 2);
  deleteINeb(alone);
  deleteINeb(aloneSmall);

  CountingManager manager;
  ASSERT_EQ(initalizeNebuLoader(pluginDir().c_str(), "test", 0, &manager), 2);
  INeb* pooled = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", -1, false);
  INeb* pooledSmall = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", 5000, false);
  ASSERT_TRUE(pooled && pooledSmall);
  EXPECT_GE(manager.fills.load(), 2);
  EXPECT_EQ(channelCopy(pooled, 2), single);
  EXPECT_EQ(channelCopy(pooledSmall, 2), singleSmall);
  deleteINeb(pooled);
  deleteINeb(pooledSmall);
  finalizeNebuLoader();

  // Released: the plug-in no longer uses it.
  const int before = manager.fills.load();
  INeb* after = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", -1, false);
  ASSERT_NE(after, nullptr);
  deleteINeb(after);
  EXPECT_EQ(manager.fills.load(), before);
}
