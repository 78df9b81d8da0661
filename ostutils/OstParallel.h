// OstParallel: runs one piece of work on the threads of a thread manager.
//
// A range of items 0 .. total-1 is cut into one contiguous piece per job (setRange); each
// job lives on its own pool thread for the whole life of the OstParallel and runs
// processJob (or a holder's member function) on its piece when asked; the caller waits
// for all pieces. Without a thread manager (none given and none registered) there is one
// job and every piece runs inline on the calling thread.
//
// Usage: construct; setupJobs(-1); setRange(total); [install a holder]; runJobs(op) or
// runWithHolder(); read the results the jobs left in the object; destroy.
// A job body processes items job->begin .. job->end - 1 (a piece may be empty). Pieces
// must not share writable state except through atomics or per-job results.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "nebloader_threads.h"
#include "ostutils/OstArray.h"

namespace ZUtils {
namespace platform {
class Event;
}
}  // namespace ZUtils

namespace OSTUtils {

class OstParallel;

class Job : public ZUtils::ThreadProcedure {
 public:
  Job();
  ~Job() override;

  // The job loop on a pool thread (the manager's runProcedure parameter is the index).
  void run(volatile int* status, volatile int* progress, int index, int count) override;
  const char* name() override;

  int64_t begin = 0;
  int64_t count = 1;
  int64_t end = 0;
  int op = 0;     // operation code of the current run
  int index = 0;  // thread index of this job
  OstParallel* owner = nullptr;
  Job* next = nullptr;  // owned

  ZUtils::platform::Event* go = nullptr;  // manual reset
  ZUtils::platform::Event* done = nullptr;
  ZUtils::platform::Event* quit = nullptr;
  ZUtils::platform::Event* exited = nullptr;
};

class TMTJobProcHolderInterface {
 public:
  virtual ~TMTJobProcHolderInterface() {}
  virtual void call(Job* job) = 0;
};

// Lets a class run one of its member functions on every job instead of processJob.
template <class T>
class TMTJobProcHolder : public TMTJobProcHolderInterface {
 public:
  typedef void (T::*Routine)(Job* job);
  TMTJobProcHolder(T* object, Routine routine) : object(object), routine(routine) {}
  void call(Job* job) override {
    if (object) (object->*routine)(job);
  }
  T* object;
  Routine routine;
};

class OstParallel {
 public:
  explicit OstParallel(ZUtils::ThreadManager* manager = nullptr);
  virtual ~OstParallel();

  // The work of one piece; empty here, overridden by every job class.
  virtual void processJob(Job* job);
  virtual const char* getName();
  virtual bool isAborted();
  virtual Job* createJob();
  virtual void reserved();
  virtual int defaultThreadCount();

  // Prepares the jobs: threads = -1 asks for the default count. The two layout arguments
  // are accepted for compatibility and ignored. A second call with the same count keeps
  // the jobs and their threads.
  void setupJobs(int threads, const void* numaLayout = nullptr, const void* nodeSelection = nullptr);
  // Splits 0 .. total-1 among the jobs: job i (1-based) ends at total * i / jobCount, the
  // last one exactly at total.
  void setRange(int64_t total);
  // Discards any holder, runs processJob on every job with `op`, waits.
  void runJobs(int op, ZUtils::ThreadProgress* progress = nullptr);
  // Runs the installed holder's call on every job, waits.
  void runWithHolder(ZUtils::ThreadProgress* progress = nullptr);
  // Replaces the holder (the old one is deleted); takes ownership.
  void setHolder(TMTJobProcHolderInterface* holder);

  int getJobCount() const { return jobCount; }
  Job* getFirstJob() const { return firstJob; }
  ZUtils::ThreadManager* getManager() const { return manager; }

  std::atomic<int> progressCounter{0};
  int jobCount = 0;
  TMTJobProcHolderInterface* procHolder = nullptr;
  ZUtils::ThreadProgress* progress = nullptr;
  int abortFlag = 0;
  const char* jobName = nullptr;
  Job* firstJob = nullptr;
  OstArray<void*, int> threadHandles;
  ZUtils::ThreadManager* manager = nullptr;
  std::atomic<int> startedCount{0};
  ZUtils::platform::Event* allStarted = nullptr;

 private:
  void run(bool withHolder, int op, ZUtils::ThreadProgress* progress);
  // Creates `threads` jobs and, with a manager, hands each to a pool thread; false (and
  // no jobs) when that failed part-way.
  bool buildJobs(int threads);
  void deleteJobs();
  // Whether the current jobs live on pool threads (else they run inline). Kept apart from
  // `manager`, which a later setupJobs may pick up while inline jobs still exist.
  bool jobsOnThreads = false;
  // The report capture of the thread that runs the jobs (zutils/ThreadReportCapture.h),
  // installed on the pool threads for the run: a tool that ties reports to the frame whose
  // decode made them gets the messages of the zones its jobs decoded too. Appends to it
  // happen under the report lock; the caller only reads it after the run.
  std::string* runReports = nullptr;
  // The same for the caller's work context (MemoryLimit.h).
  WorkContext* runContext = nullptr;
  friend class Job;
};

// Process-wide stack of registered thread managers; the last one is current. An
// OstParallel without a manager of its own takes the current one at setupJobs.
void RegisterThreadManager(ZUtils::ThreadManager* manager);
void UnregisterLastThreadManager();
ZUtils::ThreadManager* CurrentThreadManager();

}  // namespace OSTUtils
