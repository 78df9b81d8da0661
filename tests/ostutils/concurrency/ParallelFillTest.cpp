#include <gtest/gtest.h>

#include <vector>

#include "ostutils/OstParallel.h"
#include "ostutils/ParallelFill.h"
#include "zutils/ThreadPool.h"

namespace {

// Every element of [0, count) and nothing beyond it: the pieces of the jobs must meet
// exactly, with none missing and none overrunning.
void expectFilled(const std::vector<float>& v, int64_t count, float value, float guard) {
  int64_t wrong = 0;
  for (int64_t i = 0; i < count; ++i) wrong += v[i] != value;
  EXPECT_EQ(wrong, 0);
  for (size_t i = count; i < v.size(); ++i) EXPECT_EQ(v[i], guard);
}

}  // namespace

TEST(ParallelFill, InlineWithoutManager) {
  std::vector<float> v(1000, 7.0f);
  OSTUtils::ParallelFill(v.data(), 999, 0.0f);
  expectFilled(v, 999, 0.0f, 7.0f);
  OSTUtils::ParallelFill(nullptr, 10, 1.0f);  // nothing to do, no crash
  OSTUtils::ParallelFill(v.data(), -5, 1.0f);
  EXPECT_EQ(v[0], 0.0f);
}

TEST(ParallelFill, SplitsLargeBuffersOverThePool) {
  ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
  ASSERT_NE(pool, nullptr);
  OSTUtils::RegisterThreadManager(pool);
  const int64_t count = (int64_t(1) << 21) + 13;  // above the inline threshold, odd split
  std::vector<float> v(count + 5, -1.0f);
  OSTUtils::ParallelFill(v.data(), count, 2.5f);
  expectFilled(v, count, 2.5f, -1.0f);
  OSTUtils::UnregisterLastThreadManager();
  ZUtils::destroyPoolThreadManager(pool);
}
