// The process-wide default number of worker threads.
//
// Environment:
//   QARN_NUM_THREADS          a positive integer (leading digits count, "3x" is 3) fixes
//                             the count; 0, negative or not a number is ignored;
//   QARN_USE_THREAD_AFFINITY  unset or a non-zero integer: the count is the number of
//                             processors in this process's affinity set (which a
//                             taskset/cgroup restriction narrows), 0 (or text without
//                             leading digits): the number of processors online.
#pragma once

namespace ZUtils {

// Computed once, on first use, from the environment of that moment; at least 1. While a
// count set by setDefaultThreadCount is in force, that count instead.
int defaultThreadCount();

// A program that divides the machine between several pieces of work (neb2vdb's frames
// at once) fixes the count its later parallel jobs take; 0 returns to the environment's
// count. Jobs already built keep their threads until they are set up again.
void setDefaultThreadCount(int count);

// The rule above for given variable values (null = unset); for tests and for callers
// that must not depend on the process state.
int computeDefaultThreadCount(const char* numThreads, const char* useAffinity);

// Whether thread affinity (processor-set counting, NUMA pinning) is enabled for this value
// of QARN_USE_THREAD_AFFINITY (null = unset = enabled).
bool threadAffinityEnabled(const char* useAffinity);

// Leading-digits integer conversion with an optional sign and leading blanks, saturating
// instead of overflowing; 0 for null or text without digits.
int leadingInteger(const char* text);

}  // namespace ZUtils
