// The nebu2 reader on unusual and hand-made files: footer by version, chunk list rules,
// header-only loads, reported messages, and counts from the file that must be refused
// before anything is sized by them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "NebTestFiles.h"
#include "ostutils/MemoryLimit.h"
#include "particles/PGroup.h"
#include "support/ReportCapture.h"

namespace {

// Builds files byte by byte.
struct Raw {
  std::vector<char> b;
  Raw& i32(int32_t v) {
    b.insert(b.end(), reinterpret_cast<char*>(&v), reinterpret_cast<char*>(&v) + 4);
    return *this;
  }
  Raw& i64(int64_t v) {
    b.insert(b.end(), reinterpret_cast<char*>(&v), reinterpret_cast<char*>(&v) + 8);
    return *this;
  }
  Raw& text(const char* s, size_t n) {
    b.insert(b.end(), s, s + n);
    return *this;
  }
  Raw& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
};

// "NEBU" + tags (ending with tag 0 unless the caller ends otherwise), then the chunk list
// (4 uninterpreted bytes, chunks, end id) and the footer for `version`.
std::vector<char> assemble(const Raw& tags, const Raw& chunks, int version, bool endChunks = true) {
  Raw f;
  f.text("NEBU", 4);
  f.b.insert(f.b.end(), tags.b.begin(), tags.b.end());
  const int64_t offset = static_cast<int64_t>(f.b.size());
  f.zeros(4);
  f.b.insert(f.b.end(), chunks.b.begin(), chunks.b.end());
  if (endChunks) f.i32(9999999);
  if (version >= 4) {
    f.i64(offset);
  } else {
    f.i32(static_cast<int32_t>(offset));
  }
  f.i32(version);
  f.text("NEBU2OST", 8);
  return f.b;
}

const char* const kFooterMessage =
    "Failed reading the nebu2 file footer!\nThe file is damaged, incomplete or in unsupported file format.\n"
    "If the file was saved by Ostrane 2.2 or older, please simulate the scene again, but note that the "
    "results may differ.\n";

TEST(NebReaderStatus, PathAndFooterFailures) {
  ReportCapture capture;
  OstraneFrameData frame;
  EXPECT_EQ(3, frame.ImportNeb("", true, false));
  EXPECT_EQ(3, frame.ImportNeb(nullptr, true, false));
  EXPECT_EQ(3, frame.ImportNeb("/tmp/neb_no_such_dir/none.neb", true, false));

  NebWriter w;
  std::vector<char> bytes = writerBytes(w);
  bytes.back() = 'X';
  EXPECT_EQ(12, loadBytes(frame, bytes));
  EXPECT_NE(std::string::npos, capture.text().find(kFooterMessage));

  // Shorter than the magic: the seek to E-8 fails, which is a broken file, not a missing footer.
  EXPECT_EQ(4, loadBytes(frame, std::vector<char>{'N', 'E', 'B'}));
  EXPECT_NE(std::string::npos, capture.text().find("Failed while seeking to nebu2 magic!\n"));
}

TEST(NebReaderStatus, NegativeDataOffsetOfOldVersionIsBadPath) {
  std::vector<char> bytes = assemble(Raw().i32(0), Raw(), 3);
  writeInt32At(bytes, bytes.size() - 16, -5);
  OstraneFrameData frame;
  EXPECT_EQ(3, loadBytes(frame, bytes));
}

TEST(NebReaderFooter, Version3UsesInt32OffsetAndSizesVersion4Int64) {
  NebWriter w;
  w.addRawChunk(4242, "abcd", 4);
  w.setChunkText("t");
  w.setVersion(3);
  std::vector<char> v3 = writerBytes(w);
  w.setVersion(4);
  std::vector<char> v4 = writerBytes(w);
  ASSERT_EQ(v3.size() + 4 + 4 + 4, v4.size());  // two int64 sizes and an int64 offset

  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, v3));
  EXPECT_EQ("t", frame.chunkText);
  ASSERT_EQ(0, loadBytes(frame, v4));
  EXPECT_EQ("t", frame.chunkText);
  // The same bytes labelled with the other version no longer make sense.
  writeInt32At(v3, v3.size() - 12, 4);
  EXPECT_EQ(4, loadBytes(frame, v3));
}

