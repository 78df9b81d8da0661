// Platform layer: processor counts and the NUMA node layout.
#pragma once

#include "zutils/platform/Affinity.h"

namespace ZUtils {
namespace platform {

// Processors currently online; at least 1.
int onlineProcessorCount();

// Parses a kernel processor list such as "0-3,8,10-11\n". False on malformed text or a
// processor number beyond CpuMask::kMaxCpus.
bool parseCpuList(const char* text, CpuMask* out);

// Reads the processor lists of the NUMA nodes found in `nodeDir` (normally
// "/sys/devices/system/node": one "node<N>/cpulist" per node), in ascending node number,
// into masks[0 .. result-1]. -1 when the directory or any list is missing or malformed, or
// there are more than maxNodes nodes: callers then treat the machine as one node.
int readNumaNodeMasks(const char* nodeDir, CpuMask* masks, int maxNodes);

// The machine's NUMA nodes as the system reports them, with the same result convention:
// on Linux readNumaNodeMasks of "/sys/devices/system/node", on Windows the nodes' group
// affinities (processor numbers as in Affinity.h: group * 64 + bit).
int systemNumaNodeMasks(CpuMask* masks, int maxNodes);

}  // namespace platform
}  // namespace ZUtils
