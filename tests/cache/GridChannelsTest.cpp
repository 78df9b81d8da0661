// Grid channels: presence rules, derived speed and colour, codec choice by version, the
// record walk, blocks that cover part of the grid, and frames whose grid size or records
// cannot be trusted.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "NebTestFiles.h"
#include "cache/ChannelBuffer.h"
#include "compress/ZipBlock.h"
#include "ostutils/Allocation.h"
#include "ostutils/MemoryLimit.h"
#include "support/ReportCapture.h"

namespace {

TEST(GridPresence, MaskRulesWithoutDecoding) {
  OstraneFrameData frame;
  frame.channelMask = (1 << 4) | (1 << 5) | (1 << 6) | (1 << 18);
  EXPECT_EQ(1, frame.hasChannel(3));  // derived from velocity
  EXPECT_EQ(1, frame.hasChannel(7));
  EXPECT_EQ(1, frame.hasChannel(9));
  EXPECT_EQ(0, frame.hasChannel(18));
  EXPECT_EQ(0, frame.hasChannel(2));
  EXPECT_EQ(0, frame.hasChannel(-1));
  EXPECT_EQ(0, frame.hasChannel(32));
  EXPECT_EQ(0, frame.hasChannel(1000));
  frame.channelMask = (1 << 4) | (1 << 5);
  EXPECT_EQ(0, frame.hasChannel(3));
  frame.channelMask = static_cast<int32_t>(0x80000000u);
  EXPECT_EQ(0, frame.hasChannel(31));
  EXPECT_EQ(0, frame.gridDecodeCount.load());
}

TEST(GridChannels, SpeedDerivedFromVelocity) {
  NebWriter w;
  w.setGridSize(2, 2, 1);
  w.setGridBlockOptions(losslessOptions());
  const float vx[4] = {3, 0, 1, -2}, vy[4] = {4, 0, 2, 0}, vz[4] = {0, 0, 2, 0};
  ASSERT_TRUE(w.addChannel(4, vx));
  ASSERT_TRUE(w.addChannel(5, vy));
  ASSERT_TRUE(w.addChannel(6, vz));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(1, frame.hasChannel(3));
  const float* speed = frame.getChannel(3);
  ASSERT_NE(nullptr, speed);
  EXPECT_EQ(5.0f, speed[0]);
  EXPECT_EQ(0.0f, speed[1]);
  EXPECT_EQ(3.0f, speed[2]);
  EXPECT_EQ(2.0f, speed[3]);
  EXPECT_EQ(3, frame.gridDecodeCount.load());
  EXPECT_EQ(speed, frame.getChannel(3));  // kept
  EXPECT_EQ(3, frame.gridDecodeCount.load());
}

TEST(GridChannels, StoredSpeedWinsOverDerivation) {
  NebWriter w;
  w.setGridSize(1, 1, 1);
  w.setGridBlockOptions(losslessOptions());
  const float s = 42.0f, v = 1.0f;
  ASSERT_TRUE(w.addChannel(3, &s));
  ASSERT_TRUE(w.addChannel(4, &v));
  ASSERT_TRUE(w.addChannel(5, &v));
  ASSERT_TRUE(w.addChannel(6, &v));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  ASSERT_NE(nullptr, frame.getChannel(3));
  EXPECT_EQ(42.0f, frame.getChannel(3)[0]);
  EXPECT_EQ(1, frame.gridDecodeCount.load());
}

TEST(GridChannels, ColourFromPackedChannelLeavesSlot18Empty) {
  NebWriter w;
  w.setGridSize(2, 1, 1);
  const uint32_t rgb[2] = {0x00336699, 0x00FF00FF};
  ASSERT_TRUE(w.addPackedColour(rgb));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  const float* g = frame.getChannel(8);
  ASSERT_NE(nullptr, g);
  EXPECT_EQ(static_cast<float>(0x66) * (1.0f / 255.0f), g[0]);
  EXPECT_EQ(0.0f, g[1]);
  EXPECT_FALSE(frame.channelSlots[18].loaded);
  EXPECT_EQ(nullptr, frame.channelSlots[18].holder);
  EXPECT_TRUE(frame.channelSlots[7].loaded);
  EXPECT_TRUE(frame.channelSlots[9].loaded);
  const float* r = frame.getChannel(7);
  const float* b = frame.getChannel(9);
  EXPECT_EQ(1, frame.gridDecodeCount.load());
  // Asking for the packed channel itself afterwards neither decodes again nor replaces the
  // colour buffers handed out above.
  EXPECT_EQ(nullptr, frame.getChannel(18));
  EXPECT_EQ(1, frame.gridDecodeCount.load());
  EXPECT_EQ(r, frame.getChannel(7));
  EXPECT_EQ(g, frame.getChannel(8));
  EXPECT_EQ(b, frame.getChannel(9));
  EXPECT_EQ(1.0f, b[1]);
}

TEST(GridChannels, OutOfRangeChannelsGiveNull) {
  OstraneFrameData frame;
  EXPECT_EQ(nullptr, frame.getChannel(32));
  EXPECT_EQ(nullptr, frame.getChannel(-1));
  EXPECT_FALSE(frame.GetChannel(32).loaded);
  EXPECT_FALSE(frame.GetChannel(-7).loaded);
}

// A lossy block differs by codec: decoding it with the other dimension cannot reproduce it.
TEST(GridChannels, CodecFollowsVersion) {
  const std::vector<float> field = testField(6 * 5 * 4, 2.0f);
  for (int version : {4, 5}) {
    for (int dimension : {1, 3}) {
      NebWriter w;
      w.setVersion(version);
      w.setGridSize(6, 5, 4);
      w.setGridCompressor(dimension);
      ASSERT_TRUE(w.addChannel(2, field.data()));
      OstraneFrameData frame;
      ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
      const float* got = frame.getChannel(2);
      const bool match = (version >= 5) == (dimension == 1);
      bool close = got != nullptr;
      for (size_t i = 0; close && i < field.size(); ++i) close = std::fabs(got[i] - field[i]) < 1e-3f;
      EXPECT_EQ(match, close) << "version " << version << " dimension " << dimension;
      if (match) {
        EXPECT_EQ(version >= 5, frame.compressorV5 != nullptr);
        EXPECT_EQ(version < 5, frame.compressorLegacy != nullptr);
      }
    }
  }
}

TEST(GridRecords, ZeroLengthRecordStopsTheWalk) {
  NebWriter w;
  w.setGridSize(1, 1, 1);
  w.setGridBlockOptions(losslessOptions());
  const float a = 1.0f, b = 2.0f;
  ASSERT_TRUE(w.addChannel(1, &a));
  ASSERT_TRUE(w.addRawGridRecord(9, nullptr, 0, 0));
  ASSERT_TRUE(w.addChannel(2, &b));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  ASSERT_NE(nullptr, frame.getChannel(1));
  EXPECT_EQ(nullptr, frame.getChannel(2));
}

TEST(GridRecords, DamagedRecordsReportAndRetry) {
  ReportCapture capture;
  NebWriter w;
  w.setGridSize(2, 2, 2);
  const int32_t junk[3] = {0x12345678, 1, 2};
  ASSERT_TRUE(w.addRawGridRecord(2, junk, sizeof junk));
  // Payload length past the end of the data.
  ASSERT_TRUE(w.addRawGridRecord(1, junk, sizeof junk, 1000));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(nullptr, frame.getChannel(2));
  EXPECT_EQ(nullptr, frame.getChannel(2));  // tried again
  EXPECT_EQ(2, frame.gridDecodeCount.load());
  EXPECT_FALSE(frame.channelSlots[2].loaded);
  EXPECT_EQ(nullptr, frame.getChannel(1));
  std::string text = capture.text();
  size_t count = 0;
  for (size_t at = text.find("Invalid cache file!!!\n"); at != std::string::npos;
       at = text.find("Invalid cache file!!!\n", at + 1)) {
    ++count;
  }
  EXPECT_EQ(3u, count);
}

TEST(GridRecords, PackedColourWithBadZipLength) {
  NebWriter w;
  w.setGridSize(1, 1, 1);
  int32_t payload[3] = {0, 0, 0};
  const int64_t tooLong = 1000;
  std::memcpy(payload, &tooLong, 8);
  ASSERT_TRUE(w.addRawGridRecord(18, payload, sizeof payload));
  w.setChannelMask(1 << 18);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(nullptr, frame.getChannel(7));
  EXPECT_FALSE(frame.channelSlots[7].loaded);
  EXPECT_FALSE(frame.channelSlots[18].loaded);
}

TEST(GridSize, InvalidCellCountsAllocateNothing) {
  OstraneFrameData frame;
  int32_t data[4] = {2, 2, 0x1FC01, 0};  // some record for channel 2
  frame.comprData = nullptr;
  ASSERT_TRUE(OSTUtils::newArray(frame.comprData, 4));
  std::memcpy(frame.comprData, data, sizeof data);
  frame.comprDataSzInts = 4;
  frame.version = 5;
  const int32_t sizes[][3] = {{-1, 1, 1}, {1 << 20, 1 << 20, 1 << 21}, {INT32_MAX, INT32_MAX, 3}};
  for (const auto& s : sizes) {
    std::memcpy(frame.gridSize, s, sizeof frame.gridSize);
    EXPECT_EQ(-1, frame.CellCount());
    EXPECT_FALSE(frame.PrepareChannelSlot(2, 4));
    EXPECT_EQ(nullptr, frame.getChannel(2));
    EXPECT_EQ(nullptr, frame.getChannel(3));
    EXPECT_EQ(nullptr, frame.channelSlots[2].holder);
  }
  EXPECT_EQ(0, frame.gridDecodeCount.load());
}

TEST(GridSlots, PrepareAndReleaseResetRangeAndShareBuffers) {
  OstraneFrameData frame;
  frame.gridSize[0] = 3;
  frame.gridSize[1] = 1;
  frame.gridSize[2] = 1;
  frame.channelSlots[5].minimum = -3.0f;
  ASSERT_TRUE(frame.PrepareChannelSlot(5, 4));
  OstraneFrameData::ChannelSlot& slot = frame.channelSlots[5];
  EXPECT_TRUE(slot.loaded);
  ASSERT_NE(nullptr, slot.holder);
  EXPECT_EQ(7, slot.holder->values.size);
  EXPECT_EQ(0.0f, slot.holder->values.data[6]);
  EXPECT_EQ(3, slot.holder->gridSize[0]);
  EXPECT_EQ(OstraneFrameData::ChannelSlot().minimum, slot.minimum);
  // A second reference keeps the values alive after the slot lets go.
  ChannelBuffer* held = slot.holder;
  held->retain();
  frame.ReleaseChannelSlot(5);
  EXPECT_FALSE(slot.loaded);
  EXPECT_EQ(nullptr, slot.holder);
  held->values.data[0] = 1.0f;  // still valid (ASan would object otherwise)
  EXPECT_EQ(1, held->refCount.load());
  held->release();
}

}  // namespace

