// The job runner on a real worker pool: pieces on distinct threads, the same results as
// inline, reuse of jobs and threads, the holder path, and the fall-back when the pool
// cannot take every job.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ostutils/MemoryLimit.h"
#include "ostutils/OstParallel.h"
#include "support/ReportCapture.h"
#include "zutils/Report.h"
#include "zutils/ThreadPool.h"
#include "zutils/ThreadReportCapture.h"

namespace {

using OSTUtils::Job;
using OSTUtils::OstParallel;

// Sums f(i) over its piece into a per-job slot and notes the thread of every piece.
class SumJob : public OstParallel {
 public:
  explicit SumJob(ZUtils::ThreadManager* m = nullptr) : OstParallel(m) {}
  const char* getName() override { return "MTSumJob"; }
  void processJob(Job* job) override {
    uint64_t s = 0;
    for (int64_t i = job->begin; i < job->end; ++i) s += static_cast<uint64_t>(i * i) ^ static_cast<uint64_t>(job->op);
    sums[job->index] = s;
    threads[job->index] = std::this_thread::get_id();
    progressCounter.fetch_add(static_cast<int>(job->count));
  }
  void viaHolder(Job* job) { sums[job->index] = static_cast<uint64_t>(job->end) * 1000 + job->index; }
  uint64_t sums[16] = {};
  std::thread::id threads[16] = {};
};

struct Pool {
  Pool() : manager(ZUtils::createPoolThreadManager()) {}
  ~Pool() { ZUtils::destroyPoolThreadManager(manager); }
  ZUtils::ThreadManager* manager;
};

TEST(OstParallelThreads, PiecesRunOnDistinctThreadsWithInlineResults) {
  ReportCapture capture;
  SumJob inlineRun;
  inlineRun.setupJobs(-1);
  inlineRun.setRange(100001);
  inlineRun.runJobs(7);

  Pool pool;
  {
    SumJob threaded(pool.manager);
    threaded.setupJobs(4);
    ASSERT_EQ(threaded.getJobCount(), 4);
    ASSERT_EQ(threaded.threadHandles.size, 4);
    for (int i = 0; i < 4; ++i) EXPECT_NE(threaded.threadHandles.data[i], nullptr);
    threaded.setRange(100001);
    threaded.runJobs(7);
    uint64_t total = 0;
    std::set<std::thread::id> distinct;
    for (int i = 0; i < 4; ++i) {
      total += threaded.sums[i];
      distinct.insert(threaded.threads[i]);
      EXPECT_NE(threaded.threads[i], std::this_thread::get_id());
    }
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_EQ(total, inlineRun.sums[0]);
    EXPECT_EQ(threaded.progressCounter.load(), 100001);

    // A second run on the same jobs lands on the same threads.
    std::thread::id before[4];
    for (int i = 0; i < 4; ++i) before[i] = threaded.threads[i];
    threaded.runJobs(7);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(before[i], threaded.threads[i]);
  }
  // Every job thread left its loop in time.
  EXPECT_EQ(capture.text().find("did not exit properly"), std::string::npos);
}

// Reports made by the jobs reach the capture of the thread that ran them, and only for the
// length of that run.
TEST(OstParallelThreads, JobReportsReachTheCallersCapture) {
  ReportCapture capture;
  class Reporting : public OstParallel {
   public:
    using OstParallel::OstParallel;
    void processJob(Job* job) override { ZUtils::logReport("job %d, run %d\n", job->index, job->op); }
  };
  Pool pool;
  Reporting jobs(pool.manager);
  jobs.setupJobs(3);
  std::string first, second;
  {
    ZUtils::ThreadReportCapture caller(&first);
    jobs.runJobs(1);
  }
  jobs.runJobs(2);  // no capture on the calling thread: nothing forwarded
  {
    ZUtils::ThreadReportCapture caller(&second);
    jobs.runJobs(3);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(first.find("job " + std::to_string(i) + ", run 1\n"), std::string::npos) << first;
    EXPECT_NE(second.find("job " + std::to_string(i) + ", run 3\n"), std::string::npos) << second;
  }
  EXPECT_EQ(first.find("run 2"), std::string::npos);
  EXPECT_EQ(second.find("run 2"), std::string::npos);
}

// A budget refusal on a pool thread counts in the work context of the thread that ran the
// jobs, for that run only: a front tells a refused decode from a damaged one by it.
TEST(OstParallelThreads, JobRefusalsCountInTheCallersContext) {
  ReportCapture capture;
  class Refused : public OstParallel {
   public:
    using OstParallel::OstParallel;
    void processJob(Job* job) override {
      if (job->op != 0 && OSTUtils::reserveMemory(UINT64_MAX)) OSTUtils::releaseMemory(UINT64_MAX);
    }
  };
  Pool pool;
  Refused jobs(pool.manager);
  jobs.setupJobs(3);
  OSTUtils::WorkContext context, other;
  {
    OSTUtils::WorkScope scope(&context);
    jobs.runJobs(1);
    jobs.runJobs(0);
  }
  {
    OSTUtils::WorkScope scope(&other);
    jobs.runJobs(0);
  }
  jobs.runJobs(1);  // no context on the calling thread: counted nowhere
  EXPECT_EQ(context.refusals.load(), 3u);
  EXPECT_EQ(other.refusals.load(), 0u);
  EXPECT_EQ(OSTUtils::currentWorkContext(), nullptr);
}

TEST(OstParallelThreads, SameCountKeepsJobsAndThreadsAnotherCountRebuilds) {
  ReportCapture capture;
  Pool pool;
  auto* workers = static_cast<ZUtils::PosixThreadManager*>(pool.manager);
  SumJob p(pool.manager);
  p.setupJobs(3);
  Job* first = p.getFirstJob();
  EXPECT_EQ(workers->workerCount(), 3);
  p.setupJobs(3);
  EXPECT_EQ(p.getFirstJob(), first);
  EXPECT_EQ(workers->workerCount(), 3);
  // The old jobs leave their loops; new jobs take idle workers or start new ones.
  p.setupJobs(2);
  EXPECT_EQ(p.getJobCount(), 2);
  EXPECT_LE(workers->workerCount(), 5);
  p.setRange(10);
  p.runJobs(0);
  EXPECT_NE(p.threads[0], p.threads[1]);
}

TEST(OstParallelThreads, HolderPathRunsTheMemberOnEveryJob) {
  ReportCapture capture;
  Pool pool;
  SumJob p(pool.manager);
  p.setupJobs(3);
  p.setRange(9);
  p.setHolder(new OSTUtils::TMTJobProcHolder<SumJob>(&p, &SumJob::viaHolder));
  p.runWithHolder();
  EXPECT_EQ(p.sums[0], 3000u);
  EXPECT_EQ(p.sums[1], 6001u);
  EXPECT_EQ(p.sums[2], 9002u);
}

TEST(OstParallelThreads, RegisteredManagerIsTakenAndInlineJobsAreRebuiltOnThreads) {
  ReportCapture capture;
  Pool pool;  // outlives the job, whose thread it lends
  SumJob p;
  p.setupJobs(1);  // no manager yet: inline
  p.setRange(5);
  p.runJobs(0);
  EXPECT_EQ(p.threads[0], std::this_thread::get_id());

  OSTUtils::RegisterThreadManager(pool.manager);
  p.setupJobs(1);  // same count, but the jobs must now live on a pool thread
  OSTUtils::UnregisterLastThreadManager();
  EXPECT_EQ(p.getManager(), pool.manager);
  p.setRange(5);
  p.runJobs(0);
  EXPECT_NE(p.threads[0], std::this_thread::get_id());
}

class Progress : public ZUtils::ThreadProgress {
 public:
  void log(int, int, const char*) override {}
  void begin() override {}
  void end() override {}
  void progress(int value) override { last = value; ++calls; }
  int abortCode() override { return abort; }
  bool wantsMessagePump() override { return false; }
  void pumpMessages() override {}
  int last = -1;
  int calls = 0;
  std::atomic<int> abort{0};
};

class SlowJob : public OstParallel {
 public:
  using OstParallel::OstParallel;
  void processJob(Job* job) override {
    progressCounter.fetch_add(1);
    if (job->index == 0) {
      while (!isAborted()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      sawAbort = true;
    }
  }
  std::atomic<bool> sawAbort{false};
};

TEST(OstParallelThreads, WaitReportsProgressAndJobsSeeTheAbort) {
  ReportCapture capture;
  Pool pool;
  SlowJob p(pool.manager);
  p.setupJobs(2);
  p.setRange(2);
  Progress progress;
  // The waiting caller reports progress every 10 ms; a little later, abort.
  std::thread aborter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    progress.abort.store(3);
  });
  p.runJobs(0, &progress);
  aborter.join();
  EXPECT_TRUE(p.sawAbort.load());
  EXPECT_GT(progress.calls, 0);
  EXPECT_EQ(progress.last, 2);
}

