// The process-wide allocation limit.
//
// Sizes read from a file decide how much the library allocates: channel buffers, particle
// channels, decoder tables, scratch arrays, inflate output. A damaged or hostile file can
// name any size, and on systems that overcommit a huge request "succeeds" and the process
// dies later when the pages are touched. So every allocation whose size comes from a file
// is checked against one limit before it is made; a request over it fails exactly like an
// exhausted heap (false / null / empty array), with one report naming both sizes.
//
// The limit is per allocation, not a running total. Default: the machine's physical
// memory. The environment variable NEB_MEMORY_LIMIT_MB (a positive decimal number of
// MiB) replaces it; it is read once, on the first check. Hosts and tests may set it
// directly with setMemoryLimitBytes.
//
// newArray, newZeroedArray (Allocation.h) and OstArray growth (OstArray.h) check the limit
// themselves; code that allocates otherwise (std::vector, new[]) with a size from a file
// calls withinMemoryLimit first.
#pragma once

#include <cstdint>

#include "zutils/PluginExport.h"

namespace OSTUtils {

// True when an allocation of `bytes` is allowed. Otherwise reports
// "[ERROR] allocation of %llu bytes exceeds the memory limit of %llu bytes\n" and
// returns false. Called from OstArray's inline growth, hence also from plug-ins.
NEB_PLUGIN_API bool withinMemoryLimit(uint64_t bytes);

// The limit in bytes (reads NEB_MEMORY_LIMIT_MB on first use).
uint64_t memoryLimitBytes();

// Replaces the limit; 0 restores the default (environment, else physical memory), read
// again. For tests and hosts; takes effect for allocations that start afterwards.
void setMemoryLimitBytes(uint64_t bytes);

}  // namespace OSTUtils