namespace {

// Offset of the tag-3 grid size in a writer file without frame number and other tags:
// "NEBU", tag 1 + mask, tag 2 + 48 bytes, tag 3.
const size_t kGridSizeOffset = 4 + 8 + 52 + 4;

// Hand-made grid-compressor blocks.
struct Block {
  std::vector<char> b;
  Block& u8(uint8_t v) { return put(&v, 1); }
  Block& u16(uint16_t v) { return put(&v, 2); }
  Block& i32(int32_t v) { return put(&v, 4); }
  Block& f32(float v) { return put(&v, 4); }
  Block& put(const void* p, size_t n) {
    b.insert(b.end(), static_cast<const char*>(p), static_cast<const char*>(p) + n);
    return *this;
  }
  // A constant zone stream: magic, method 1, count, value.
  Block& constant(int32_t n, float v) { return u16(0xFC01).u8(1).i32(n).f32(v); }
};

// Blocks need not cover the grid: no zones, gaps between zones, one zone shorter than the
// grid, a zone whose coded run stops early, a short zip stream, or a grid grown past its
// block. The channel decodes, and every cell no zone writes stays zero.
TEST(GridRecords, BlocksCoveringPartOfTheGridLeaveZeroes) {
  const float z = 0.0f;
  const std::vector<float> field = testField(8, 1.0f);
  struct Case {
    const char* name;
    Block block;
    std::vector<float> expect;  // first cells; the rest of the 16 are zero
    int unchecked = 0;          // cells from 16 - unchecked on have no defined value
  };
  std::vector<Case> cases;
  cases.push_back({"no zones", Block().u16(0xFC02).u16(0), {}});
  cases.push_back({"gaps", Block().u16(0xFC02).u16(2).i32(0).i32(6).i32(0).i32(11).constant(2, 1.5f).constant(1, 2.5f),
                   {1.5f, 1.5f, z, z, z, z, 2.5f}});
  cases.push_back({"short single zone", Block().constant(3, 2.5f), {2.5f, 2.5f, 2.5f}});
  // Zone 1 (cells 12..15): quantized, 4 values, no coded bytes at all.
  Block cut;
  cut.u16(0xFC02).u16(2).i32(0).i32(12).i32(0).i32(11).constant(2, 1.5f);
  cut.u16(0xFC01).u8(2).i32(4).f32(1.0f).f32(0.0f).i32(0).u8(0);
  cases.push_back({"coded run cut short", cut, {1.5f, 1.5f}, 4});
  for (Case& c : cases) {
    NebWriter w;
    w.setGridSize(4, 2, 2);
    ASSERT_TRUE(w.addRawGridRecord(2, c.block.b.data(), static_cast<int64_t>(c.block.b.size())));
    OstraneFrameData frame;
    ASSERT_EQ(0, loadBytes(frame, writerBytes(w))) << c.name;
    const float* got = frame.getChannel(2);
    ASSERT_NE(nullptr, got) << c.name;
    c.expect.resize(16 - c.unchecked, 0.0f);
    for (size_t i = 0; i < c.expect.size(); ++i) EXPECT_EQ(c.expect[i], got[i]) << c.name << " cell " << i;
  }

  // A writer block for 2 x 2 x 2 cells in a file whose grid says 2 x 2 x 4.
  NebWriter w;
  w.setGridSize(2, 2, 2);
  w.setGridBlockOptions(losslessOptions());
  ASSERT_TRUE(w.addChannel(2, field.data()));
  const uint32_t rgb[2] = {0x00FF0000u, 0x000000FFu};
  OSTUtils::OstArray<char, int64_t> zip;
  ASSERT_TRUE(OSTUtils::DeflateBlock(rgb, sizeof rgb, zip));  // a stream for 2 of the cells
  std::vector<char> colour(8);
  const int64_t zipBytes = zip.size;
  std::memcpy(colour.data(), &zipBytes, 8);
  colour.insert(colour.end(), zip.data, zip.data + zip.size);
  ASSERT_TRUE(w.addRawGridRecord(18, colour.data(), static_cast<int64_t>(colour.size())));
  w.setChannelMask((1 << 2) | (1 << 18));
  std::vector<char> bytes = writerBytes(w);
  writeInt32At(bytes, kGridSizeOffset + 8, 4);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, bytes));
  const float* got = frame.getChannel(2);
  ASSERT_NE(nullptr, got);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(i < 8 ? field[i] : 0.0f, got[i]) << "cell " << i;
  const float* red = frame.getChannel(7);
  const float* blue = frame.getChannel(9);
  ASSERT_NE(nullptr, red);
  ASSERT_NE(nullptr, blue);
  EXPECT_FLOAT_EQ(1.0f, red[0]);
  EXPECT_FLOAT_EQ(1.0f, blue[1]);
  for (int i = 2; i < 16; ++i) EXPECT_EQ(0.0f, red[i] + blue[i]) << "cell " << i;
}

