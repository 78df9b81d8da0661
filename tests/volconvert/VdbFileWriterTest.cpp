#include "vdb/VdbFileWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <openvdb/io/File.h>

#include "support/TempDir.h"

using namespace VolConvert;

namespace {

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Header: magic (8), file version (4), library version (8), grid-offsets flag (1), then 36
// characters of the file's random UUID.
constexpr size_t kUuidAt = 21, kUuidLength = 36;

}  // namespace

// The buffered writer gives io::File's bytes, for several grids (each patched with its
// offsets after its data) of more leaves than the buffer holds, under every compression.
TEST(VdbFileWriter, WritesTheBytesOfOpenVdbsOwnWriterAndReportsFailedWrites) {
  openvdb::initialize();
  TempDir dir;
  openvdb::GridCPtrVec grids;
  for (int g = 0; g < 3; ++g) {
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(0.0f);
    grid->setName("g" + std::to_string(g));
    auto acc = grid->getAccessor();
    for (int i = 0; i < 160; ++i)
      for (int j = 0; j < 160; ++j)
        for (int k = 0; k < 64; k += 1 + g) acc.setValue(openvdb::Coord(i, j, k), float(i * 7 + j * 3 + k + g) * 0.37f);
    grids.push_back(grid);
  }
  openvdb::MetaMap metadata;
  metadata.insertMeta("OstraneVDBVer", openvdb::Int32Metadata(0));
  using namespace openvdb::io;
  for (uint32_t compression : {kLibraryCompression, uint32_t(COMPRESS_NONE), uint32_t(COMPRESS_ZIP | COMPRESS_ACTIVE_MASK)}) {
    SCOPED_TRACE(compression);
    const std::string ours = dir / "ours.vdb", theirs = dir / "theirs.vdb";
    writeVdbFile(ours, grids, metadata, compression);
    File file(theirs);
    if (compression != kLibraryCompression) file.setCompression(compression);
    file.write(grids, metadata);
    file.close();
    std::string a = bytesOf(ours), b = bytesOf(theirs);
    ASSERT_GT(a.size(), size_t(4) << 20);
    ASSERT_EQ(a.size(), b.size());
    a.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    b.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    EXPECT_TRUE(a == b);
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
