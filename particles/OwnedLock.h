// A critical section held through an owned pointer, so that the object holding it can be
// relocated by memcpy inside an OstArray (a lock by value cannot move: the platform lock
// may be registered by address; the pointer can move as long as the lock is not held).
//
// If the lock cannot be allocated it falls back to one process-wide critical section:
// coarser, but callers are still serialised, and construction never fails.
// lock()/unlock() make it usable with std::lock_guard.
#pragma once

#include <new>

#include "zutils/platform/Lock.h"

class OwnedLock {
 public:
  OwnedLock() : section_(new (std::nothrow) ZUtils::platform::CriticalSection) {}
  ~OwnedLock() { delete section_; }
  OwnedLock(const OwnedLock&) = delete;
  OwnedLock& operator=(const OwnedLock&) = delete;

  void lock() const { get().enter(); }
  void unlock() const { get().leave(); }

 private:
  ZUtils::platform::CriticalSection& get() const { return section_ ? *section_ : fallback(); }
  static ZUtils::platform::CriticalSection& fallback() {
    static ZUtils::platform::CriticalSection shared;
    return shared;
  }
  ZUtils::platform::CriticalSection* section_;
};
