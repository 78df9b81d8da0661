// The process-wide memory budget.
//
// Sizes read from a file decide how much the library allocates: channel buffers, particle
// channels, decoder tables, scratch arrays, inflate output. A constant zone of a few bytes
// may claim a channel of any size and a frame has up to 32 channels; a host may hold
// several frames. A limit per request would let every single request pass while their sum
// exceeds physical memory (and on systems that overcommit the process dies later, when
// the pages are touched). So the library counts the bytes it holds, and every allocation
// takes its bytes from one budget before it is made and gives them back when it is freed.
//
// A request that would take the total over the budget first makes the large-block cache
// (LargeBlockCache.h) give back the blocks it keeps, oldest first (they count as held).
// If that is not enough it fails exactly like an exhausted heap (false / null / empty
// array), with one report naming the request, the total held and the budget.
//
// Default budget: the machine's physical memory. The environment variable
// NEB_MEMORY_LIMIT_MB (a positive decimal number of MiB) replaces it; it is read once, on
// first use. Hosts and tests may set it directly with setMemoryLimitBytes.
//
// Who counts: newArray / newZeroedArray / releaseArray (Allocation.h) and OstArray growth
// and release (OstArray.h) count themselves, exactly, whatever the size's origin. Code that
// allocates otherwise (std::vector, std::string) with a size from a file holds a
// MemoryReservation for as long as the container holds the storage.
//
// The total is one atomic counter: reserving is a compare-and-swap loop, releasing one
// subtraction. No lock is taken unless a request is over the budget and the large-block
// cache has to be trimmed.
#pragma once

#include <atomic>
#include <cstdint>

#include "zutils/PluginExport.h"

namespace OSTUtils {

// Takes `bytes` from the budget. True when they fit (the caller then owes one
// releaseMemory of the same count). Otherwise, after the large-block cache gave back what
// it keeps, reports
// "[ERROR] allocation of %llu bytes refused: %llu bytes held of the memory budget of %llu bytes\n"
// and returns false. Called from OstArray's inline growth, hence also from plug-ins.
NEB_PLUGIN_API bool reserveMemory(uint64_t bytes);

// Gives back bytes taken with reserveMemory.
NEB_PLUGIN_API void releaseMemory(uint64_t bytes);

// The bytes held now: live arrays and buffers, reservations, and the blocks the
// large-block cache keeps.
uint64_t memoryHeldBytes();

// The budget in bytes (reads NEB_MEMORY_LIMIT_MB on first use).
uint64_t memoryLimitBytes();

// Replaces the budget; 0 restores the default (environment, else physical memory), read
// again. Takes effect for requests that start afterwards; what is held already stays held
// even when it is over a lowered budget.
void setMemoryLimitBytes(uint64_t bytes);

// The context of one caller's work: installed on the caller's thread by a WorkScope and on
// the pool threads that run its jobs (OstParallel installs the runner's context on them for
// the run). Every budget refusal made there counts in it, so a caller can tell a failure
// caused by the budget from one caused by damaged data without reading report texts. A
// front may derive from it to carry more: the C interface routes the reports of a call
// through its context.
class WorkContext {
 public:
  virtual ~WorkContext() = default;
  std::atomic<uint64_t> refusals{0};
};

// Installs `context` (may be null) on the calling thread for the scope's lifetime. Scopes
// nest; a nested context's refusals are added to the one it hid when it ends.
class WorkScope {
 public:
  explicit WorkScope(WorkContext* context);
  ~WorkScope();
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;

 private:
  WorkContext* context_;
  WorkContext* previous_;
};

// The context installed on the calling thread, or null.
WorkContext* currentWorkContext();

// Bytes held for a container the library does not allocate itself (std::vector scratch,
// std::string text read from a file). Given back when destroyed.
class MemoryReservation {
 public:
  MemoryReservation() = default;
  ~MemoryReservation() { release(); }
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;

  // Holds `bytes` in place of what it held. False (reported by reserveMemory) when the
  // budget refuses them; it then holds nothing.
  bool reserve(uint64_t bytes) {
    release();
    if (!reserveMemory(bytes)) return false;
    bytes_ = bytes;
    return true;
  }
  // Holds at least `bytes`: for a container reused with a capacity that only grows.
  bool reserveAtLeast(uint64_t bytes) { return bytes <= bytes_ || reserve(bytes); }
  void release() {
    if (bytes_) releaseMemory(bytes_);
    bytes_ = 0;
  }
  uint64_t bytes() const { return bytes_; }

 private:
  uint64_t bytes_ = 0;
};

}  // namespace OSTUtils
