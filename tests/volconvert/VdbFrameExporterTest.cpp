#include "tools/volconvert/VdbFrameExporter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FakeFrame.h"
#include "TreeCompare.h"
#include "VdbReadBack.h"

using namespace VolConvert;

namespace {

float valueOf(int channel, int64_t j) { return j % 5 == 0 ? 0.0f : float(channel) * 1000.0f + float(j) * 0.25f; }

FakeFrame& addAll(FakeFrame& f, std::initializer_list<int> channels) {
  for (int c : channels) f.addChannel(c, [c](int64_t j) { return valueOf(c, j); });
  return f;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

const std::vector<std::string> kAllNames = {"Smoke_ost",     "Temperature_ost", "Fuel_ost",
                                            "VelocityX_ost", "VelocityY_ost",   "VelocityZ_ost",
                                            "ColorR_ost",    "ColorG_ost",      "ColorB_ost"};
const int kAllChannels[] = {2, 1, 10, 4, 5, 6, 7, 8, 9};

}  // namespace

TEST(VdbFrameExporter, AllChannelsInTableOrderWithEveryCellActive) {
  TempDir dir;
  FakeFrame frame(9, 7, 13);
  // Channels added in another order than the file's, plus ones never exported.
  addAll(frame, {9, 8, 7, 6, 5, 4, 10, 1, 2, 3, 14, 15, 16, 17, 19, 20, 21});
  VdbFrameExporter exporter;
  ASSERT_EQ(exporter.exportFrame(dir / "all.vdb", frame).code, kExportOk);
  VdbContents c = readVdb(dir / "all.vdb");
  EXPECT_EQ(c.names, kAllNames);
  expectFileMetadata(c);
  const int size[3] = {9, 7, 13};
  for (size_t i = 0; i < c.grids.size(); ++i) {
    ASSERT_TRUE(c.grids[i]);
    expectGridHolds(*c.grids[i], frame.channel(kAllChannels[i]).data(), size);
    // The file holds exactly what setting every voxel would have built.
    expectSameTree(c.grids[i]->tree(), *buildTreeVoxelByVoxel(frame.channel(kAllChannels[i]).data(), size));
  }
}

TEST(VdbFrameExporter, IncompleteGroupsAreLeftOut) {
  TempDir dir;
  FakeFrame frame(3, 2, 2);
  addAll(frame, {1, 2, 4, 5, 8, 9});  // velocity without z, colour without red
  VdbFrameExporter exporter;
  ASSERT_EQ(exporter.exportFrame(dir / "a.vdb", frame).code, kExportOk);
  EXPECT_EQ(readVdb(dir / "a.vdb").names, (std::vector<std::string>{"Smoke_ost", "Temperature_ost"}));
}

TEST(VdbFrameExporter, FrameWithoutExportedChannelsWritesFileWithoutGrids) {
  TempDir dir;
  FakeFrame frame(4, 4, 4);
  addAll(frame, {3, 14});
  VdbFrameExporter exporter;
  ASSERT_EQ(exporter.exportFrame(dir / "empty.vdb", frame).code, kExportOk);
  VdbContents c = readVdb(dir / "empty.vdb");
  EXPECT_TRUE(c.opened);
  EXPECT_TRUE(c.grids.empty());
  expectFileMetadata(c);
}

TEST(VdbFrameExporter, EmptyGridSizeStillWritesNamedEmptyGrids) {
  TempDir dir;
  FakeFrame frame(0, 5, 5);
  addAll(frame, {2});
  VdbFrameExporter exporter;
  ASSERT_EQ(exporter.exportFrame(dir / "z.vdb", frame).code, kExportOk);
  VdbContents c = readVdb(dir / "z.vdb");
  ASSERT_EQ(c.names, std::vector<std::string>{"Smoke_ost"});
  EXPECT_EQ(c.grids[0]->activeVoxelCount(), 0u);
}

TEST(VdbFrameExporter, TransformIsTheInverseOfTheFrameTransform) {
  TempDir dir;
  VdbFrameExporter exporter;
  {
    FakeFrame frame(2, 2, 2);
    addAll(frame, {2, 1});
    const float t[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, -10, 0, 5};
    frame.setTransform(t);
    ASSERT_EQ(exporter.exportFrame(dir / "shift.vdb", frame).code, kExportOk);
    VdbContents c = readVdb(dir / "shift.vdb");
    ASSERT_EQ(c.grids.size(), 2u);
    for (auto& g : c.grids) {
      const openvdb::Vec3d w = g->transform().indexToWorld(openvdb::Vec3d(0, 0, 0));
      EXPECT_EQ(w, openvdb::Vec3d(10, 0, -5));
      EXPECT_EQ(g->voxelSize(), openvdb::Vec3d(1, 1, 1));
    }
    // Each grid has its own transform object.
    EXPECT_NE(&c.grids[0]->transform(), &c.grids[1]->transform());
  }
  {
    FakeFrame frame(2, 2, 2);
    addAll(frame, {2});
    const float t[12] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0};
    frame.setTransform(t);
    ASSERT_EQ(exporter.exportFrame(dir / "half.vdb", frame).code, kExportOk);
    VdbContents c = readVdb(dir / "half.vdb");
    ASSERT_EQ(c.grids.size(), 1u);
    EXPECT_EQ(c.grids[0]->voxelSize(), openvdb::Vec3d(0.5, 0.5, 0.5));
    EXPECT_EQ(c.grids[0]->transform().indexToWorld(openvdb::Vec3d(2, 4, 6)), openvdb::Vec3d(1, 2, 3));
  }
}