TEST(NebReaderChunks, UnknownSkippedKnownParsedWhateverTheirSize) {
  Raw chunks;
  chunks.i32(777).i64(6).text("junk!!", 6);                    // unknown: skipped by size
  chunks.i32(1001).i64(123456).i32(2).text("hi", 2);           // known: size ignored
  chunks.i32(1003).i64(0).i32(3);                              // 3 ranges
  chunks.i32(32).i32(0).i32(0).i32(-1).i32(0).i32(0).i32(31);
  float range[2] = {-2.0f, 9.0f};
  chunks.text(reinterpret_cast<char*>(range), 8);
  chunks.i32(1004).i64(0).i32(3).i32(32).i64(5).i32(-1).i64(6).i32(0).i64(77);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, assemble(Raw().i32(0), chunks, 5)));
  EXPECT_EQ("hi", frame.chunkText);
  EXPECT_EQ(-2.0f, frame.channelSlots[31].minimum);
  EXPECT_EQ(9.0f, frame.channelSlots[31].maximum);
  EXPECT_EQ(77, frame.channelValues64[0]);
  for (int c = 1; c < 32; ++c) EXPECT_EQ(-1, frame.channelValues64[c]);
}

TEST(NebReaderChunks, ChunkListWithoutEndIsBroken) {
  OstraneFrameData frame;
  std::vector<char> bytes = assemble(Raw().i32(0), Raw().i32(1001).i64(0).i32(1).text("x", 1), 5, false);
  EXPECT_EQ(4, loadBytes(frame, bytes));
}

TEST(NebReaderTags, LongPropertyBlockKeeps392BytesAndContinues) {
  Raw tags;
  tags.i32(12).i32(400);
  for (int i = 0; i < 400; ++i) tags.b.push_back(static_cast<char>(i & 0x7F));
  tags.i32(4).i32(99).i32(0);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, assemble(tags, Raw(), 5)));
  EXPECT_EQ(99, frame.frameNumber);
  for (int i = 0; i < 392; ++i) ASSERT_EQ(i & 0x7F, frame.propsBlock[i]) << i;
}

TEST(NebReaderTags, MissingFrameNumberLeavesZeroAndMaskBit31GoesToFlags) {
  OstraneFrameData frame;
  EXPECT_EQ(INT32_MIN, frame.frameNumber);
  ASSERT_EQ(0, loadBytes(frame, assemble(Raw().i32(1).i32(static_cast<int32_t>(0x80000004u)).i32(0), Raw(), 5)));
  EXPECT_EQ(0, frame.frameNumber);
  EXPECT_EQ(1u, frame.flags & 1u);
  EXPECT_EQ(1, frame.hasChannel(2));
  EXPECT_EQ(0, frame.hasChannel(31));
}

TEST(NebReaderMessages, TruncatedTagReportsItsReadThenBrokenFile) {
  ReportCapture capture;
  TempNebFile file;
  ASSERT_TRUE(file.writeBytes(assemble(Raw().i32(12).i32(300), Raw(), 5)));
  OstraneFrameData frame;
  EXPECT_EQ(4, frame.ImportNeb(file.path(), true, false));
  const std::string expected = std::string("12\nOstraneFrameData::ImportNeb broken file. File is: ") + file.path() + "\n";
  EXPECT_NE(std::string::npos, capture.text().find(expected)) << capture.text();
}

TEST(NebReaderMessages, WrongHeaderAndBadSubTag) {
  ReportCapture capture;
  OstraneFrameData frame;
  std::vector<char> bytes = assemble(Raw().i32(0), Raw(), 5);
  bytes[0] = 'X';
  EXPECT_EQ(4, loadBytes(frame, bytes));
  EXPECT_NE(std::string::npos, capture.text().find("no hdr\n"));

  Raw block;
  block.i32(7).i32(0).i32(1).i32(1).text("g", 1).i32(0);
  for (int i = 0; i < 32; ++i) block.i32(-1);
  block.i32(5);  // no such sub-record
  EXPECT_EQ(4, loadBytes(frame, assemble(block, Raw(), 5)));
  EXPECT_NE(std::string::npos, capture.text().find("19\n"));
}

TEST(NebReaderHeaderOnly, NoGridDataAndAPlaceholder) {
  NebWriter w;
  w.setGridSize(4, 4, 4);
  std::vector<float> v = testField(64, 0.0f);
  ASSERT_TRUE(w.addChannel(2, v.data()));
  w.setFrameNumber(3);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w), true));
  EXPECT_EQ(1, frame.comprDataSzInts);
  EXPECT_EQ(4u, frame.flags & 4u);
  EXPECT_EQ(3, frame.frameNumber);
  EXPECT_EQ(1, frame.hasChannel(2));
  for (int c = 0; c < 32; ++c) EXPECT_EQ(nullptr, frame.getChannel(c)) << c;
}

