// Several threads reading the grid channels of one frame at once: every channel decodes
// once, everyone sees the same buffer, and colour unpacked from the packed channel is
// never replaced under a reader.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "../NebTestFiles.h"

namespace {

const int kThreads = 4;

std::vector<char> frameBytes() {
  NebWriter w;
  w.setGridSize(40, 30, 20);
  w.setGridBlockOptions(losslessOptions());
  const std::vector<float> field = testField(40 * 30 * 20, 0.0f);
  for (int c : {1, 2, 4, 5, 6, 10, 14}) {
    std::vector<float> v = field;
    for (float& x : v) x += static_cast<float>(c);
    w.addChannel(c, v.data());
  }
  std::vector<uint32_t> rgb(40 * 30 * 20);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFFu;
  w.addPackedColour(rgb.data());
  return writerBytes(w);
}

TEST(GridChannelsConcurrency, AllChannelsDecodeOnceAndAgree) {
  const std::vector<char> bytes = frameBytes();
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, bytes));
  std::vector<std::vector<const float*>> seen(kThreads, std::vector<const float*>(33, nullptr));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      // Each thread walks the channels in its own order.
      for (int k = 0; k < 33; ++k) {
        const int c = (t % 2 == 0 ? k + 8 * t : 32 - k + 8 * t) % 33;
        seen[t][c] = frame.getChannel(c);
      }
    });
  }
  for (std::thread& th : threads) th.join();

  for (int c = 0; c < 33; ++c) {
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[0][c], seen[t][c]) << "channel " << c;
  }
  for (int c : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 14}) EXPECT_NE(nullptr, seen[0][c]) << c;
  EXPECT_EQ(nullptr, seen[0][18]);
  // 7 stored channels plus one packed colour, each decoded exactly once.
  EXPECT_EQ(8, frame.gridDecodeCount.load());
  EXPECT_EQ(6.0f, seen[0][6][0]);
  const float vx = seen[0][4][0], vy = seen[0][5][0], vz = seen[0][6][0];
  EXPECT_EQ(std::sqrt((vx * vx + vy * vy) + vz * vz), seen[0][3][0]);
}

TEST(GridChannelsConcurrency, ColourAskedTogetherKeepsHandedOutBuffers) {
  const std::vector<char> bytes = frameBytes();
  for (int round = 0; round < 20; ++round) {
    OstraneFrameData frame;
    ASSERT_EQ(0, loadBytes(frame, bytes));
    std::vector<const float*> first(kThreads * 3, nullptr);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) {
        }
        const int mine = 7 + t % 3;
        const float* p = frame.getChannel(mine);
        // Read through the pointer while the others unpack: it must stay valid.
        volatile float sum = 0.0f;
        for (int i = 0; p && i < 40 * 30 * 20; ++i) sum = sum + p[i];
        (void)sum;
        if (t == kThreads - 1) frame.getChannel(18);
        for (int c = 0; c < 3; ++c) first[t * 3 + c] = frame.getChannel(7 + c);
      });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
      for (int c = 0; c < 3; ++c) {
        ASSERT_NE(nullptr, first[t * 3 + c]);
        EXPECT_EQ(first[c], first[t * 3 + c]);
      }
    }
    EXPECT_EQ(1, frame.gridDecodeCount.load());
  }
}

}  // namespace
