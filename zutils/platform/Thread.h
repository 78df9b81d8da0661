// Platform layer: starting threads and adjusting the calling thread.
//
// Naming, sleeping, ticks and thread ids live in Misc.h.
#pragma once

#include <cstdint>

namespace ZUtils {
namespace platform {

typedef void (*ThreadEntry)(void* arg);

// Opaque identity of a started thread.
struct ThreadHandle {
  uint64_t value = 0;
};

// Starts entry(arg) on a new joinable thread. stackBytes 0 keeps the system default;
// smaller than the system minimum is raised to it. False when no thread could be created.
bool startThread(ThreadEntry entry, void* arg, int stackBytes, ThreadHandle* out);
// Waits for the thread to end. False (and no wait) when called on the thread itself.
bool joinThread(ThreadHandle thread);
// Lets the thread end on its own; its resources go with it.
void detachThread(ThreadHandle thread);
bool isCurrentThread(ThreadHandle thread);

// An identity of the calling thread that fits a pointer (never dereferenced).
void* currentThreadIdentity();

enum ThreadPriority { kPriorityNormal = 0, kPriorityBelowNormal = 1 };
// Applies to the calling thread only. Failures are ignored: raising the priority back to
// normal needs a privilege on some systems, and a thread then simply stays lower.
void setCurrentThreadPriority(ThreadPriority priority);

}  // namespace platform
}  // namespace ZUtils
