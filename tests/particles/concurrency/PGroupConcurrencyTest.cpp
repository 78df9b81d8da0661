#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "../ParticleTestSupport.h"
#include "ostutils/OstParallel.h"
#include "support/ReportCapture.h"
#include "zutils/ThreadPool.h"

namespace {

// A group with data in every slot that has words, each stored with a different method.
void fillAllSlots(PGroup& g, int n, std::vector<std::vector<uint32_t>>& expected) {
  g.particleCount = n;
  expected.assign(32, {});
  for (int slot = 0; slot < 32; ++slot) {
    const int words = PGroup::wordsPerParticle(slot);
    if (words == 0) continue;
    std::vector<uint32_t> v(static_cast<size_t>(n) * words);
    for (size_t i = 0; i < v.size(); ++i) {
      // Small floats for the grid-block methods, any bits for the others.
      const float f = 0.5f * static_cast<float>((i * (slot + 3)) % 1000);
      std::memcpy(&v[i], &f, 4);
    }
    storeChannel(g, slot, slot % 5, v.data());
    expected[slot] = v;
  }
}

void readEverything(PGroup& g, int n, const std::vector<std::vector<uint32_t>>& expected, int start, int* mismatches) {
  uint32_t out[3];
  for (int k = 0; k < 32; ++k) {
    const int slot = (start + k) % 32;
    const int words = PGroup::wordsPerParticle(slot);
    if (words == 0) continue;
    for (int i = 0; i < n; ++i) {
      if (!g.getParticleValue(i, slot, out) || std::memcmp(out, &expected[slot][i * words], words * 4) != 0) {
        ++*mismatches;
      }
    }
  }
}

void runReaders(bool withPool) {
  ZUtils::ThreadManager* pool = nullptr;
  if (withPool) {
    pool = ZUtils::createPoolThreadManager();
    ASSERT_NE(pool, nullptr);
    OSTUtils::RegisterThreadManager(pool);
  }
  const int n = 2000;
  // The group (and with it the compressors whose jobs occupy pool threads) must go before
  // the pool, or the pool's shutdown waits out its timeout on every busy worker.
  {
  PGroup g;
  std::vector<std::vector<uint32_t>> expected;
  fillAllSlots(g, n, expected);
  ReportCapture capture;
  const int threads = 6;
  std::vector<int> mismatches(threads, 0);
  std::vector<std::thread> readers;
  for (int t = 0; t < threads; ++t) {
    readers.emplace_back([&, t] { readEverything(g, n, expected, t * 5, &mismatches[t]); });
  }
  for (auto& r : readers) r.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
  // A second expansion would have found no stored bytes and said so; a failed one would
  // have reported its method.
  EXPECT_EQ(capture.text(), "");
  for (int slot = 0; slot < 32; ++slot) {
    if (PGroup::wordsPerParticle(slot) == 0) continue;
    EXPECT_EQ(g.channels[slot].stored.size, 0) << slot;
    EXPECT_EQ(g.channels[slot].expanded.size, int64_t(n) * PGroup::wordsPerParticle(slot) * 4) << slot;
  }
  }
  if (pool) {
    OSTUtils::UnregisterLastThreadManager();
    ZUtils::destroyPoolThreadManager(pool);
  }
}

}  // namespace

TEST(PGroupConcurrency, ReadersSeeOneExpansionPerChannel) { runReaders(false); }

TEST(PGroupConcurrency, ReadersWithPooledDecoding) { runReaders(true); }

TEST(PGroupConcurrency, ConcurrentIdLookups) {
  const int n = 3000;
  std::vector<int64_t> ids(n);
  for (int i = 0; i < n; ++i) ids[i] = (static_cast<int64_t>(i) * 7919) % n - 100;
  PGroup g;
  g.particleCount = n;
  storeChannel(g, 10, 4, ids.data());
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      for (int i = t; i < n; i += 2)
        if (g.findParticleById(ids[i]) != i) ++wrong[t];
    });
  }
  for (auto& r : readers) r.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0);
}
