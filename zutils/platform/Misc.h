// Platform layer: small operating-system services (sleeping, clocks, thread identity,
// file presence).
#pragma once

#include <cstdint>

namespace ZUtils {
namespace platform {

// Sleeps at least `ms` milliseconds; 0 or less only yields the processor.
void sleepMs(int ms);

// True when something exists at this path (file or directory); false for null.
bool fileExists(const char* utf8Path);

// True when the process's standard error is a terminal (where tools show progress).
bool standardErrorIsTerminal();

// Kernel id of the calling thread (unique among live threads of the system).
uint64_t currentThreadId();

// Names the calling thread for debuggers and tools. The kernel keeps at most 15
// characters; longer names are cut there rather than rejected.
void setCurrentThreadName(const char* name);

// Milliseconds of a monotonic clock (never jumps with the wall clock); only
// differences are meaningful.
int64_t tickCountMs();

}  // namespace platform
}  // namespace ZUtils
