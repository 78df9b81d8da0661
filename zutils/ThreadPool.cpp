#include "zutils/ThreadPool.h"

#include <cstdlib>
#include <new>

#include "zutils/DefaultThreadCount.h"
#include "zutils/Report.h"
#include "zutils/platform/Cpu.h"
#include "zutils/platform/Event.h"
#include "zutils/platform/Misc.h"
#include "zutils/platform/Thread.h"

namespace ZUtils {

namespace {

enum Command { kRunGroup = 0x1000, kTerminate = 0x1001, kRunSingle = 0x1002 };
enum State { kIdle = 0, kBusy = 1, kTerminated = 2, kClaimed = 3, kStarting = 4 };
enum PinMode { kNoPin = 0, kPinNode = 1, kPinProcess = 2 };

const int kTerminateWaitMs = 2000;
const int kBatchPollMs = 200;

// A worker's command queue: FIFO of nodes taken from small blocks and recycled through a
// free list, so a long-lived worker allocates only once. Guarded by the worker's queue lock.
class CommandQueue {
 public:
  ~CommandQueue() {
    while (blocks_) {
      NodeBlock* next = blocks_->next;
      delete blocks_;
      blocks_ = next;
    }
  }
  void push(int command) {
    if (!free_) grow();
    Node* n = free_;
    free_ = n->next;
    n->command = command;
    n->next = nullptr;
    if (tail_) {
      tail_->next = n;
    } else {
      head_ = n;
    }
    tail_ = n;
  }
  bool pop(int* command) {
    Node* n = head_;
    if (!n) return false;
    head_ = n->next;
    if (!head_) tail_ = nullptr;
    *command = n->command;
    n->next = free_;
    free_ = n;
    return true;
  }

 private:
  struct Node {
    int command;
    Node* next;
  };
  enum { kNodesPerBlock = 4 };
  struct NodeBlock {
    Node nodes[kNodesPerBlock];
    NodeBlock* next;
  };
  void grow() {
    NodeBlock* b = new (std::nothrow) NodeBlock;
    if (!b) throw ExceptionMsg("[_SequenceBlock] Could not allocate memory");
    b->next = blocks_;
    blocks_ = b;
    for (int i = 0; i < kNodesPerBlock; ++i) {
      b->nodes[i].next = free_;
      free_ = &b->nodes[i];
    }
  }
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  Node* free_ = nullptr;
  NodeBlock* blocks_ = nullptr;
};

}  // namespace

struct PosixThreadManager::Completion {
  std::atomic<int> pending{0};
  platform::Event event{true};  // manual reset: set once the last piece of a batch ends
  bool inUse = false;           // guarded by the manager lock
};

// One pool thread. The fields of the current command are written by the claiming caller
// while the worker is in state 3 and read by the worker after it has taken the command
// from its queue (the queue lock orders the two).
struct PosixThreadManager::Worker {
  ThreadProcedure* procedure = nullptr;
  volatile int* status = nullptr;
  int progress = 0;  // the thread's own progress counter; accessed atomically
  int index = 0;
  std::atomic<int> state{kStarting};
  platform::ThreadHandle thread;
  Completion* completion = nullptr;
  int count = 0;
  PosixThreadManager* manager = nullptr;
  ThreadProcedure* single = nullptr;
  int parameter = 0;
  CommandQueue queue;
  platform::CriticalSection queueLock;
  platform::Event wake{false};
  // 1 for the manager's list, 1 while the thread runs; the last one deletes the record,
  // so an abandoned thread never touches freed memory.
  std::atomic<int> refs{1};

