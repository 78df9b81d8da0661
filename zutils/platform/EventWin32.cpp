#include "zutils/platform/Event.h"
#include "zutils/platform/Kernel32.h"

#include <new>

namespace ZUtils {
namespace platform {

// A kernel event object: manual/auto reset, set() on a signalled event and the "first of
// two wins, only it is consumed" rule of waitEither are the kernel's own semantics
// (WaitForMultipleObjects reports and consumes the lowest signalled index).

namespace {

HANDLE& handleOf(unsigned char* storage) { return *reinterpret_cast<HANDLE*>(storage); }

DWORD timeoutOf(int timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

}  // namespace

Event::Event(bool manualReset, bool initiallySet) {
  static_assert(sizeof(HANDLE) <= sizeof(storage_), "Event storage too small");
  HANDLE h = CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
  // Without an event the pool cannot work at all; like a failed mutex construction, out of
  // kernel objects is not recoverable here.
  if (!h) throw std::bad_alloc();
  new (static_cast<void*>(storage_)) HANDLE(h);
}

Event::~Event() { CloseHandle(handleOf(storage_)); }

void Event::set() { SetEvent(handleOf(storage_)); }

void Event::reset() { ResetEvent(handleOf(storage_)); }

bool Event::wait(int timeoutMs) { return WaitForSingleObject(handleOf(storage_), timeoutOf(timeoutMs)) == WAIT_OBJECT_0; }

int Event::waitEither(Event& first, Event& second, int timeoutMs) {
  HANDLE a = handleOf(first.storage_);
  HANDLE b = handleOf(second.storage_);
  // The same handle twice is an error for WaitForMultipleObjects.
  if (a == b) return first.wait(timeoutMs) ? 0 : -1;
  HANDLE both[2] = {a, b};
  const DWORD r = WaitForMultipleObjects(2, both, FALSE, timeoutOf(timeoutMs));
  if (r == WAIT_OBJECT_0) return 0;
  if (r == WAIT_OBJECT_0 + 1) return 1;
  return -1;
}

}  // namespace platform
}  // namespace ZUtils
