#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "ostutils/Allocation.h"
#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"
#include "ostutils/OstArray.h"
#include "support/ReportCapture.h"

// Threads allocate, grow and free through every counted path at once, under a budget that
// one thread's round alone may pass (a 6 MiB block and a 3 MiB reservation against 8 MiB),
// so that requests are refused and kept large blocks are given back while other threads
// take and keep them. Whatever succeeded or failed, once everything is freed and the
// large-block cache emptied, nothing is held.
TEST(MemoryBudgetThreads, TotalReturnsToZero) {
  ReportCapture quiet;  // refusals are expected
  const uint64_t cacheLimit = OSTUtils::largeBlockCacheLimit();
  OSTUtils::setLargeBlockCacheLimit(uint64_t(6) << 20);
  OSTUtils::setMemoryLimitBytes(uint64_t(8) << 20);
  EXPECT_EQ(0u, OSTUtils::memoryHeldBytes());
  const int kThreads = 4, kRounds = 300;
  std::vector<int> refused(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &refused] {
      uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(t + 1);
      auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
      };
      for (int r = 0; r < kRounds; ++r) {
        // A large block of one of three sizes (reuse, keeping and eviction), grown from a
        // small array; plain heap arrays; a reservation.
        OSTUtils::OstArray<char, int64_t> a;
        const int64_t large = int64_t(4 + next() % 3) << 20;
        refused[t] += !a.SetSize(int64_t(1) << 16);
        refused[t] += !a.SetSize(large, nullptr, true);
        int* p = nullptr;
        refused[t] += !OSTUtils::newArray(p, 1000 + next() % 100000);
        float* z = nullptr;
        refused[t] += !OSTUtils::newZeroedArray(z, 1 + next() % 1000);
        OSTUtils::MemoryReservation hold;
        refused[t] += !hold.reserve(next() % (uint64_t(3) << 20));
        OSTUtils::releaseArray(p);
        OSTUtils::releaseArray(z);
        if (next() % 2) a.Free();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  int refusals = 0;
  for (int n : refused) refusals += n;
  EXPECT_GT(refusals, 0) << "the budget was never reached: the test exercises nothing";
  EXPECT_LE(OSTUtils::largeBlockCacheBytes(), OSTUtils::memoryHeldBytes());
  OSTUtils::setLargeBlockCacheLimit(0);
  EXPECT_EQ(0u, OSTUtils::memoryHeldBytes());
  OSTUtils::setLargeBlockCacheLimit(cacheLimit);
  OSTUtils::setMemoryLimitBytes(0);
}