  int wantPriority = platform::kPriorityNormal;
  int pinMode = kNoPin;
  platform::CpuMask pinMask;
  // Only the worker thread touches these.
  int appliedPriority = -1;
  // The request this worker was last claimed for (guarded by the manager lock): a worker
  // that finishes its piece early is not claimed again by the same batch, so a batch
  // really has `count` threads at once (pieces may wait for each other).
  uint64_t batch = 0;
  bool pinned = false;
};

namespace {

// The worker record of the calling pool thread (null elsewhere). A C++ thread_local
// rather than a per-manager slot: the slot would belong to the manager, and a thread
// abandoned at termination may outlive its manager.
thread_local PosixThreadManager::Worker* t_worker = nullptr;

}  // namespace

int selectNumaNode(const PosixThreadManager::NumaNode* nodes, int count, int counter) {
  for (int i = 0; i < count; ++i) {
    if (nodes[i].cumulative > counter) return i;
  }
  return -1;
}

int buildNumaTable(const platform::CpuMask* nodeMasks, int count, const platform::CpuMask& process,
                   PosixThreadManager::NumaNode* out, int* totalProcessors) {
  int running = 0;
  int used = 0;
  for (int i = 0; i < count; ++i) {
    out[i].group = 0;
    out[i].mask = nodeMasks[i];
    out[i].mask.intersect(process);
    const int n = out[i].mask.count();
    running += n;
    out[i].cumulative = running;
    if (n > 0) ++used;
  }
  if (totalProcessors) *totalProcessors = running;
  return used;
}

PosixThreadManager::PosixThreadManager() {
  debugPrint("[WinThreadManager] Constructor.\n");
  affinityEnabled_ = threadAffinityEnabled(std::getenv("QARN_USE_THREAD_AFFINITY"));
}

PosixThreadManager::~PosixThreadManager() {
  debugPrint("[WinThreadManager] Destructor.\n");
  terminateThreads(false);
  completions_.clear();
  delete[] nodes_;
}

void PosixThreadManager::releaseWorker(Worker* w) {
  if (w->refs.fetch_sub(1) == 1) delete w;
}

void PosixThreadManager::post(Worker* w, int command) {
  platform::ScopedLock lock(w->queueLock);
  w->queue.push(command);  // may throw ExceptionMsg
  w->wake.set();
}

void PosixThreadManager::threadMain(void* arg) {
  Worker* w = static_cast<Worker*>(arg);  // its reference was taken by the creator
  t_worker = w;
  w->state.store(kClaimed);
  for (;;) {
    int command = -1;
    {
      // Reset under the queue lock: a command posted after this look sets the event
      // again, so the wait below cannot miss it.
      platform::ScopedLock lock(w->queueLock);
      if (!w->queue.pop(&command)) w->wake.reset();
    }
    if (command < 0) {
      w->wake.wait(-1);
      continue;
    }
    if (command == kTerminate) {
      debugPrint("[WinThreadManager] Terminating thread %i\n", w->index);
      w->state.store(kTerminated);
      break;
    }
    if (command != kRunGroup && command != kRunSingle) continue;

    w->state.store(kBusy);
    if (w->appliedPriority != w->wantPriority) {
      platform::setCurrentThreadPriority(static_cast<platform::ThreadPriority>(w->wantPriority));
      w->appliedPriority = w->wantPriority;
    }
    if (w->pinMode == kPinNode) {
      if (platform::setCurrentThreadAffinity(w->pinMask)) w->pinned = true;
    } else if (w->pinMode == kPinProcess && w->pinned) {
      platform::CpuMask all;
      if (platform::processAffinityMask(&all) && platform::setCurrentThreadAffinity(all)) w->pinned = false;
    }

    if (command == kRunGroup) {
      ThreadProcedure* procedure = w->procedure;
      volatile int* status = w->status;
      if (__atomic_load_n(const_cast<int*>(status), __ATOMIC_ACQUIRE) == 0) {
        const char* name = procedure->name();
        if (name) platform::setCurrentThreadName(name);
        procedure->run(status, &w->progress, w->index, w->count);
      }
      // Idle before the count drops, so that the caller's next batch can take this worker
      // again; nothing of the record is read after this store but the local copy below.
      Completion* c = w->completion;
      w->state.store(kIdle);
      if (c->pending.fetch_sub(1) == 1) c->event.set();
    } else {
      ThreadProcedure* single = w->single;
      const char* name = single->name();
      if (name) platform::setCurrentThreadName(name);
      single->run(nullptr, nullptr, w->parameter, 1);
      w->state.store(kIdle);
    }
  }
  t_worker = nullptr;
  releaseWorker(w);
  debugPrint("[WinThreadManager] Thread is terminating\n");
}

PosixThreadManager::Worker* PosixThreadManager::createWorker(uint64_t batch) {
  Worker* w = new (std::nothrow) Worker;
  if (!w) {
    logReport("[ERROR] Could not allocate a worker thread record\n");
    return nullptr;
  }
  w->manager = this;
  w->batch = batch;
  w->state.store(kStarting);
  try {
    threads_.append() = w;
  } catch (...) {
    delete w;
    throw;
  }
  // The thread's own reference is taken here, before it can run: a termination racing
  // with the start must not free the record under the new thread.
  w->refs.store(2);
  if (!platform::startThread(&PosixThreadManager::threadMain, w, stackSize_.load(), &w->thread)) {
    threads_.removeLast();
    delete w;
    logReport("[ERROR] Could not start a worker thread\n");
    return nullptr;
  }
  return w;
}

PosixThreadManager::Worker* PosixThreadManager::getWorker(uint64_t batch) {
  for (int i = 0; i < threads_.size(); ++i) {
    Worker* w = threads_.at(i);
    if (w->batch == batch) continue;
    int expected = kIdle;
    if (w->state.compare_exchange_strong(expected, kClaimed)) {
      w->batch = batch;
      return w;
    }
  }
  return createWorker(batch);
}

void PosixThreadManager::gatherNumaNodes() {
  nodeCount_ = 0;
  usedNodeCount_ = 0;
  totalProcessors_ = 0;
  if (!affinityEnabled_) return;
  platform::CpuMask process;
  if (!platform::processAffinityMask(&process)) return;
  platform::CpuMask* masks = new (std::nothrow) platform::CpuMask[kMaxNumaNodes];
  if (!masks) return;
  const int n = platform::systemNumaNodeMasks(masks, kMaxNumaNodes);
  if (n > 0) {
    nodes_ = new (std::nothrow) NumaNode[n];
    if (nodes_) {
      usedNodeCount_ = buildNumaTable(masks, n, process, nodes_, &totalProcessors_);
      nodeCount_ = n;
    }
  }
  delete[] masks;
}

int PosixThreadManager::runOnThreads(int count, ThreadProcedure* procedure, ThreadProgress* progress,
                                     bool reportProgress) {
  if (!procedure) return -1;
  const int n = count > 0 ? count : defaultThreadCount();
  __atomic_store_n(&procedure->progressBase, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&procedure->statusCell, 0, __ATOMIC_RELEASE);
  if (progress) {
    char text[64];
    formatString(text, sizeof text, "Setting up %i thread(s)\n", n);
    progress->log(0, 30000, text);
    progress->begin();
  }

  // The batch's workers, for the progress sum; without it progress is simply not summed.
  Worker** batch = reportProgress && progress ? new (std::nothrow) Worker*[n] : nullptr;
  Completion* c = nullptr;
  int dispatched = 0;
  {
    // Held over the whole dispatch so that a termination cannot slip between claiming a
    // worker and giving it its command.
    platform::ScopedLock lock(lock_);
    try {
      if (nodeCount_ == -1) gatherNumaNodes();
      for (int i = 0; i < completions_.size() && !c; ++i) {
        if (!completions_.at(i).inUse) c = &completions_.at(i);
      }
      if (!c) c = &completions_.append();
      c->inUse = true;
      c->pending.store(n);
      c->event.reset();

      const uint64_t batchId = ++lastBatch_;
      int nodeCounter = 0;
      for (int i = 0; i < n; ++i) {
        Worker* w = getWorker(batchId);
        if (!w) break;
        w->procedure = procedure;
        w->status = &procedure->statusCell;
        __atomic_store_n(&w->progress, 0, __ATOMIC_RELAXED);
        w->index = i;
        w->count = n;
        w->completion = c;
        w->wantPriority = lowPriority_.load() ? platform::kPriorityBelowNormal : platform::kPriorityNormal;
        w->pinMode = kNoPin;
        if (usedNodeCount_ > 1) {
          const int node = selectNumaNode(nodes_, nodeCount_, nodeCounter);
          if (node >= 0) {
            w->pinMode = kPinNode;
            w->pinMask = nodes_[node].mask;
          }
          if (++nodeCounter >= totalProcessors_) nodeCounter = 0;
        }
        try {
          post(w, kRunGroup);
        } catch (...) {
          w->state.store(kIdle);
          throw;
        }
        if (batch) batch[dispatched] = w;
        ++dispatched;
      }
    } catch (const ExceptionMsg& e) {
      logReport("%s\n", e.message());
    }
  }

  if (!c) {
    delete[] batch;
    __atomic_store_n(&procedure->statusCell, -1, __ATOMIC_RELEASE);
  } else {
    if (dispatched < n) {
      // Part of the batch has no thread: the pieces that did start may still be waiting
      // to begin; -1 makes them skip and tells the caller the batch is incomplete.
      int expected = 0;
      __atomic_compare_exchange_n(&procedure->statusCell, &expected, -1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
      if (c->pending.fetch_sub(n - dispatched) == n - dispatched) c->event.set();
    }
    // Done means the event is set, not merely the count at 0: the event is the last thing
    // a worker touches, so the record can be reused or freed once it is seen.
    while (!c->event.wait(kBatchPollMs)) {
      if (!progress) continue;
      if (reportProgress && batch) {
        int sum = __atomic_load_n(&procedure->progressBase, __ATOMIC_RELAXED);
        for (int i = 0; i < dispatched; ++i) sum += __atomic_load_n(&batch[i]->progress, __ATOMIC_RELAXED);
        progress->progress(sum);
      }
      const int code = progress->abortCode();
      if (code != 0) __atomic_store_n(&procedure->statusCell, code, __ATOMIC_RELEASE);
    }
    delete[] batch;
    platform::ScopedLock lock(lock_);
    c->inUse = false;
  }

  if (progress) {
    progress->end();
    progress->log(0, 30000, "Threads completed\n");
  }
  return __atomic_load_n(&procedure->statusCell, __ATOMIC_ACQUIRE);
}

void PosixThreadManager::setLowPriority(int flag) { lowPriority_.store(flag); }

int PosixThreadManager::runProcedure(ThreadProcedure* procedure, int parameter) {
  if (!procedure) return -1;
  platform::ScopedLock lock(lock_);
  try {
    Worker* w = getWorker(++lastBatch_);
    if (!w) return -1;
    w->single = procedure;
    w->parameter = parameter;
    w->index = parameter;
    w->count = 1;
    w->wantPriority = lowPriority_.load() ? platform::kPriorityBelowNormal : platform::kPriorityNormal;
    w->pinMode = kPinProcess;
    try {
      post(w, kRunSingle);
    } catch (...) {
      w->state.store(kIdle);
      throw;
    }
  } catch (const ExceptionMsg& e) {
    logReport("%s\n", e.message());
    return -1;
  }
  return 0;
}

void PosixThreadManager::setStackSize(int bytes) { stackSize_.store(bytes > 0 ? bytes : 0); }

int PosixThreadManager::currentThreadIndex() {
  Worker* w = t_worker;
  if (!w || w->manager != this) return -1;
  return w->index;
}

int PosixThreadManager::workerCount() {
  platform::ScopedLock lock(lock_);
  return threads_.size();
}

void PosixThreadManager::terminateThreads(bool force) {
  (void)force;  // a POSIX thread cannot be killed safely: a late worker is abandoned
  platform::ScopedLock lock(lock_);
  debugPrint("[WinThreadManager] Terminating %i threads\n", threads_.size());
  for (int i = 0; i < threads_.size(); ++i) {
    Worker* w = threads_.at(i);
    bool posted = true;
    try {
      post(w, kTerminate);
    } catch (const ExceptionMsg& e) {
      logReport("%s\n", e.message());
      posted = false;
    }
    debugPrint("[WinThreadManager] Waiting for QGL thread to finish...\n");
    const int64_t start = platform::tickCountMs();
    while (posted && w->state.load() != kTerminated && platform::tickCountMs() - start < kTerminateWaitMs) {
      platform::sleepMs(1);
    }
    if (posted && w->state.load() == kTerminated && platform::joinThread(w->thread)) {
      // joined: the thread has dropped its reference and is gone
    } else {
      if (!posted || w->state.load() != kTerminated) {
        debugPrint("[WinThreadManager] Thread did not terminate for the timeout interval\n");
      }
      platform::detachThread(w->thread);
    }
    releaseWorker(w);
  }
  threads_.clear();
  // A batch still waiting on another thread keeps its completion record.
  bool anyInUse = false;
  for (int i = 0; i < completions_.size(); ++i) anyInUse = anyInUse || completions_.at(i).inUse;
  if (!anyInUse) completions_.clear();
  debugPrint("[WinThreadManager] All threads terminated\n");
}

ThreadManager* createPoolThreadManager() { return new (std::nothrow) PosixThreadManager; }

void destroyPoolThreadManager(ThreadManager* manager) { delete manager; }

}  // namespace ZUtils
