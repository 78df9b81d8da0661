// Platform layer: events, the wake-up primitive of the worker pool and the job runner.
//
// Same behaviour as the kernel events the pool was designed around: a manual-reset event
// stays signalled until reset(); an auto-reset event is consumed by the one wait that
// sees it. set() on a signalled event changes nothing (signals do not count up).
#pragma once

#include <cstdint>

namespace ZUtils {
namespace platform {

class Event {
 public:
  explicit Event(bool manualReset, bool initiallySet = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // True when the event is (or becomes) signalled within timeoutMs; -1 waits without
  // limit, 0 only polls.
  bool wait(int timeoutMs);
  // Waits for the first of two events: 0 = `first`, 1 = `second` (first wins when both are
  // signalled), -1 = timeout. Only the reported event is consumed (if auto-reset).
  static int waitEither(Event& first, Event& second, int timeoutMs);

 private:
  // Opaque so that another platform's implementation fits beside (checked in the .cpp).
  alignas(16) unsigned char storage_[160];
};

}  // namespace platform
}  // namespace ZUtils
