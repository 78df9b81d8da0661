// Hosts creating and releasing frames from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cache/NebWriter.h"
#include "nebloader.h"
#include "support/LoaderTestSupport.h"

TEST(ConcurrentFrames, NewAndDeleteFromSeveralThreads) {
  loadertest::TempDir dir;
  std::vector<std::string> paths;
  std::vector<float> smoke(4 * 4 * 4);
  for (size_t i = 0; i < smoke.size(); ++i) smoke[i] = static_cast<float>(i);
  for (int f = 1; f <= 3; ++f) {
    NebWriter w;
    w.setGridSize(4, 4, 4);
    w.setFrameNumber(f);
    ASSERT_TRUE(w.addChannel(2, smoke.data()));
    paths.push_back(dir.file("c_000" + std::to_string(f) + ".neb"));
    ASSERT_TRUE(w.write(paths.back().c_str()));
  }

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t]() {
      for (int round = 0; round < 40; ++round) {
        const std::string& path = paths[static_cast<size_t>(round + t) % paths.size()];
        INeb* a = newINeb(path.c_str());
        INeb* header = (round % 5 == 0) ? newINebMaxVox(path.c_str(), -1, true) : nullptr;
        INeb* b = newINeb(path.c_str());
        if (!a || !b || a != b || (round % 5 == 0 && !header)) {
          ++failures;
        } else {
          const float* values = a->getChannel(2);
          if (!values || values[63] < 62.9f || values[63] > 63.1f) ++failures;  // lossy codec
        }
        deleteINeb(header);
        deleteINeb(b);
        deleteINeb(a);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}
