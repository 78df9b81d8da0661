// Zones decoded and compressed on several pool threads give the same bytes and values as
// the inline run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "compress/GridBlockWriter.h"
#include "compress/SGCompressor.h"
#include "ostutils/OstParallel.h"
#include "support/ReportCapture.h"
#include "zutils/ThreadPool.h"

namespace {

using namespace OSTUtils;

std::vector<float> wave(int64_t n) {
  std::vector<float> v(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) v[static_cast<size_t>(i)] = std::sin(static_cast<float>(i) * 0.001f) * (i % 3000 < 1500);
  return v;
}

TEST(SGCompressorJobs, ZonesOnPoolThreadsMatchTheInlineRun) {
  ReportCapture capture;
  const int64_t n = 300000;
  const std::vector<float> v = wave(n);
  GridBlockOptions opt = defaultGridBlockOptions();
  opt.zoneLength = 7000;
  OstArray<char, int64_t> inlineBlock;
  ASSERT_TRUE(WriteGridBlock1D(v.data(), n, opt, inlineBlock));
  std::vector<float> inlineOut(static_cast<size_t>(n), -1.0f);
  {
    SGCompressor<1> c;
    ASSERT_TRUE(c.DecompressBlock(inlineBlock.data, inlineBlock.size, inlineOut.data(), n));
    EXPECT_EQ(c.getJobCount(), 1);
  }

  ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
  ASSERT_NE(pool, nullptr);
  RegisterThreadManager(pool);
  {
    opt.threads = 4;
    OstArray<char, int64_t> threadedBlock;
    ASSERT_TRUE(WriteGridBlock1D(v.data(), n, opt, threadedBlock));
    ASSERT_EQ(threadedBlock.size, inlineBlock.size);
    EXPECT_EQ(std::memcmp(threadedBlock.data, inlineBlock.data, static_cast<size_t>(inlineBlock.size)), 0);

    SGCompressor<1> c(4);
    for (int round = 0; round < 3; ++round) {
      std::vector<float> out(static_cast<size_t>(n), -1.0f);
      ASSERT_TRUE(c.DecompressBlock(threadedBlock.data, threadedBlock.size, out.data(), n));
      EXPECT_EQ(c.getJobCount(), 4);
      EXPECT_EQ(std::memcmp(out.data(), inlineOut.data(), static_cast<size_t>(n) * 4), 0) << round;
    }
  }
  UnregisterLastThreadManager();
  ZUtils::destroyPoolThreadManager(pool);
}

}  // namespace
