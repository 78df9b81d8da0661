// Whole conversions: nebu2 frames written with NebWriter, converted by the built
// volconvert, the files read back with OpenVDB and compared with the frames as the
// library decodes them.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "VdbReadBack.h"
#include "VolconvertProcess.h"
#include "cache/NebWriter.h"
#include "nebloader.h"

namespace {

const float kIdentity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

std::vector<float> pattern(int channel, int frame, const int size[3]) {
  std::vector<float> v(size_t(size[0]) * size[1] * size[2]);
  for (size_t j = 0; j < v.size(); ++j) {
    const int x = int(j % size[0]), y = int((j / size[0]) % size[1]), z = int(j / (size_t(size[0]) * size[1]));
    // Zeros over a third of the grid: they must still be active voxels.
    v[j] = x < size[0] / 3 ? 0.0f : float(channel) + 0.5f * std::sin(0.3f * float(x + 2 * y + 3 * z + frame));
  }
  return v;
}

bool writeFrame(const std::string& path, const int size[3], std::initializer_list<int> channels,
                const float transform[12] = kIdentity, int frame = 0) {
  NebWriter w;
  w.setGridSize(size[0], size[1], size[2]);
  w.setTransform(transform);
  w.setFrameNumber(frame);
  for (int c : channels) {
    if (!w.addChannel(c, pattern(c, frame, size).data())) return false;
  }
  return w.write(path.c_str());
}

std::string frameName(const TempDir& dir, const char* stem, int frame, const char* ext) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s_%04d.%s", stem, frame, ext);
  return dir / buffer;
}

std::string errorLine(int k, const std::string& reason) {
  return "An error has been encountered while converting frame " + std::to_string(k) + ": " + reason + "\n";
}

// Compares every grid of a written file with the channels of the source frame as the
// library decodes them.
void expectFileMatchesFrame(const std::string& vdb, const std::string& neb, const std::vector<std::string>& names,
                            const std::vector<int>& channels) {
  VdbContents c = readVdb(vdb);
  ASSERT_TRUE(c.opened);
  EXPECT_EQ(c.names, names);
  expectFileMetadata(c);
  INeb* frame = newINeb(neb.c_str());
  ASSERT_TRUE(frame);
  int size[3];
  frame->getGridSize(size);
  for (size_t i = 0; i < c.grids.size() && i < channels.size(); ++i) {
    const float* values = frame->getChannel(channels[i]);
    ASSERT_TRUE(values);
    expectGridHolds(*c.grids[i], values, size);
  }
  deleteINeb(frame);
}

}  // namespace

TEST(EndToEnd, SequenceConvertsWithProgressAndExactValues) {
  TempDir dir;
  const int size[3] = {19, 8, 11};
  for (int f = 1; f <= 3; ++f)
    ASSERT_TRUE(writeFrame(frameName(dir, "sim", f, "neb"), size, {2, 1, 10, 4, 5, 6, 3, 14}, kIdentity, f));
  ProgramRun r = runVolconvert({"-srcfile", dir / "sim_####.neb", "-dstfile", dir / "out_####.vdb", "-start", "1", "-end", "3"});
  EXPECT_EQ(r.exitCode, 0);
  std::string expect;
  for (int f = 1; f <= 3; ++f)
    expect += "Converting " + frameName(dir, "sim", f, "neb") + " to " + frameName(dir, "out", f, "vdb") +
              " | 0......50......100 | " + std::to_string(f) + "/3\n";
  EXPECT_EQ(r.out, expect);
  for (int f = 1; f <= 3; ++f) {
    expectFileMatchesFrame(frameName(dir, "out", f, "vdb"), frameName(dir, "sim", f, "neb"),
                           {"Smoke_ost", "Temperature_ost", "Fuel_ost", "VelocityX_ost", "VelocityY_ost", "VelocityZ_ost"},
                           {2, 1, 10, 4, 5, 6});
  }
}

TEST(EndToEnd, ColourGroupAndIncompleteVelocity) {
  TempDir dir;
  const int size[3] = {5, 6, 7};
  ASSERT_TRUE(writeFrame(dir / "c.neb", size, {7, 8, 9, 4, 5}));
  ProgramRun r = runVolconvert({"-silent", "-srcfile", dir / "c.neb", "-dstfile", dir / "c.vdb"});
  EXPECT_EQ(r.out, "");
  expectFileMatchesFrame(dir / "c.vdb", dir / "c.neb", {"ColorR_ost", "ColorG_ost", "ColorB_ost"}, {7, 8, 9});
}