TEST(NebReaderHeaderOnly, GroupTableWithOldStyleBlockKeepsTableSkipsBlockData) {
  const int n = 4;
  float pos[n * 3];
  for (int i = 0; i < n * 3; ++i) pos[i] = static_cast<float>(i);
  int64_t ids[n] = {4, 3, 2, 1};
  NebWriter w;
  w.setParticleLayout(true, false, 13);
  int g = w.addGroup("Foam", n, 5);
  ASSERT_TRUE(w.setGroupChannel(g, 0, pos));
  ASSERT_TRUE(w.setGroupChannel(g, 10, ids));
  std::vector<char> bytes = writerBytes(w);

  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, bytes, true));
  ASSERT_EQ(1, frame.groups.size);
  EXPECT_STREQ("Foam", frame.groups[0].getName());
  EXPECT_EQ(n, frame.groups[0].particleCount);
  EXPECT_EQ(5, frame.groups[0].groupType);
  EXPECT_EQ((1 << 0) | (1 << 10), frame.groups[0].presentChannels);
  EXPECT_FALSE(frame.groups[0].slotHasData(0));
  EXPECT_FALSE(frame.groups[0].slotHasData(10));
  EXPECT_EQ(0.0f, frame.bboxMin[0]);  // from the table
  EXPECT_EQ(11.0f, frame.bboxMax[2]);

  // A full load reads the block.
  ASSERT_EQ(0, loadBytes(frame, bytes, false));
  EXPECT_TRUE(frame.groups[0].slotHasData(0));
  EXPECT_EQ(2, frame.groups[0].findParticleById(2));
}

// Counts from the file that would size something are checked against the bytes left.
TEST(NebReaderSoundness, HostileCountsAreBrokenFiles) {
  ReportCapture capture;
  OstraneFrameData frame;
  // Negative and huge grid data counts.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(3).i32(2).i32(2).i32(2).i32(-1), Raw(), 5)));
  EXPECT_NE(std::string::npos, capture.text().find("OstraneFrameData::ImportNeb bad comprDataSzInts!"));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(3).i32(2).i32(2).i32(2).i32(0x7FFFFFFF), Raw(), 5)));
  EXPECT_EQ(nullptr, frame.comprData);
  EXPECT_EQ(0, frame.comprDataSzInts);
  // Header-only too: the skip must stay inside the file.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(3).i32(2).i32(2).i32(2).i32(0x7FFFFFFF), Raw(), 5), true));
  // Scratch count of a particle block.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(7).i32(0x40000000), Raw(), 5)));
  // Group count of a block, of the table and of the data chunk.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(7).i32(0).i32(0x7FFFFFFF), Raw(), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), Raw().i32(1000).i64(0).i32(0x10000000), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), Raw().i32(1002).i64(0).i32(0x10000000), 5)));
  // Negative string length and one past the end.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), Raw().i32(1001).i64(0).i32(-4), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), Raw().i32(1001).i64(0).i32(1000), 5)));
  // Unknown chunk sized past the end, and a negative size.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), Raw().i32(555).i64(int64_t{1} << 40), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), Raw().i32(555).i64(-8), 5)));
  // Tag 12 with a negative count.
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(12).i32(-1), Raw(), 5)));
}

TEST(NebReaderSoundness, GroupDataWithBadSlotOrStoredSize) {
  auto groupChunk = [](int32_t slot, int32_t storedBytes) {
    Raw c;
    c.i32(1002).i64(0).i32(1);
    c.i32(1).text("g", 1).i32(0).i32(1).zeros(8).i32(1);
    c.i32(slot).i32(0).i32(storedBytes).zeros(storedBytes > 0 && storedBytes < 64 ? storedBytes : 0);
    return c;
  };
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, assemble(Raw().i32(0), groupChunk(2, 4), 5)));
  EXPECT_TRUE(frame.groups[0].slotHasData(2));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), groupChunk(32, 4), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), groupChunk(-1, 4), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), groupChunk(2, 0x7FFFFFF0), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(Raw().i32(0), groupChunk(2, -3), 5)));
}

