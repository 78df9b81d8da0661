// PosixThreadManager: the library's own pool of worker threads (the ThreadManager that
// createDefaultThreadManager hands to hosts).
//
// Threads are started lazily by the first run operations and kept: a later request takes
// an idle worker before starting a new one. runOnThreads spreads its threads over the
// NUMA nodes of the process's processor set (when there is more than one node);
// QARN_USE_THREAD_AFFINITY=0 turns that off. terminateThreads waits at most 2000 ms per
// worker; a worker that does not stop in time is reported and abandoned (there is no safe
// way to kill a POSIX thread, so `force` cannot do more).
//
// Messages go to the debugger output (debugPrint) and keep the texts of the Windows pool
// this one mirrors ("[WinThreadManager] ...").
#pragma once

#include <atomic>
#include <cstdint>

#include "nebloader_threads.h"
#include "zutils/ThreadPoolSequence.h"
#include "zutils/platform/Affinity.h"
#include "zutils/platform/Lock.h"

namespace ZUtils {

class PosixThreadManager : public ThreadManager {
 public:
  PosixThreadManager();
  ~PosixThreadManager() override;

  void terminateThreads(bool force) override;
  // Returns the status cell: 0, the abort code of the progress object, or -1 when the
  // batch could not be set up completely (no thread or no memory; reported).
  int runOnThreads(int count, ThreadProcedure* procedure, ThreadProgress* progress, bool reportProgress) override;
  void setLowPriority(int flag) override;
  // 0 when a worker took the procedure, -1 when none could be started (reported).
  int runProcedure(ThreadProcedure* procedure, int parameter) override;
  void setStackSize(int bytes) override;
  int currentThreadIndex() override;

  // Number of workers in the list (idle, busy or starting).
  int workerCount();

  struct Worker;
  struct Completion;
  struct NumaNode {
    uint16_t group;  // processor group; always 0 here
    platform::CpuMask mask;
    int cumulative;  // processors of this node and all before it
  };
  enum { kMaxNumaNodes = 64 };

 private:
  Worker* getWorker(uint64_t batch);
  Worker* createWorker(uint64_t batch);
  void gatherNumaNodes();
  static void releaseWorker(Worker* w);
  static void post(Worker* w, int command);
  static void threadMain(void* arg);

  bool affinityEnabled_ = true;
  NumaNode* nodes_ = nullptr;  // kMaxNumaNodes entries once gathered
  int usedNodeCount_ = 0;
  int totalProcessors_ = 0;
  int nodeCount_ = -1;
  uint64_t lastBatch_ = 0;  // guarded by lock_
  SequenceBlockList<Worker*, 10> threads_;
  SequenceBlockList<Completion, 10> completions_;
  platform::CriticalSection lock_;
  std::atomic<int> lowPriority_{0};
  std::atomic<int> stackSize_{0};
  // Each pool thread finds its worker record through a thread_local pointer (see the .cpp).
};

// The node a batch thread is pinned to: the first entry whose cumulative count exceeds
// `counter` (the thread's position in a round over all processors); -1 when none does.
int selectNumaNode(const PosixThreadManager::NumaNode* nodes, int count, int counter);

// Builds the node table from per-node processor masks restricted to `process`: one entry
// per node (possibly with an empty mask), cumulative counts running over the restricted
// masks. Returns the number of entries with a non-empty mask; *totalProcessors is the
// last cumulative count.
int buildNumaTable(const platform::CpuMask* nodeMasks, int count, const platform::CpuMask& process,
                   PosixThreadManager::NumaNode* out, int* totalProcessors);

// A new pool; null when it cannot be allocated. Release with destroyPoolThreadManager.
ThreadManager* createPoolThreadManager();
// Terminates its threads and frees it; null is ignored.
void destroyPoolThreadManager(ThreadManager* manager);

}  // namespace ZUtils