TEST(EndToEnd, TransformsOfTheWrittenGrids) {
  TempDir dir;
  const int size[3] = {4, 4, 4};
  const float shift[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, -10, 0, 5};
  const float scale[12] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0};
  ASSERT_TRUE(writeFrame(frameName(dir, "t", 0, "neb"), size, {2, 1}, shift));
  ASSERT_TRUE(writeFrame(frameName(dir, "t", 1, "neb"), size, {2}, scale));
  ProgramRun r = runVolconvert({"-silent", "-srcfile", dir / "t_####.neb", "-dstfile", dir / "t_####.vdb", "-end", "1"});
  EXPECT_EQ(r.out, "");
  VdbContents shifted = readVdb(frameName(dir, "t", 0, "vdb"));
  ASSERT_EQ(shifted.grids.size(), 2u);
  for (auto& g : shifted.grids) {
    EXPECT_EQ(g->transform().indexToWorld(openvdb::Vec3d(0, 0, 0)), openvdb::Vec3d(10, 0, -5));
    EXPECT_EQ(g->voxelSize(), openvdb::Vec3d(1, 1, 1));
  }
  VdbContents scaled = readVdb(frameName(dir, "t", 1, "vdb"));
  ASSERT_EQ(scaled.grids.size(), 1u);
  EXPECT_EQ(scaled.grids[0]->voxelSize(), openvdb::Vec3d(0.5, 0.5, 0.5));
}

TEST(EndToEnd, FrameWithoutExportedChannelsGivesFileWithoutGrids) {
  TempDir dir;
  const int size[3] = {3, 3, 3};
  ASSERT_TRUE(writeFrame(dir / "w.neb", size, {14, 15}));
  ProgramRun r = runVolconvert({"-srcfile", dir / "w.neb", "-dstfile", dir / "w.vdb"});
  EXPECT_EQ(r.out, "Converting " + (dir / "w.neb") + " to " + (dir / "w.vdb") + " | 0......50......100 | 1/1\n");
  VdbContents c = readVdb(dir / "w.vdb");
  EXPECT_TRUE(c.opened);
  EXPECT_TRUE(c.grids.empty());
  expectFileMetadata(c);
}

TEST(EndToEnd, FailingFramesAreReportedAndTheLoopGoesOn) {
  TempDir dir;
  const int size[3] = {4, 3, 2};
  const float singular[12] = {1, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0};
  // 0 good, 1 missing, 2 singular transform, 3 good, 4 good.
  ASSERT_TRUE(writeFrame(frameName(dir, "s", 0, "neb"), size, {2}));
  ASSERT_TRUE(writeFrame(frameName(dir, "s", 2, "neb"), size, {2}, singular));
  ASSERT_TRUE(writeFrame(frameName(dir, "s", 3, "neb"), size, {2}));
  ASSERT_TRUE(writeFrame(frameName(dir, "s", 4, "neb"), size, {2}));
  ProgramRun r = runVolconvert({"-silent", "-srcfile", dir / "s_####.neb", "-dstfile", dir / "o_####.vdb", "-end", "4"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, errorLine(2, "Unable to load source cache ") + errorLine(3, "Singular grid transform"));
  for (int f : {0, 3, 4}) expectFileMatchesFrame(frameName(dir, "o", f, "vdb"), frameName(dir, "s", f, "neb"), {"Smoke_ost"}, {2});
}

TEST(EndToEnd, UndecodableChannelInTheFourthFrame) {
  TempDir dir;
  const int size[3] = {6, 5, 4};
  for (int f = 0; f < 5; ++f) {
    if (f == 3) {
      // Channel 2 announced with a record that is no grid block.
      NebWriter w;
      w.setGridSize(size[0], size[1], size[2]);
      const char junk[64] = {1, 2, 3, 4, 5, 6, 7, 8};
      ASSERT_TRUE(w.addRawGridRecord(2, junk, sizeof junk));
      w.setChannelMask(1 << 2);
      ASSERT_TRUE(w.write(frameName(dir, "d", f, "neb").c_str()));
    } else {
      ASSERT_TRUE(writeFrame(frameName(dir, "d", f, "neb"), size, {2}));
    }
  }
  ProgramRun r = runVolconvert({"-srcfile", dir / "d_####.neb", "-dstfile", dir / "o_####.vdb", "-end", "4"});
  EXPECT_EQ(r.exitCode, 0);
  std::string expect;
  for (int f = 0; f < 5; ++f) {
    expect += "Converting " + frameName(dir, "d", f, "neb") + " to " + frameName(dir, "o", f, "vdb") + " | 0......50...";
    expect += f == 3 ? errorLine(4, "Unable to expand a source channel") : "...100 | " + std::to_string(f + 1) + "/5\n";
  }
  EXPECT_EQ(r.out, expect);
  FILE* none = std::fopen(frameName(dir, "o", 3, "vdb").c_str(), "rb");
  EXPECT_EQ(none, nullptr);
  if (none) std::fclose(none);
}

TEST(EndToEnd, DestinationInMissingDirectoryIsAWriteError) {
  TempDir dir;
  const int size[3] = {2, 2, 2};
  ASSERT_TRUE(writeFrame(dir / "m.neb", size, {2}));
  ProgramRun r = runVolconvert({"-silent", "-srcfile", dir / "m.neb", "-dstfile", dir / "no/such/dir/m.vdb"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, errorLine(1, "Unable to write to destination file"));
}
