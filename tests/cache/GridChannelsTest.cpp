// Grid channels: presence rules, derived speed and colour, codec choice by version, the
// record walk, and frames whose grid size or records cannot be trusted.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "NebTestFiles.h"
#include "cache/ChannelBuffer.h"
#include "ostutils/Allocation.h"
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

TEST(GridSize, SizeBeyondWhatTheBlockCoversIsRefusedBeforeAllocating) {
  ReportCapture capture;
  NebWriter w;
  w.setGridSize(2, 2, 2);
  const std::vector<float> v = testField(8, 1.0f);
  ASSERT_TRUE(w.addChannel(2, v.data()));
  const uint32_t rgb[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(w.addPackedColour(rgb));
  std::vector<char> bytes = writerBytes(w);
  ASSERT_EQ(2, readInt32At(bytes, kGridSizeOffset + 8));
  writeInt32At(bytes, kGridSizeOffset + 8, 200000000);  // 800 million cells
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, bytes));
  EXPECT_EQ(nullptr, frame.getChannel(2));
  EXPECT_EQ(nullptr, frame.getChannel(7));
  EXPECT_EQ(nullptr, frame.channelSlots[2].holder);
  EXPECT_NE(std::string::npos, capture.text().find("Invalid cache file!!!\n"));
}

}  // namespace
