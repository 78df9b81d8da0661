#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "zutils/platform/Thread.h"

namespace ZUtils {
namespace platform {

namespace {

static_assert(sizeof(pthread_t) <= sizeof(uint64_t), "pthread_t does not fit a ThreadHandle");

pthread_t toPthread(ThreadHandle h) {
  pthread_t t;
  std::memcpy(&t, &h.value, sizeof t);
  return t;
}

struct StartBlock {
  ThreadEntry entry;
  void* arg;
};

void* trampoline(void* p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  block.entry(block.arg);
  return nullptr;
}

}  // namespace

bool startThread(ThreadEntry entry, void* arg, int stackBytes, ThreadHandle* out) {
  if (!entry || !out) return false;
  StartBlock* block = new (std::nothrow) StartBlock{entry, arg};
  if (!block) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete block;
    return false;
  }
  if (stackBytes > 0) {
    size_t bytes = static_cast<size_t>(stackBytes);
    if (bytes < static_cast<size_t>(PTHREAD_STACK_MIN)) bytes = PTHREAD_STACK_MIN;
    long page = sysconf(_SC_PAGESIZE);
    if (page > 0) bytes = (bytes + static_cast<size_t>(page) - 1) / static_cast<size_t>(page) * static_cast<size_t>(page);
    pthread_attr_setstacksize(&attr, bytes);  // a refused size keeps the default
  }
  pthread_t t;
  int rc = pthread_create(&t, &attr, &trampoline, block);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete block;
    return false;
  }
  out->value = 0;
  std::memcpy(&out->value, &t, sizeof t);
  return true;
}

bool joinThread(ThreadHandle thread) {
  if (isCurrentThread(thread)) return false;
  return pthread_join(toPthread(thread), nullptr) == 0;
}

void detachThread(ThreadHandle thread) { pthread_detach(toPthread(thread)); }

bool isCurrentThread(ThreadHandle thread) { return pthread_equal(toPthread(thread), pthread_self()) != 0; }

void* currentThreadIdentity() {
  pthread_t self = pthread_self();
  uint64_t v = 0;
  std::memcpy(&v, &self, sizeof self);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(v));
}

// Linux keeps a nice value per thread (addressed by its kernel id). "Normal" is the nice
// value of the process's main thread; below normal is 5 steps nicer (about a third of the
// processor share under contention), capped at the weakest value 19.
void setCurrentThreadPriority(ThreadPriority priority) {
  errno = 0;
  int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  if (base == -1 && errno != 0) return;
  int value = base;
  if (priority == kPriorityBelowNormal) value = base + 5 > 19 ? 19 : base + 5;
  const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, tid, value);  // raising back may need a privilege: ignored
}

}  // namespace platform
}  // namespace ZUtils
