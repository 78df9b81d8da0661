// nebloader thread-manager interfaces: the pool of worker threads a host may hand to the
// library, what it runs and how it reports progress. Part of the binary interface of
// libnebloader; hosts include it through nebloader.h. The library's own pool
// (zutils/ThreadPool.h) implements ThreadManager, so it lives with it.
//
// The order of the virtual operations of each class is part of the interface: hosts
// compiled against an older copy call them by slot, so never reorder, insert or remove one.
#ifndef NEBLOADER_THREADS_H
#define NEBLOADER_THREADS_H

namespace ZUtils {

// Progress object a host may hand to a thread manager run. Only these calls are made.
class ThreadProgress {
 public:
  virtual void log(int level, int timeoutMs, const char* text) = 0;
  virtual void begin() = 0;
  virtual void end() = 0;
  virtual void progress(int value) = 0;
  // Non-zero asks running work to stop; the value is returned by runOnThreads.
  virtual int abortCode() = 0;
  // Whether waits should keep the caller's window messages flowing, and the pump itself.
  // Platforms without a message queue never pump.
  virtual bool wantsMessagePump() = 0;
  virtual void pumpMessages() = 0;
  virtual ~ThreadProgress() {}
};

// What a pool thread runs. runOnThreads calls run(status, progress, index, count) on every
// thread of the batch; runProcedure calls run(nullptr, nullptr, parameter, 1) once.
class ThreadProcedure {
 public:
  ThreadProcedure() : progressBase(0), statusCell(0) {}
  virtual void run(volatile int* status, volatile int* progress, int index, int count) = 0;
  // Name given to the thread while it runs this procedure, or null.
  virtual const char* name() = 0;
  virtual ~ThreadProcedure() {}

  int progressBase;  // zeroed at the start of runOnThreads
  int statusCell;    // shared status of a runOnThreads batch; non-zero = abort
};

// A pool of worker threads. Hosts may pass their own implementation to
// initalizeNebuLoader, or use createDefaultThreadManager.
class ThreadManager {
 public:
  virtual void terminateThreads(bool force) = 0;
  // Runs `procedure` on `count` threads (0: the default thread count) and waits; returns
  // the status cell.
  virtual int runOnThreads(int count, ThreadProcedure* procedure, ThreadProgress* progress, bool reportProgress) = 0;
  virtual void setLowPriority(int flag) = 0;
  // Runs `procedure` once on a pool thread without waiting; returns 0.
  virtual int runProcedure(ThreadProcedure* procedure, int parameter) = 0;
  virtual void setStackSize(int bytes) = 0;
  // Index of the calling pool thread in its batch, -1 outside the pool.
  virtual int currentThreadIndex() = 0;
  virtual ~ThreadManager() {}
};

}  // namespace ZUtils

#endif  // NEBLOADER_THREADS_H
