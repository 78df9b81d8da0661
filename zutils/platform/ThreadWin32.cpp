#include "zutils/platform/Thread.h"
#include "zutils/platform/Kernel32.h"

#include <process.h>

#include <cstdint>
#include <new>

namespace ZUtils {
namespace platform {

// A ThreadHandle holds the thread's kernel handle. _beginthreadex rather than CreateThread:
// the C runtime sets up (and frees) its per-thread data for threads it started itself.

namespace {

static_assert(sizeof(HANDLE) <= sizeof(uint64_t), "HANDLE does not fit a ThreadHandle");

HANDLE toHandle(ThreadHandle h) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(h.value)); }

struct StartBlock {
  ThreadEntry entry;
  void* arg;
};

unsigned __stdcall trampoline(void* p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  block.entry(block.arg);
  return 0;
}

}  // namespace

bool startThread(ThreadEntry entry, void* arg, int stackBytes, ThreadHandle* out) {
  if (!entry || !out) return false;
  StartBlock* block = new (std::nothrow) StartBlock{entry, arg};
  if (!block) return false;
  // The size is a reservation (the address range), committed page by page as the stack
  // grows; the system rounds it up to its allocation granularity.
  const unsigned stack = stackBytes > 0 ? static_cast<unsigned>(stackBytes) : 0u;
  const uintptr_t h = _beginthreadex(nullptr, stack, &trampoline, block, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (h == 0) {
    delete block;
    return false;
  }
  out->value = static_cast<uint64_t>(h);
  return true;
}

bool joinThread(ThreadHandle thread) {
  if (isCurrentThread(thread)) return false;
  HANDLE h = toHandle(thread);
  const bool ok = WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ok;
}

void detachThread(ThreadHandle thread) { CloseHandle(toHandle(thread)); }

bool isCurrentThread(ThreadHandle thread) {
  HANDLE h = toHandle(thread);
  return h && GetThreadId(h) == GetCurrentThreadId();
}

// Thread ids are never 0 and unique among live threads.
void* currentThreadIdentity() { return reinterpret_cast<void*>(static_cast<uintptr_t>(GetCurrentThreadId())); }

// Windows priorities are per thread and relative to the process's priority class, so
// "normal" is the class's own level and below normal one step under it.
void setCurrentThreadPriority(ThreadPriority priority) {
  SetThreadPriority(GetCurrentThread(),
                    priority == kPriorityBelowNormal ? THREAD_PRIORITY_BELOW_NORMAL : THREAD_PRIORITY_NORMAL);
}

}  // namespace platform
}  // namespace ZUtils