// Takes the first `accept` jobs onto a real pool and refuses the rest.
class RefusingManager : public ZUtils::ThreadManager {
 public:
  RefusingManager(ZUtils::ThreadManager* real, int accept) : real(real), accept(accept) {}
  void terminateThreads(bool force) override { real->terminateThreads(force); }
  int runOnThreads(int c, ZUtils::ThreadProcedure* p, ZUtils::ThreadProgress* pr, bool r) override {
    return real->runOnThreads(c, p, pr, r);
  }
  void setLowPriority(int flag) override { real->setLowPriority(flag); }
  int runProcedure(ZUtils::ThreadProcedure* p, int parameter) override {
    if (accept-- <= 0) return -1;
    return real->runProcedure(p, parameter);
  }
  void setStackSize(int b) override { real->setStackSize(b); }
  int currentThreadIndex() override { return real->currentThreadIndex(); }
  ZUtils::ThreadManager* real;
  int accept;
};

TEST(OstParallelThreads, PoolRefusingJobsFallsBackToOneInlineJob) {
  ReportCapture capture;
  Pool pool;
  RefusingManager refusing(pool.manager, 2);
  SumJob p(&refusing);
  p.setupJobs(4);
  EXPECT_NE(capture.text().find("[ERROR] MTSumJob: could not start 4 job threads"), std::string::npos);
  ASSERT_EQ(p.getJobCount(), 1);
  p.setRange(100001);
  p.runJobs(7);
  EXPECT_EQ(p.threads[0], std::this_thread::get_id());
  SumJob reference;
  reference.setRange(100001);
  reference.runJobs(7);
  EXPECT_EQ(p.sums[0], reference.sums[0]);
  // The two jobs that had started left their loops (their workers return to idle just
  // after, so a new job may or may not find them idle yet).
  SumJob again(pool.manager);
  again.setupJobs(2);
  EXPECT_LE(static_cast<ZUtils::PosixThreadManager*>(pool.manager)->workerCount(), 4);
}

}  // namespace
