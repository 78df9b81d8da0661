// The job runner on the calling thread: piece boundaries, the no-manager warnings and job
// reuse. Threaded runs are in concurrency/.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ostutils/OstParallel.h"
#include "support/ReportCapture.h"
#include "zutils/platform/Event.h"

namespace {

using OSTUtils::Job;
using OSTUtils::OstParallel;

std::vector<std::pair<int64_t, int64_t>> pieces(OstParallel& p) {
  std::vector<std::pair<int64_t, int64_t>> out;
  for (Job* j = p.getFirstJob(); j; j = j->next) {
    EXPECT_EQ(j->count, j->end - j->begin);
    out.emplace_back(j->begin, j->end);
  }
  return out;
}

// Four jobs without a pool thread: buildable only with a manager, so these tests give one
// that is never asked to run anything but records the hand-over.
class RecordingManager : public ZUtils::ThreadManager {
 public:
  void terminateThreads(bool) override {}
  int runOnThreads(int, ZUtils::ThreadProcedure*, ZUtils::ThreadProgress*, bool) override { return -1; }
  void setLowPriority(int flag) override { lowPriority = flag; }
  int runProcedure(ZUtils::ThreadProcedure* procedure, int parameter) override {
    // Enters the job loop's start-up without staying in it: counts as started.
    Job* job = static_cast<Job*>(procedure);
    EXPECT_EQ(job->index, parameter);
    ++handed;
    if (job->owner->startedCount.fetch_add(1) + 1 == job->owner->jobCount) job->owner->allStarted->set();
    return 0;
  }
  void setStackSize(int) override {}
  int currentThreadIndex() override { return -1; }
  int handed = 0;
  int lowPriority = 0;
};

TEST(OstParallelRange, TenItemsOverFourJobs) {
  ReportCapture capture;
  RecordingManager manager;
  OstParallel p(&manager);
  p.setupJobs(4);
  ASSERT_EQ(p.getJobCount(), 4);
  EXPECT_EQ(manager.handed, 4);
  EXPECT_EQ(manager.lowPriority, 1);
  p.setRange(10);
  std::vector<std::pair<int64_t, int64_t>> want = {{0, 2}, {2, 5}, {5, 7}, {7, 10}};
  EXPECT_EQ(pieces(p), want);
  // Jobs that never entered a loop are let go without the exit handshake.
  for (Job* j = p.getFirstJob(); j; j = j->next) j->owner = nullptr;
}

TEST(OstParallelRange, FewerItemsThanJobsGiveEmptyPieces) {
  ReportCapture capture;
  RecordingManager manager;
  OstParallel p(&manager);
  p.setupJobs(4);
  p.setRange(3);
  std::vector<std::pair<int64_t, int64_t>> want = {{0, 0}, {0, 1}, {1, 2}, {2, 3}};
  EXPECT_EQ(pieces(p), want);
  p.setRange(0);
  for (auto& piece : pieces(p)) EXPECT_EQ(piece, std::make_pair(int64_t(0), int64_t(0)));
  // Huge totals: no overflow of total * i, pieces contiguous and ending at total.
  const int64_t big = INT64_MAX - 3;
  p.setRange(big);
  auto got = pieces(p);
  EXPECT_EQ(got.front().first, 0);
  EXPECT_EQ(got.back().second, big);
  for (size_t i = 1; i < got.size(); ++i) {
    EXPECT_EQ(got[i].first, got[i - 1].second);
    EXPECT_LE(got[i].second - got[i].first - (got[i - 1].second - got[i - 1].first), 1);
  }
  for (Job* j = p.getFirstJob(); j; j = j->next) j->owner = nullptr;
}

TEST(OstParallelRange, SetRangeWithoutJobsSetsUpTheDefault) {
  ReportCapture capture;
  OstParallel p;
  p.setRange(7);
  ASSERT_EQ(p.getJobCount(), 1);
  EXPECT_EQ(pieces(p), (std::vector<std::pair<int64_t, int64_t>>{{0, 7}}));
}

const char* kWarn1 = "Using OstParallel without a thread manager. The code will run in single threaded mode\n";
const char* kWarn3 =
    "Using OstParallel without threadManager with 'threads' != -1!When the thread manager is missing 'threads' "
    "value is FORCED to 1.This may BREAK YOUR code!\n";

class Named : public OstParallel {
 public:
  const char* getName() override { return "MTNamedJob"; }
  void processJob(Job* job) override {
    calls.push_back(job->op);
    items += job->count;
  }
  std::vector<int> calls;
  int64_t items = 0;
};

TEST(OstParallelWithoutManager, DefaultCountPrintsTwoWarnings) {
  ReportCapture capture;
  Named p;
  p.setupJobs(-1);
  EXPECT_EQ(capture.debugText(), std::string(kWarn1) + "Please check the MTNamedJob implementation.\n");
  EXPECT_EQ(p.getJobCount(), 1);
  EXPECT_EQ(p.threadHandles.size, 0);
  EXPECT_EQ(p.getManager(), nullptr);
}

TEST(OstParallelWithoutManager, ExplicitCountPrintsThreeWarningsAndRunsInline) {
  ReportCapture capture;
  Named p;
  p.setupJobs(4);
  EXPECT_EQ(capture.debugText(), std::string(kWarn1) + "Please check the MTNamedJob implementation.\n" + kWarn3);
  ASSERT_EQ(p.getJobCount(), 1);
  p.setRange(100);
  p.runJobs(3);
  p.runJobs(5);
  EXPECT_EQ(p.calls, (std::vector<int>{3, 5}));
  EXPECT_EQ(p.items, 200);
}

TEST(OstParallelWithoutManager, SameCountKeepsTheJobs) {
  ReportCapture capture;
  Named p;
  p.setupJobs(-1);
  Job* first = p.getFirstJob();
  p.setupJobs(1);
  EXPECT_EQ(p.getFirstJob(), first);
  EXPECT_EQ(capture.text().find("did not exit properly"), std::string::npos);
}

class Holder : public OstParallel {
 public:
  void processJob(Job*) override { ++viaProcess; }
  void viaMember(Job* job) { seen += job->count; }
  int viaProcess = 0;
  int64_t seen = 0;
};

TEST(OstParallelWithoutManager, HolderRunsTheMemberAndRunJobsDropsIt) {
  ReportCapture capture;
  Holder p;
  p.setRange(9);
  p.setHolder(new OSTUtils::TMTJobProcHolder<Holder>(&p, &Holder::viaMember));
  p.runWithHolder();
  EXPECT_EQ(p.seen, 9);
  EXPECT_EQ(p.viaProcess, 0);
  p.runJobs(0);
  EXPECT_EQ(p.procHolder, nullptr);
  EXPECT_EQ(p.viaProcess, 1);
  // A holder without an object does nothing.
  p.setHolder(new OSTUtils::TMTJobProcHolder<Holder>(nullptr, &Holder::viaMember));
  p.runWithHolder();
  EXPECT_EQ(p.seen, 9);
  EXPECT_EQ(p.viaProcess, 1);
}

TEST(OstParallelJob, NameFollowsTheOwner) {
  Job orphan;
  EXPECT_STREQ(orphan.name(), "MTJobWithoutOwner");
  EXPECT_EQ(orphan.count, 1);
  ReportCapture capture;
  Named p;
  p.setupJobs(-1);
  EXPECT_STREQ(p.getFirstJob()->name(), "MTNamedJob");
}

}  // namespace
