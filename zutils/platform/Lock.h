// Platform layer: the re-entrant lock ("critical section") used for lists shared between
// threads. The owning thread may enter again; it must leave as often as it entered.
#pragma once

namespace ZUtils {
namespace platform {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter();
  void leave();
  bool tryEnter();

 private:
  alignas(16) unsigned char storage_[64];
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : cs_(cs) { cs_.enter(); }
  ~ScopedLock() { cs_.leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace platform
}  // namespace ZUtils
