// The process-wide memory budget against frames whose few bytes claim large channels.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "NebTestFiles.h"
#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"
#include "support/ReportCapture.h"

namespace {

// A frame of a few hundred bytes: constant zones claiming `channels` channels of nx*128*128.
std::vector<char> constantFrame(int nx, int channels) {
  NebWriter w;
  w.setGridSize(nx, 128, 128);
  const int32_t cells = nx * 128 * 128;
  for (int c = 0; c < channels; ++c) {
    std::vector<char> zone;
    auto put = [&zone](const void* p, size_t n) {
      zone.insert(zone.end(), static_cast<const char*>(p), static_cast<const char*>(p) + n);
    };
    const uint16_t magic = 0xFC01;
    const uint8_t method = 1;  // a constant zone: count, value
    const float value = 0.5f + static_cast<float>(c);
    put(&magic, 2);
    put(&method, 1);
    put(&cells, 4);
    put(&value, 4);
    if (!w.addRawGridRecord(10 + c, zone.data(), static_cast<int64_t>(zone.size()))) return {};
  }
  return writerBytes(w);
}

// Touches every channel; returns how many decoded. Each one past the budget must come back
// null with the budget's report, and the total held never passes the budget.
int touchEveryChannel(INeb& frame, uint64_t channelBytes, uint64_t budget) {
  int decoded = 0;
  for (int c = 0; c < 32; ++c) {
    ReportCapture capture;
    const float* values = frame.getChannel(c);
    EXPECT_LE(OSTUtils::memoryHeldBytes(), budget) << "channel " << c;
    if (values) {
      ++decoded;
      EXPECT_EQ(0.5f + static_cast<float>(c - 10), values[0]) << "channel " << c;
    } else if (frame.hasChannel(c)) {
      EXPECT_TRUE(capture.hasBudgetRefusal(channelBytes, budget)) << "channel " << c << ": " << capture.text();
    }
  }
  return decoded;
}

}  // namespace

// 8 MiB channels under a 24 MiB budget: two of six decode. While that frame is held a
// second frame (10 MiB channels) gets none; once it is freed its buffers wait in the
// large-block cache, which gives them back so that both of the second frame's decode.
TEST(FrameMemoryBudget, ChannelsPastTheBudgetAreNullUntilAFrameIsFreed) {
  struct Reset {
    uint64_t cacheLimit = OSTUtils::largeBlockCacheLimit();
    ~Reset() {
      OSTUtils::setMemoryLimitBytes(0);
      OSTUtils::setLargeBlockCacheLimit(cacheLimit);
    }
  } reset;
  const uint64_t budget = uint64_t(24) << 20;
  OSTUtils::setMemoryLimitBytes(budget);
  OSTUtils::setLargeBlockCacheLimit(uint64_t(20) << 20);  // keeps both of the first frame's buffers

  const std::vector<char> first = constantFrame(128, 6), second = constantFrame(160, 2);
  ASSERT_FALSE(first.empty());
  EXPECT_LT(first.size(), 512u);
  auto a = std::make_unique<OstraneFrameData>();
  auto b = std::make_unique<OstraneFrameData>();
  ASSERT_EQ(0, loadBytes(*a, first));
  ASSERT_EQ(0, loadBytes(*b, second));
  // (cells + 4 floats of slack) x 4 bytes.
  const uint64_t firstChannel = (uint64_t(128) * 128 * 128 + 4) * 4;
  const uint64_t secondChannel = (uint64_t(160) * 128 * 128 + 4) * 4;
  EXPECT_EQ(2, touchEveryChannel(*a, firstChannel, budget));
  EXPECT_EQ(0, touchEveryChannel(*b, secondChannel, budget));

  a.reset();
  EXPECT_EQ(2 * firstChannel, OSTUtils::largeBlockCacheBytes());
  EXPECT_EQ(2, touchEveryChannel(*b, secondChannel, budget));
  EXPECT_EQ(0u, OSTUtils::largeBlockCacheBytes());
}
