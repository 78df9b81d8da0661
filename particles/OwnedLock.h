// A mutex held through an owned pointer, so that the object holding it can be relocated by
// memcpy inside an OstArray (a mutex by value cannot be moved while anything might wait on
// it; the pointer can, as long as the lock is not held during the move).
//
// If the mutex cannot be allocated the lock falls back to one process-wide mutex: coarser,
// but callers are still serialised, and construction never fails.
#pragma once

#include <mutex>
#include <new>

class OwnedLock {
 public:
  OwnedLock() : mutex_(new (std::nothrow) std::mutex) {}
  ~OwnedLock() { delete mutex_; }
  OwnedLock(const OwnedLock&) = delete;
  OwnedLock& operator=(const OwnedLock&) = delete;

  void lock() const { get().lock(); }
  void unlock() const { get().unlock(); }

 private:
  std::mutex& get() const { return mutex_ ? *mutex_ : fallback(); }
  static std::mutex& fallback() {
    static std::mutex shared;
    return shared;
  }
  std::mutex* mutex_;
};
