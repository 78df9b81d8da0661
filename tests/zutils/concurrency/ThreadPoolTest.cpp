// The worker pool: batches on distinct threads, reuse of idle workers, thread index,
// progress object calls, abort codes, single procedures, priority, stack size and the
// bounded termination of a blocked worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ReportCapture.h"
#include "support/ThreadInfo.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/ThreadPool.h"
#include "zutils/platform/Event.h"

namespace {

using ZUtils::PosixThreadManager;
using ZUtils::ThreadProcedure;
using ZUtils::platform::Event;

// Records who ran which index, and what the pool said about the thread.
class Recorder : public ThreadProcedure {
 public:
  explicit Recorder(PosixThreadManager* m) : manager(m) {}
  void run(volatile int* status, volatile int* progress, int index, int count) override {
    std::lock_guard<std::mutex> lock(mutex);
    ran.push_back(index);
    counts.insert(count);
    threads.insert(std::this_thread::get_id());
    indexOk = indexOk && manager->currentThreadIndex() == index;
    statusOk = statusOk && status == &statusCell && progress != nullptr;
  }
  const char* name() override { return nullptr; }
  PosixThreadManager* manager;
  std::mutex mutex;
  std::vector<int> ran;
  std::set<int> counts;
  std::set<std::thread::id> threads;
  bool indexOk = true;
  bool statusOk = true;
};

TEST(ThreadPool, BatchRunsEveryIndexOnItsOwnThreadAndReusesIdleWorkers) {
  ReportCapture capture;
  PosixThreadManager pool;
  Recorder first(&pool);
  EXPECT_EQ(pool.runOnThreads(12, &first, nullptr, false), 0);  // more than one list block
  std::sort(first.ran.begin(), first.ran.end());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(first.ran[i], i);
  EXPECT_EQ(first.counts, std::set<int>{12});
  EXPECT_EQ(first.threads.size(), 12u);
  EXPECT_TRUE(first.indexOk);
  EXPECT_TRUE(first.statusOk);
  EXPECT_EQ(pool.workerCount(), 12);

  Recorder second(&pool);
  EXPECT_EQ(pool.runOnThreads(12, &second, nullptr, false), 0);
  EXPECT_EQ(pool.workerCount(), 12);
  EXPECT_EQ(second.threads, first.threads);
  EXPECT_EQ(pool.currentThreadIndex(), -1);
}

TEST(ThreadPool, CountZeroUsesTheDefaultAndOtherPoolsSeeNoIndex) {
  ReportCapture capture;
  PosixThreadManager pool;
  PosixThreadManager other;
  struct Probe : ThreadProcedure {
    void run(volatile int*, volatile int*, int, int) override { foreign = other->currentThreadIndex(); ++n; }
    const char* name() override { return nullptr; }
    PosixThreadManager* other = nullptr;
    std::atomic<int> foreign{0};
    std::atomic<int> n{0};
  } probe;
  probe.other = &other;
  EXPECT_EQ(pool.runOnThreads(0, &probe, nullptr, false), 0);
  EXPECT_EQ(probe.n.load(), ZUtils::defaultThreadCount());
  EXPECT_EQ(probe.foreign.load(), -1);
}

class ScriptedProgress : public ZUtils::ThreadProgress {
 public:
  void log(int level, int timeoutMs, const char* text) override {
    trace += "log(" + std::to_string(level) + "," + std::to_string(timeoutMs) + "," + text + ")";
  }
  void begin() override {
    trace += "begin;";
    if (procedure && beginCode) procedure->statusCell = beginCode;
  }
  void end() override { trace += "end;"; }
  void progress(int value) override { lastProgress.store(value); }
  int abortCode() override { return abort.load(); }
  bool wantsMessagePump() override { return true; }
  void pumpMessages() override { ++pumps; }
  std::string trace;
  ThreadProcedure* procedure = nullptr;
  int beginCode = 0;
  std::atomic<int> lastProgress{-1};
  std::atomic<int> abort{0};
  int pumps = 0;
};

TEST(ThreadPool, ProgressObjectCallsAndSummedProgress) {
  ReportCapture capture;
  PosixThreadManager pool;
  ScriptedProgress progress;
  // Each thread reports 5 and waits until the caller has summed all three (base 100). The
  // base is set by thread 0 once running, that is after the call has zeroed it, so no
  // timing decides which of the two comes last. The wait ends when the caller's 200 ms
  // poll has seen the sum; its bound only keeps a broken pool from hanging the test.
  struct Reporter : ThreadProcedure {
    void run(volatile int*, volatile int* progress, int index, int) override {
      if (index == 0) {
        baseAtStart = __atomic_load_n(&progressBase, __ATOMIC_RELAXED);
        __atomic_store_n(&progressBase, 100, __ATOMIC_RELAXED);
      }
      __atomic_store_n(const_cast<int*>(progress), 5, __ATOMIC_RELAXED);
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (owner->lastProgress.load() != 115 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    const char* name() override { return nullptr; }
    ScriptedProgress* owner = nullptr;
    int baseAtStart = -1;
  } reporter;
  reporter.owner = &progress;
  reporter.progressBase = 77;  // zeroed by the call
  EXPECT_EQ(pool.runOnThreads(3, &reporter, &progress, true), 0);
  EXPECT_EQ(reporter.baseAtStart, 0);
  EXPECT_EQ(progress.lastProgress.load(), 115);
  EXPECT_EQ(progress.trace,
            "log(0,30000,Setting up 3 thread(s)\n)begin;end;log(0,30000,Threads completed\n)");
  EXPECT_EQ(progress.pumps, 0);  // no message queue here
}

TEST(ThreadPool, AbortCodeReachesRunningThreadsAndIsReturned) {
  ReportCapture capture;
  PosixThreadManager pool;
  ScriptedProgress progress;
  struct Waiter : ThreadProcedure {
    void run(volatile int* status, volatile int*, int, int) override {
      ++started;
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (__atomic_load_n(const_cast<int*>(status), __ATOMIC_ACQUIRE) == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      seen = __atomic_load_n(const_cast<int*>(status), __ATOMIC_ACQUIRE);
    }
    const char* name() override { return nullptr; }
    std::atomic<int> started{0};
    std::atomic<int> seen{0};
  } waiter;
  std::thread aborter([&] {
    while (waiter.started.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    progress.abort.store(7);
  });
  EXPECT_EQ(pool.runOnThreads(2, &waiter, &progress, false), 7);
  aborter.join();
  EXPECT_EQ(waiter.seen.load(), 7);
}

TEST(ThreadPool, ThreadsSkipTheirPartOnceTheStatusIsSet) {
  ReportCapture capture;
  PosixThreadManager pool;
  Recorder recorder(&pool);
  ScriptedProgress progress;
  progress.procedure = &recorder;
  progress.beginCode = 9;  // set before any thread is given its part
  EXPECT_EQ(pool.runOnThreads(3, &recorder, &progress, false), 9);
  EXPECT_TRUE(recorder.ran.empty());
  // The next batch starts from a zeroed status.
  progress.beginCode = 0;
  EXPECT_EQ(pool.runOnThreads(3, &recorder, &progress, false), 0);
  EXPECT_EQ(recorder.ran.size(), 3u);
}

class Single : public ThreadProcedure {
 public:
  Single() : done(false), release(true, true) {}
  void run(volatile int* status, volatile int* progress, int parameter, int count) override {
    args = (status == nullptr && progress == nullptr && count == 1) ? parameter : -100;
    threadName = testsupport::currentThreadName();
    tid = testsupport::currentKernelThreadId();
    belowNormal = testsupport::currentThreadBelowNormal();
    stack = testsupport::currentThreadStackBytes();
    index = owner ? owner->currentThreadIndex() : -5;
    release.wait(-1);
    done.set();
  }
  const char* name() override { return "MTSingleProcedureName"; }
  Event done;
  Event release;
  PosixThreadManager* owner = nullptr;
  int args = -1;
  uint64_t tid = 0;
  bool belowNormal = false;
  int index = -1;
  size_t stack = 0;
  std::string threadName;
};

TEST(ThreadPool, RunProcedureRunsOnceNamedLowPriorityWithTheStackSize) {
  ReportCapture capture;
  PosixThreadManager pool;
  pool.setLowPriority(1);
  pool.setStackSize(3 << 20);
  Single single;
  single.owner = &pool;
  EXPECT_EQ(pool.runProcedure(&single, 42), 0);
  ASSERT_TRUE(single.done.wait(10000));
  EXPECT_EQ(single.args, 42);
  EXPECT_EQ(single.index, 42);
  EXPECT_EQ(single.threadName, std::string("MTSingleProcedureName").substr(0, 15));
  EXPECT_TRUE(single.belowNormal);
  EXPECT_GE(single.stack, size_t(3) << 20);
  EXPECT_EQ(pool.runProcedure(nullptr, 0), -1);
}

TEST(ThreadPool, TerminationMessagesInOrder) {
  ReportCapture capture;
  {
    PosixThreadManager pool;
    Recorder r(&pool);
    pool.runOnThreads(2, &r, nullptr, false);
  }
  const std::string text = capture.debugText();
  const char* order[] = {"[WinThreadManager] Constructor.\n", "[WinThreadManager] Destructor.\n",
                         "[WinThreadManager] Terminating 2 threads\n",
                         "[WinThreadManager] Waiting for QGL thread to finish...\n",
                         "[WinThreadManager] All threads terminated\n"};
  size_t at = 0;
  for (const char* m : order) {
    size_t found = text.find(m, at);
    ASSERT_NE(found, std::string::npos) << m;
    at = found;
  }
  EXPECT_NE(text.find("[WinThreadManager] Terminating thread 0\n"), std::string::npos);
  EXPECT_NE(text.find("[WinThreadManager] Terminating thread 1\n"), std::string::npos);
  EXPECT_NE(text.find("[WinThreadManager] Thread is terminating\n"), std::string::npos);
  EXPECT_EQ(text.find("did not terminate"), std::string::npos);
}

TEST(ThreadPool, BlockedWorkerIsAbandonedAfterTheTimeout) {
  ReportCapture capture;
  PosixThreadManager pool;
  Single blocked;
  blocked.release.reset();
  ASSERT_EQ(pool.runProcedure(&blocked, 1), 0);
  auto t0 = std::chrono::steady_clock::now();
  pool.terminateThreads(false);
  auto waited = std::chrono::steady_clock::now() - t0;
  // At least the 2000 ms of the timeout; the upper bound only tells a termination that
  // waited for the blocked worker itself (which never ends here) from one that gave up.
  EXPECT_GE(waited, std::chrono::milliseconds(1990));
  EXPECT_LT(waited, std::chrono::seconds(120));
  EXPECT_NE(capture.debugText().find("[WinThreadManager] Thread did not terminate for the timeout interval\n"),
            std::string::npos);
  EXPECT_EQ(pool.workerCount(), 0);

  // The pool goes on with fresh threads.
  Recorder r(&pool);
  EXPECT_EQ(pool.runOnThreads(2, &r, nullptr, false), 0);
  EXPECT_EQ(r.ran.size(), 2u);

  // The abandoned thread finishes its procedure, then its queued termination.
  blocked.release.set();
  ASSERT_TRUE(blocked.done.wait(10000));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (capture.debugText().find("[WinThreadManager] Terminating thread 1\n") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_NE(capture.debugText().find("[WinThreadManager] Terminating thread 1\n"), std::string::npos);
  // The abandoned thread is detached: wait until it has left the process, since its exit
  // path takes the loader's lock. LeakSanitizer's exit check holds that lock while it stops
  // every thread, and a thread still exiting then deadlocks the run. Its task entry goes
  // only after the exit itself.
  until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (testsupport::threadStillRunning(blocked.tid) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(testsupport::threadStillRunning(blocked.tid)) << "the abandoned thread is still running";
}

TEST(ThreadPool, FactoryFunctions) {
  ReportCapture capture;
  ZUtils::ThreadManager* m = ZUtils::createPoolThreadManager();
  ASSERT_NE(m, nullptr);
  Recorder r(static_cast<PosixThreadManager*>(m));
  EXPECT_EQ(m->runOnThreads(2, &r, nullptr, false), 0);
  ZUtils::destroyPoolThreadManager(m);
  ZUtils::destroyPoolThreadManager(nullptr);
}

}  // namespace