// A channel buffer over the process-wide memory budget fails like an exhausted heap: a null
// channel and a report naming the request and the budget. Under the default it decodes.
TEST(GridChannels, BufferOverTheMemoryLimitIsRefusedCleanly) {
  struct LimitReset {
    ~LimitReset() { OSTUtils::setMemoryLimitBytes(0); }
  } reset;
  const int32_t cells = 64 * 64 * 64;
  NebWriter w;
  w.setGridSize(64, 64, 64);
  const Block block = Block().constant(cells, 0.5f);
  ASSERT_TRUE(w.addRawGridRecord(2, block.b.data(), static_cast<int64_t>(block.b.size())));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  {
    ReportCapture capture;
    OSTUtils::setMemoryLimitBytes(512 << 10);
    EXPECT_EQ(nullptr, frame.getChannel(2));
    EXPECT_FALSE(frame.channelSlots[2].loaded);
    // (cells + 4 floats of slack) x 4 bytes.
    EXPECT_TRUE(capture.hasBudgetRefusal(1048592, 524288)) << capture.text();
  }
  OSTUtils::setMemoryLimitBytes(0);
  const float* got = frame.getChannel(2);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(0.5f, got[0]);
  EXPECT_EQ(0.5f, got[cells - 1]);
}

}  // namespace
