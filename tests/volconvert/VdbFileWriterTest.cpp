#include "vdb/VdbFileWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <tbb/global_control.h>

#include <openvdb/io/File.h>
#include <openvdb/points/PointConversion.h>

#include "support/TempDir.h"

using namespace NebVdb;

namespace {

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Header: magic (8), file version (4), library version (8), grid-offsets flag (1), then 36
// characters of the file's random UUID.
constexpr size_t kUuidAt = 21, kUuidLength = 36;

// Grids of unequal size and of every kind the writer meets. Values: smooth where k is
// even, noise that does not compress where it is odd; a leaf's inactive values are 0, or
// one or two other values in some leaves (each kind of inactive values OpenVDB notes).
openvdb::GridCPtrVec sampleGrids() {
  openvdb::GridCPtrVec grids;
  auto noise = [](uint32_t i, uint32_t j, uint32_t k) {
    return float(((i * 73856093u ^ j * 19349663u ^ k * 83492791u) >> 8) & 0xFFFFu);
  };
  for (int g = 0; g < 3; ++g) {
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(g == 2 ? 0.5f : 0.0f);
    grid->setName(g == 1 ? "" : "density");  // two "density": [0] and [1]; "" gets [0]
    auto acc = grid->getAccessor();
    const int n = 200 >> g;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < 120; ++j)
        for (int k = 0; k < 64; k += 1 + g)
          acc.setValue(openvdb::Coord(i, j, k), k % 2 ? noise(i, j, k) : float(i * 7 + j * 3 + k + g) * 0.37f);
    for (int i = 0; i < 8; ++i) acc.setValueOff(openvdb::Coord(i, 0, 1), i % 2 ? 2.0f : -3.0f);
    for (int i = 8; i < 16; ++i) acc.setValueOff(openvdb::Coord(i, 8, 1), 2.0f);
    acc.setValueOff(openvdb::Coord(0, 16, 0), -grid->background());
    grid->tree().addTile(1, openvdb::Coord(512, 0, 0), 4.0f, true);
    if (g == 0) grid->setGridClass(openvdb::GRID_FOG_VOLUME);  // no zip for fog volumes
    grids.push_back(grid);
  }
  openvdb::Vec3SGrid::Ptr vel = openvdb::Vec3SGrid::create(openvdb::Vec3s(0.0f));
  vel->setName("vel");
  vel->setSaveFloatAsHalf(true);
  auto acc = vel->getAccessor();
  for (int i = 0; i < 100; ++i)
    for (int j = 0; j < 90; ++j)
      for (int k = 0; k < 40; ++k) acc.setValue(openvdb::Coord(i, j, k), openvdb::Vec3s(noise(i, j, k), float(j), -0.5f));
  acc.setValueOn(openvdb::Coord(300, 0, 0), openvdb::Vec3s(1.0f));  // a leaf of one value, saved as half
  acc.setValueOff(openvdb::Coord(300, 0, 0));                        // now of none
  grids.push_back(vel);
  openvdb::DoubleGrid::Ptr twice = openvdb::DoubleGrid::create(1.0);
  twice->setName("twice");
  for (int i = 0; i < 300; ++i) twice->tree().setValue(openvdb::Coord(i, i % 17, -i), i * 0.25);
  grids.push_back(twice);
  openvdb::Int32Grid::Ptr ids = openvdb::Int32Grid::create(-1);
  ids->setName("ids");
  for (int i = 0; i < 5000; ++i) ids->tree().setValue(openvdb::Coord(i % 50, i / 50, 3), i);
  grids.push_back(ids);
  grids.push_back(openvdb::FloatGrid::create(0.0f));  // empty, unnamed: "[1]"
  // The tree of the second grid once more: written as an instance of it.
  openvdb::FloatGrid::Ptr shared = openvdb::FloatGrid::create(
      openvdb::ConstPtrCast<openvdb::FloatGrid>(openvdb::gridConstPtrCast<openvdb::FloatGrid>(grids[1]))->treePtr());
  shared->setTransform(openvdb::math::Transform::createLinearTransform(0.5));
  shared->setName("instance");
  grids.push_back(shared);
  std::vector<openvdb::Vec3R> positions;
  for (int i = 0; i < 20000; ++i) positions.emplace_back(noise(i, 1, 2) * 1e-3, i * 0.01, (i % 7) * 0.1);
  const openvdb::points::PointAttributeVector<openvdb::Vec3R> wrapper(positions);
  const openvdb::math::Transform::Ptr transform = openvdb::math::Transform::createLinearTransform(0.1);
  const openvdb::tools::PointIndexGrid::Ptr index = openvdb::tools::createPointIndexGrid<openvdb::tools::PointIndexGrid>(wrapper, *transform);
  openvdb::points::PointDataGrid::Ptr points =
      openvdb::points::createPointDataGrid<openvdb::points::NullCodec, openvdb::points::PointDataGrid>(*index, wrapper, *transform);
  points->setName("points");
  grids.insert(grids.begin() + 2, points);
  return grids;
}

}  // namespace

// The writer gives io::File's bytes for the grids above (of more bytes than its file buffer
// holds) under every compression, on one thread and on several, with room for every
// compressed chunk and with so little that most are compressed again at their turn.
TEST(VdbFileWriter, WritesTheBytesOfOpenVdbsOwnWriterAndReportsFailedWrites) {
  openvdb::initialize();
  TempDir dir;
  const openvdb::GridCPtrVec grids = sampleGrids();
  openvdb::MetaMap metadata;
  metadata.insertMeta("OstraneVDBVer", openvdb::Int32Metadata(0));
  using namespace openvdb::io;
  for (uint32_t compression : {kLibraryCompression, uint32_t(COMPRESS_NONE), uint32_t(COMPRESS_ZIP | COMPRESS_ACTIVE_MASK),
                               uint32_t(COMPRESS_BLOSC)}) {
    const std::string theirs = dir / "theirs.vdb";
    File file(theirs);
    if (compression != kLibraryCompression) file.setCompression(compression);
    file.write(grids, metadata);
    file.close();
    std::string b = bytesOf(theirs);
    b.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    for (int threads : {1, 3})
      for (uint64_t held : {kDefaultHeldBytes, uint64_t(1) << 20}) {
        SCOPED_TRACE(testing::Message() << "compression " << compression << " threads " << threads << " held " << held);
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, size_t(threads));
        const std::string ours = dir / "ours.vdb";
        writeVdbFile(ours, grids, metadata, compression, held);
        std::string a = bytesOf(ours);
        ASSERT_GT(a.size(), size_t(4) << 20);
        ASSERT_EQ(a.size(), b.size());
        a.replace(kUuidAt, kUuidLength, kUuidLength, '-');
        EXPECT_TRUE(a == b);
      }
  }
  // A full disk, and a folder that is not there: OpenVDB's I/O error, naming the path.
  for (const std::string& path : {std::string("/dev/full"), dir / "no/such/folder.vdb"}) {
    try {
      writeVdbFile(path, grids, metadata);
      ADD_FAILURE() << path << " written";
    } catch (const openvdb::IoError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}