TEST(NebReaderSoundness, BlockSlotsOutsideTheirScratchOrUndecodable) {
  auto block = [](int tag, int32_t start, int32_t particles, const Raw& scratch) {
    Raw b;
    b.i32(tag).i32(static_cast<int32_t>(scratch.b.size() / 4));
    b.b.insert(b.b.end(), scratch.b.begin(), scratch.b.end());
    b.i32(1).i32(1).text("g", 1).i32(particles);
    for (int s = 0; s < 32; ++s) b.i32(s == 2 ? start : -1);
    b.i32(0).i32(0);
    return b;
  };
  Raw fourFloats;
  fourFloats.zeros(16);
  OstraneFrameData frame;
  EXPECT_EQ(0, loadBytes(frame, assemble(block(7, 0, 4, fourFloats), Raw(), 5)));
  EXPECT_EQ(4, loadBytes(frame, assemble(block(7, 1, 4, fourFloats), Raw(), 5)));   // runs past the scratch
  EXPECT_EQ(4, loadBytes(frame, assemble(block(7, 4, 1, fourFloats), Raw(), 5)));   // starts past it
  EXPECT_EQ(4, loadBytes(frame, assemble(block(7, -2, 1, fourFloats), Raw(), 5)));  // negative start
  EXPECT_EQ(4, loadBytes(frame, assemble(block(7, 0, -1, fourFloats), Raw(), 5)));  // negative count
  // Tag 13 whose slot is not a grid block (zero magic).
  EXPECT_EQ(4, loadBytes(frame, assemble(block(13, 0, 4, fourFloats), Raw(), 5)));
  // Tag 13 counts are checked before the planar temporary is sized by them: a constant
  // zone of 4 values cannot hold two billion particles, and one that claims them all is
  // bounded by the memory budget.
  struct LimitReset {
    ~LimitReset() { OSTUtils::setMemoryLimitBytes(0); }
  } reset;
  OSTUtils::setMemoryLimitBytes(1 << 20);
  for (int32_t zoneValues : {4, 0x7FFFFFFF}) {
    Raw constant;
    constant.text("\x01\xFC\x01", 3).i32(zoneValues).text("\x00\x00\xC0\x3F", 4).zeros(1);
    ReportCapture capture;
    EXPECT_EQ(4, loadBytes(frame, assemble(block(13, 0, 0x7FFFFFFF, constant), Raw(), 5)));
    const bool claimsAll = zoneValues == 0x7FFFFFFF;
    EXPECT_EQ(!claimsAll, capture.text().find("cannot hold 2147483647 particles") != std::string::npos) << capture.text();
    EXPECT_EQ(claimsAll, capture.hasBudgetRefusal(8589934588ULL, 1048576)) << capture.text();
  }
}

// A chunk-1002 record holding fewer particles than the count is stored as it is: the frame
// loads and the channel expands to the count, zero where the record wrote nothing. A count
// whose channel would exceed the memory budget leaves that channel alone unavailable.
TEST(NebReaderSoundness, ParticleCountBeyondStoredChannelLoads) {
  struct LimitReset {
    ~LimitReset() { OSTUtils::setMemoryLimitBytes(0); }
  } reset;
  const float pos[6] = {1, 2, 3, 4, 5, 6};
  for (int method : {1, 2, 3, 4}) {
    NebWriter w;
    int g = w.addGroup("g", 2);
    ASSERT_TRUE(w.setGroupChannel(g, 0, pos, method));
    std::vector<char> bytes = writerBytes(w);
    // The count sits after the data chunk's group count, name and type.
    const size_t chunk = static_cast<size_t>(readInt32At(bytes, bytes.size() - 20)) + 4;
    size_t at = chunk;
    while (readInt32At(bytes, at) != 1002) at += 12 + static_cast<size_t>(readInt32At(bytes, at + 4));
    const size_t countAt = at + 12 + 4 + 4 + 1 + 4;
    ASSERT_EQ(2, readInt32At(bytes, countAt));
    writeInt32At(bytes, countAt, 1000);
    OstraneFrameData frame;
    ASSERT_EQ(0, loadBytes(frame, bytes)) << method;
    float got[3] = {-1, -1, -1};
    ASSERT_TRUE(frame.groups[0].getParticleValue(999, 0, got)) << method;
    if (method == 1 || method == 2) {  // particle after particle: the first two as written
      EXPECT_EQ(0.0f, got[0] + got[1] + got[2]) << method;
      ASSERT_TRUE(frame.groups[0].getParticleValue(1, 0, got));
      EXPECT_NEAR(5.0f, got[1], 1e-3f) << method;  // method 2 is lossy
    }

    writeInt32At(bytes, countAt, 0x10000000);  // 3 GiB of positions
    OSTUtils::setMemoryLimitBytes(64 << 20);
    ReportCapture capture;
    ASSERT_EQ(0, loadBytes(frame, bytes)) << method;
    EXPECT_FALSE(frame.groups[0].getParticleValue(0, 0, got)) << method;
    EXPECT_TRUE(capture.hasBudgetRefusal(3221225472ULL, 67108864)) << method << capture.text();
    OSTUtils::setMemoryLimitBytes(0);
  }
}

TEST(NebReaderSoundness, UndecodableIdentifiersAreBroken) {
  Raw b;
  b.i32(7).i32(0).i32(1).i32(1).text("g", 1).i32(3);
  for (int s = 0; s < 32; ++s) b.i32(-1);
  b.i32(2).i32(4).i32(0x7F7F7F7F).i32(0);  // a stream too short for three pairs
  OstraneFrameData frame;
  EXPECT_EQ(4, loadBytes(frame, assemble(b, Raw(), 5)));
}

}  // namespace
