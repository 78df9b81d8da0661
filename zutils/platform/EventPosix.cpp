#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "zutils/platform/Event.h"

namespace ZUtils {
namespace platform {

namespace {

// A thread inside waitEither: registered with both events, woken by whichever is set.
struct MultiWaiter {
  std::mutex mutex;
  std::condition_variable cond;
  bool notified = false;
};

struct WaiterLink {
  MultiWaiter* waiter;
  WaiterLink* next;
};

struct EventState {
  std::mutex mutex;
  std::condition_variable cond;
  bool signalled;
  bool manual;
  WaiterLink* waiters;  // waitEither callers, guarded by mutex
};

EventState& state(unsigned char* storage) { return *reinterpret_cast<EventState*>(storage); }

// Takes the signal if there is one; the caller holds the event's mutex.
bool consumeLocked(EventState& s) {
  if (!s.signalled) return false;
  if (!s.manual) s.signalled = false;
  return true;
}

void unlink(EventState& s, WaiterLink* link) {
  std::lock_guard<std::mutex> lock(s.mutex);
  for (WaiterLink** p = &s.waiters; *p; p = &(*p)->next) {
    if (*p == link) {
      *p = link->next;
      return;
    }
  }
}

}  // namespace

Event::Event(bool manualReset, bool initiallySet) {
  static_assert(sizeof(EventState) <= sizeof(storage_), "Event storage too small");
  static_assert(alignof(EventState) <= 16, "Event storage alignment");
  EventState* s = new (static_cast<void*>(storage_)) EventState();
  s->signalled = initiallySet;
  s->manual = manualReset;
  s->waiters = nullptr;
}

Event::~Event() { state(storage_).~EventState(); }

void Event::set() {
  EventState& s = state(storage_);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.signalled) return;
  s.signalled = true;
  if (s.manual) {
    s.cond.notify_all();
  } else {
    s.cond.notify_one();
  }
  // Every multi-waiter gets a look; the one that consumes first wins, the rest wait on.
  for (WaiterLink* l = s.waiters; l; l = l->next) {
    std::lock_guard<std::mutex> wl(l->waiter->mutex);
    l->waiter->notified = true;
    l->waiter->cond.notify_one();
  }
}

void Event::reset() {
  EventState& s = state(storage_);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.signalled = false;
}

bool Event::wait(int timeoutMs) {
  EventState& s = state(storage_);
  std::unique_lock<std::mutex> lock(s.mutex);
  if (timeoutMs < 0) {
    s.cond.wait(lock, [&s] { return s.signalled; });
  } else if (!s.cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&s] { return s.signalled; })) {
    return false;
  }
  return consumeLocked(s);
}

int Event::waitEither(Event& first, Event& second, int timeoutMs) {
  EventState& a = state(first.storage_);
  EventState& b = state(second.storage_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);

  // Register before the first look: a set() after the look then always finds us, so no
  // signal falls between looking and sleeping.
  MultiWaiter waiter;
  WaiterLink la{&waiter, nullptr};
  WaiterLink lb{&waiter, nullptr};
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    la.next = a.waiters;
    a.waiters = &la;
  }
  if (&b != &a) {
    std::lock_guard<std::mutex> lock(b.mutex);
    lb.next = b.waiters;
    b.waiters = &lb;
  }

  int result = -1;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(a.mutex);
      if (consumeLocked(a)) result = 0;
    }
    if (result < 0) {
      std::lock_guard<std::mutex> lock(b.mutex);
      if (consumeLocked(b)) result = 1;
    }
    if (result >= 0) break;

    std::unique_lock<std::mutex> lock(waiter.mutex);
    if (timeoutMs < 0) {
      waiter.cond.wait(lock, [&waiter] { return waiter.notified; });
    } else if (!waiter.cond.wait_until(lock, deadline, [&waiter] { return waiter.notified; })) {
      break;
    }
    waiter.notified = false;
  }

  unlink(a, &la);
  if (&b != &a) unlink(b, &lb);
  return result;
}

}  // namespace platform
}  // namespace ZUtils
