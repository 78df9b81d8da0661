#include "ostutils/OstParallel.h"

#include <new>

#include "zutils/DefaultThreadCount.h"
#include "zutils/Report.h"
#include "zutils/ThreadReportCapture.h"
#include "zutils/platform/Event.h"
#include "zutils/platform/Thread.h"

namespace OSTUtils {

using ZUtils::platform::Event;

namespace {
const int kJobExitWaitMs = 100;
const int kDoneSliceMs = 10;
}  // namespace

Job::Job()
    : go(new (std::nothrow) Event(true)),
      done(new (std::nothrow) Event(false)),
      quit(new (std::nothrow) Event(false)),
      exited(new (std::nothrow) Event(false)) {}

Job::~Job() {
  delete next;
  next = nullptr;
  if (owner && owner->jobsOnThreads && quit && exited) {
    quit->set();
    if (!exited->wait(kJobExitWaitMs)) {
      ZUtils::logReport("#job of %s did not exit properly\n", owner->jobName ? owner->jobName : "");
      // The loop still holds this job: freeing it now would have that thread read freed
      // memory when it wakes. Every path out of the loop passes `quit`, so this ends.
      exited->wait(-1);
    }
  }
  delete go;
  delete done;
  delete quit;
  delete exited;
}

void Job::run(volatile int*, volatile int*, int threadIndex, int) {
  OstParallel* o = owner;
  if (o) {
    if (threadIndex >= 0 && threadIndex < o->threadHandles.size) {
      o->threadHandles.data[threadIndex] = ZUtils::platform::currentThreadIdentity();
    }
    if (o->startedCount.fetch_add(1) + 1 == o->jobCount) o->allStarted->set();
  }
  for (;;) {
    if (Event::waitEither(*go, *quit, -1) != 0) {
      exited->set();  // nothing of this job is touched after this: the owner may free it
      return;
    }
    go->reset();
    if (o) {
      ZUtils::ThreadReportCapture forward(o->runReports);
      WorkScope context(o->runContext);
      if (o->procHolder) {
        o->procHolder->call(this);
      } else {
        o->processJob(this);
      }
    }
    done->set();
  }
}

const char* Job::name() { return owner ? owner->getName() : "MTJobWithoutOwner"; }

OstParallel::OstParallel(ZUtils::ThreadManager* manager)
    : manager(manager), allStarted(new (std::nothrow) Event(false)) {}

OstParallel::~OstParallel() {
  threadHandles.Free();  // identities only on this platform: nothing to close
  deleteJobs();
  manager = nullptr;
  delete allStarted;
  allStarted = nullptr;
  delete procHolder;
  procHolder = nullptr;
}

void OstParallel::processJob(Job*) {}

const char* OstParallel::getName() { return "OstParallel"; }

bool OstParallel::isAborted() {
  if (__atomic_load_n(&abortFlag, __ATOMIC_RELAXED) != 0) return true;
  return progress && progress->abortCode() != 0;
}

Job* OstParallel::createJob() { return new (std::nothrow) Job; }

void OstParallel::reserved() {}

int OstParallel::defaultThreadCount() { return ZUtils::defaultThreadCount(); }

void OstParallel::deleteJobs() {
  delete firstJob;  // each job ends its pool thread's loop (see ~Job)
  firstJob = nullptr;
  jobsOnThreads = false;
}

void OstParallel::setupJobs(int threads, const void*, const void*) {
  if (!manager) manager = CurrentThreadManager();
  if (manager) {
    // Only -1 is documented as "default"; 0 or another negative would leave no job at all.
    if (threads < 1) threads = defaultThreadCount();
    if (threads < 1) threads = 1;
  } else {
    ZUtils::debugPrint("Using OstParallel without a thread manager. The code will run in single threaded mode\n");
    ZUtils::debugPrint("Please check the %s implementation.\n", getName());
    if (threads != -1) {
      ZUtils::debugPrint(
          "Using OstParallel without threadManager with 'threads' != -1!When the thread manager is missing "
          "'threads' value is FORCED to 1.This may BREAK YOUR code!\n");
    }
    threads = 1;
  }

  // Reuse only jobs that run the way they would be built now (threaded or inline).
  if (firstJob && jobCount == threads && jobsOnThreads == (manager != nullptr)) return;

  deleteJobs();
  jobName = getName();
  if (manager) manager->setLowPriority(1);
  if (!buildJobs(threads) && manager) {
    ZUtils::logReport("[ERROR] %s: could not start %d job threads, running single threaded\n", jobName, threads);
    manager = nullptr;
    buildJobs(1);
  }
}

bool OstParallel::buildJobs(int threads) {
  const bool threaded = manager != nullptr;
  threadHandles.SetSize(0);
  jobCount = 0;
  bool ok = !threaded || (allStarted != nullptr && threadHandles.SetSize(threads, nullptr, true));
  if (ok && threaded) {
    for (int i = 0; i < threads; ++i) threadHandles.data[i] = nullptr;
  }
  jobCount = ok ? threads : 0;

  Job** tail = &firstJob;
  for (int i = 0; ok && i < threads; ++i) {
    Job* job = createJob();
    if (!job || !job->go || !job->done || !job->quit || !job->exited) {
      delete job;
      ok = false;
      break;
    }
    job->owner = this;
    job->index = i;
    *tail = job;
    tail = &job->next;
  }

  if (ok && threaded) {
    jobsOnThreads = true;
    startedCount.store(0);
    int handed = 0;
    for (Job* job = firstJob; job; job = job->next, ++handed) {
      if (manager->runProcedure(job, handed) != 0) break;
    }
    if (handed == threads) {
      allStarted->wait(-1);
    } else {
      // The jobs that were handed over must be inside their loop before they can be told
      // to quit; the others never ran and are deleted without the exit handshake.
      while (startedCount.load() < handed) allStarted->wait(kDoneSliceMs);
      int i = 0;
      for (Job* job = firstJob; job; job = job->next, ++i) {
        if (i >= handed) job->owner = nullptr;
      }
      ok = false;
    }
    startedCount.store(0);
    allStarted->reset();
  }

  if (!ok) {
    deleteJobs();
    threadHandles.SetSize(0);
    jobCount = 0;
    if (!threaded) ZUtils::logReport("[ERROR] %s: could not allocate its job\n", getName());
  }
  return ok;
}

void OstParallel::setRange(int64_t total) {
  if (!firstJob) setupJobs(-1);
  if (total < 0) total = 0;
  const int64_t n = jobCount;
  if (n <= 0) return;
  // total * i / n without the 64-bit overflow of the product: total = q*n + r.
  const int64_t q = total / n;
  const int64_t r = total % n;
  int64_t previous = 0;
  int64_t i = 1;
  for (Job* job = firstJob; job; job = job->next, ++i) {
    job->begin = previous;
    job->end = i >= n ? total : q * i + r * i / n;
    job->count = job->end - job->begin;
    previous = job->end;
  }
}

void OstParallel::runJobs(int op, ZUtils::ThreadProgress* progress) { run(false, op, progress); }

void OstParallel::runWithHolder(ZUtils::ThreadProgress* progress) { run(true, 0, progress); }

void OstParallel::setHolder(TMTJobProcHolderInterface* holder) {
  if (holder == procHolder) return;
  delete procHolder;
  procHolder = holder;
}

void OstParallel::run(bool withHolder, int op, ZUtils::ThreadProgress* progressObject) {
  if (!withHolder) {
    delete procHolder;
    procHolder = nullptr;
  }
  progress = progressObject;
  startedCount.store(0);
  progressCounter.store(0);
  abortFlag = 0;

  if (!jobsOnThreads) {
    for (Job* job = firstJob; job; job = job->next) {
      if (!withHolder) job->op = op;
      if (withHolder && procHolder) {
        procHolder->call(job);
      } else {
        processJob(job);
      }
    }
    return;
  }

  runReports = ZUtils::currentThreadReportCapture();
  runContext = currentWorkContext();
  for (Job* job = firstJob; job; job = job->next) {
    if (!withHolder) job->op = op;
    job->done->reset();
    job->go->set();
  }
  for (Job* job = firstJob; job; job = job->next) {
    while (!job->done->wait(kDoneSliceMs)) {
      if (progress) progress->progress(progressCounter.load());
    }
  }
}

}  // namespace OSTUtils
