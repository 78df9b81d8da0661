// Slab reads of a frame's grid against the frame's own whole-channel decode: every cell
// bit for bit, for every channel, every slab height, records in memory and in the file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "NebTestFiles.h"
#include "cache/FrameSlabReader.h"
#include "cache/GridRecordBytes.h"
#include "support/ReportCapture.h"

namespace {

const int kNx = 13, kNy = 11, kNz = 19;
const size_t kCells = size_t(kNx) * kNy * kNz;

std::vector<uint32_t> colourWords() {
  std::vector<uint32_t> w(kCells);
  for (size_t i = 0; i < kCells; ++i) w[i] = uint32_t(i * 2654435761u) & 0xFFFFFFu;
  return w;
}

// The frame's bytes with its grid records, `damage` applied to the records' bytes.
struct Case {
  const char* name;
  std::function<void(NebWriter&)> setup;
  std::function<void(std::vector<char>&, size_t recordsStart)> damage;
};

void addScalars(NebWriter& w, bool colour) {
  const std::vector<float> smoke = testField(kCells, 0.5f), temp = testField(kCells, -3.0f);
  std::vector<float> vx = testField(kCells, 1.0f), vy = testField(kCells, 2.0f), vz(kCells, 0.25f);
  for (size_t i = kCells / 3; i < kCells / 2; ++i) vx[i] = 0.0f;  // constant zones
  ASSERT_TRUE(w.addChannel(2, smoke.data()));
  ASSERT_TRUE(w.addChannel(1, temp.data()));
  ASSERT_TRUE(w.addChannel(4, vx.data()));
  ASSERT_TRUE(w.addChannel(5, vy.data()));
  ASSERT_TRUE(w.addChannel(6, vz.data()));
  if (colour) {
    ASSERT_TRUE(w.addPackedColour(colourWords().data()));
  }
}

OSTUtils::GridBlockOptions zones(int64_t length, int slices = 0) {
  OSTUtils::GridBlockOptions o = OSTUtils::defaultGridBlockOptions();
  o.zoneLength = length;
  o.zoneSlices = slices;
  return o;
}

// Byte offset of the grid records (comprData[0]) in a written file: after "NEBU", the
// tags before tag 3 and tag 3's grid size and count.
size_t recordsStart(const std::vector<char>& bytes) {
  for (size_t at = 4; at + 20 < bytes.size(); at += 4) {
    if (readInt32At(bytes, at) == 3 && readInt32At(bytes, at + 4) == kNx && readInt32At(bytes, at + 8) == kNy &&
        readInt32At(bytes, at + 12) == kNz)
      return at + 20;
  }
  return 0;
}

void expectSlabsMatch(OstraneFrameData& whole, const OstraneFrameData& header, const GridRecordBytes& bytes,
                      int height, const char* label) {
  FrameSlabReader reader(header, bytes);
  const float* values[32] = {};
  bool opened[32] = {};
  for (int c = 0; c < 32; ++c) {
    values[c] = whole.getChannel(c);
    opened[c] = reader.open(c);
    EXPECT_EQ(values[c] != nullptr, opened[c]) << label << " channel " << c;
  }
  const size_t layer = size_t(kNx) * kNy;
  std::vector<float> slab(layer * height);
  for (int z0 = 0; z0 < kNz; z0 += height) {
    const int z1 = std::min(kNz, z0 + height);
    for (int c = 0; c < 32; ++c) {
      if (!opened[c] || !values[c]) continue;
      ASSERT_TRUE(reader.read(c, z0, z1, slab.data())) << label << " channel " << c << " slab " << z0;
      EXPECT_EQ(0, std::memcmp(slab.data(), values[c] + z0 * layer, (z1 - z0) * layer * sizeof(float)))
          << label << " channel " << c << " layers " << z0 << ".." << z1 << " height " << height;
    }
  }
}

TEST(FrameSlabReader, EveryCellAsTheWholeDecodeGivesIt) {
  const Case cases[] = {
      {"zones across layers", [](NebWriter& w) { w.setGridBlockOptions(zones(37)); addScalars(w, true); }, nullptr},
      {"three-dimensional boxes", [](NebWriter& w) {
         w.setVersion(4);
         w.setGridCompressor(3);
         w.setGridBlockOptions(zones(1000, 3));
         addScalars(w, true);
       }, nullptr},
      {"single-zone blocks", [](NebWriter& w) { w.setGridBlockOptions(zones(1 << 20)); addScalars(w, false); }, nullptr},
      {"raw zones", [](NebWriter& w) {
         OSTUtils::GridBlockOptions o = zones(100);
         o.lossless = true;
         w.setGridBlockOptions(o);
         addScalars(w, true);
       }, nullptr},
      {"damaged zones", [](NebWriter& w) { w.setGridBlockOptions(zones(211)); addScalars(w, false); },
       [](std::vector<char>& b, size_t at) {
         // Scribble over the middle of the first records' zone streams.
         for (size_t i = at + 600; i < at + 700; ++i) b[i] = char(0xA5 ^ i);
         for (size_t i = at + 4000; i < at + 4003; ++i) b[i] = char(0x7F);
       }},
  };
  for (const Case& c : cases) {
    NebWriter w;
    w.setGridSize(kNx, kNy, kNz);
    c.setup(w);
    std::vector<char> bytes = writerBytes(w);
    ASSERT_FALSE(bytes.empty()) << c.name;
    const size_t at = recordsStart(bytes);
    ASSERT_NE(0u, at) << c.name;
    if (c.damage) c.damage(bytes, at);
    TempNebFile file;
    ASSERT_TRUE(file.writeBytes(bytes));
    ReportCapture quiet;
    OstraneFrameData whole, header;
    ASSERT_EQ(0, whole.ImportNeb(file.path(), true, false)) << c.name;
    GridDataLocation where;
    ASSERT_EQ(0, ImportNebGridInFile(header, file.path(), where)) << c.name;
    EXPECT_EQ(int64_t(at), where.offset) << c.name;
    GridRecordBytes inMemory(whole.comprData, whole.comprDataSzInts), inFile;
    ASSERT_TRUE(inFile.openFile(where)) << c.name;
    for (int height : {1, 3, 8, kNz}) {
      expectSlabsMatch(whole, header, inMemory, height, c.name);
      expectSlabsMatch(whole, header, inFile, height, c.name);
    }
    if (c.damage) {
      EXPECT_NE(std::string::npos, quiet.text().find("SGCompressor: ")) << c.name;
    }
  }
}

TEST(FrameSlabReader, RefusesWhatTheWholeDecodeRefuses) {
  NebWriter w;
  w.setGridSize(kNx, kNy, kNz);
  w.setGridBlockOptions(zones(50));
  addScalars(w, true);
  std::vector<char> bytes = writerBytes(w);
  const size_t at = recordsStart(bytes);
  // The first record's block magic, and the packed colour stream cut short in its middle.
  bytes[at + 8] = 0x77;
  size_t i = at;
  while (readInt32At(bytes, i) != 18) i += 4 * (size_t(readInt32At(bytes, i + 4)) + 2);
  const int64_t zipBytes = readInt32At(bytes, i + 8);
  writeInt32At(bytes, i + 8, int32_t(zipBytes / 2));
  TempNebFile file;
  ASSERT_TRUE(file.writeBytes(bytes));
  ReportCapture reports;
  OstraneFrameData frame;
  ASSERT_EQ(0, frame.ImportNeb(file.path(), true, false));
  EXPECT_EQ(nullptr, frame.getChannel(2));
  EXPECT_EQ(nullptr, frame.getChannel(7));
  GridRecordBytes records(frame.comprData, frame.comprDataSzInts);
  FrameSlabReader reader(frame, records);
  const size_t before = reports.text().size();
  EXPECT_FALSE(reader.open(2));
  EXPECT_NE(std::string::npos, reports.text().find("Invalid cache file!!!", before));
  // The colour stream is found cut short on the way, and the slab that meets it fails.
  ASSERT_TRUE(reader.open(7));
  std::vector<float> slab(size_t(kNx) * kNy);
  bool failed = false;
  for (int z = 0; z < kNz && !failed; ++z) failed = !reader.read(7, z, z + 1, slab.data());
  EXPECT_TRUE(failed);
  EXPECT_NE(std::string::npos, reports.text().find("Decompressing Zip (0)"));
  // Slabs must ascend.
  ASSERT_TRUE(reader.open(1));
  ASSERT_TRUE(reader.read(1, 4, 5, slab.data()));
  EXPECT_FALSE(reader.read(1, 3, 4, slab.data()));
}

}  // namespace