TEST(VdbFrameExporter, UnavailableChannelFailsWithoutWriting) {
  TempDir dir;
  FakeFrame frame(2, 2, 2);
  addAll(frame, {2, 4, 5});
  frame.addBrokenChannel(6);
  VdbFrameExporter exporter;
  EXPECT_EQ(exporter.exportFrame(dir / "x.vdb", frame).code, kExportChannelUnavailable);
  EXPECT_FALSE(exists(dir / "x.vdb"));
}

TEST(VdbFrameExporter, UnwritableDestinationIsAWriteFailure) {
  TempDir dir;
  FakeFrame frame(2, 2, 2);
  addAll(frame, {2});
  VdbFrameExporter exporter;
  EXPECT_EQ(exporter.exportFrame(dir / "missing/dir/x.vdb", frame).code, kExportWriteFailed);
}

TEST(VdbFrameExporter, SingularTransformIsReportedAndTheNextFrameConverts) {
  TempDir dir;
  VdbFrameExporter exporter;
  FakeFrame bad(3, 3, 3);
  addAll(bad, {2});
  const float flat[12] = {1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  bad.setTransform(flat);
  const ExportResult r = exporter.exportFrame(dir / "bad.vdb", bad);
  EXPECT_EQ(r.code, kExportBadTransform);
  EXPECT_EQ(r.reason, "Singular grid transform");
  EXPECT_FALSE(exists(dir / "bad.vdb"));

  FakeFrame good(3, 3, 3);
  addAll(good, {2});
  ASSERT_EQ(exporter.exportFrame(dir / "good.vdb", good).code, kExportOk);
  VdbContents c = readVdb(dir / "good.vdb");
  ASSERT_EQ(c.grids.size(), 1u);
  const int size[3] = {3, 3, 3};
  expectGridHolds(*c.grids[0], good.channel(2).data(), size);
}

TEST(VdbFrameExporter, ReusedTreesCarryEachFramesOwnValues) {
  // Consecutive frames of one size refill the kept trees; a frame in between with another
  // size or fewer channels must not leak values into the files that follow.
  TempDir dir;
  VdbFrameExporter exporter;
  const int sizes[][3] = {{9, 7, 13}, {9, 7, 13}, {5, 5, 5}, {9, 7, 13}};
  for (int f = 0; f < 4; ++f) {
    FakeFrame frame(sizes[f][0], sizes[f][1], sizes[f][2]);
    for (int c : {2, 1}) {
      if (f == 2 && c == 1) continue;
      frame.addChannel(c, [f, c](int64_t j) { return float(f * 100000 + c * 10000) + float(j); });
    }
    const std::string path = dir / ("f" + std::to_string(f) + ".vdb");
    ASSERT_EQ(exporter.exportFrame(path, frame).code, kExportOk);
    VdbContents c = readVdb(path);
    ASSERT_EQ(c.grids.size(), f == 2 ? 1u : 2u);
    expectGridHolds(*c.grids[0], frame.channel(2).data(), sizes[f]);
    if (f != 2) expectGridHolds(*c.grids[1], frame.channel(1).data(), sizes[f]);
  }
}
