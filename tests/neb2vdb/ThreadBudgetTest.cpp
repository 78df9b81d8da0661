// How neb2vdb divides its threads between the frames in flight.
#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "tools/neb2vdb/ThreadBudget.h"
#include "zutils/DefaultThreadCount.h"

using Neb2Vdb::ThreadBudget;

namespace {

size_t tbbLimit() { return tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism); }

}  // namespace

TEST(Neb2VdbThreadBudget, SharesTheThreadsAndHandsOnThoseOfEndedJobs) {
  struct Case {
    int threads, jobs, decode, tbb;
  } const cases[] = {
      {1, 1, 1, 1},  // --jobs 1: single-threaded throughout
      {2, 2, 1, 1},  // as many frames as threads: no TBB workers beside the job threads
      {2, 1, 2, 2},  // one frame (a single file): every thread for it
      {8, 3, 2, 6},  // memory allows fewer frames than cores
      {2, 5, 1, 1},  // more jobs than threads counts as one per thread
      {0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    const Neb2Vdb::ThreadShare s = Neb2Vdb::shareThreads(c.threads, c.jobs);
    EXPECT_EQ(s.decodeThreads, c.decode) << c.threads << " threads, " << c.jobs << " jobs";
    EXPECT_EQ(s.tbbThreads, c.tbb) << c.threads << " threads, " << c.jobs << " jobs";
  }

  const int environment = ZUtils::defaultThreadCount();
  const size_t tbbBefore = tbbLimit();
  {
    ThreadBudget budget(4, 4);
    EXPECT_EQ(ZUtils::defaultThreadCount(), 1);
    EXPECT_EQ(tbbLimit(), 1u);
    budget.jobEnded();
    budget.jobEnded();
    EXPECT_EQ(ZUtils::defaultThreadCount(), 2);
    EXPECT_EQ(tbbLimit(), 3u);
  }
  EXPECT_EQ(ZUtils::defaultThreadCount(), environment);
  EXPECT_EQ(tbbLimit(), tbbBefore);
}
