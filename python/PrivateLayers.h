// C interface of libnebpy_layers.so, the Python package's private copy of the layers that
// libnebloader.so does not export: the nebu2 writer and the frame-pattern expansion.
//
// Why a separate shared object: the extension module reads every frame through
// libnebloader.so (one frame registry, one plug-in table, one report sink, shared with the
// vdbport plug-in). Linking the static layers into the extension itself would let the
// linker bind some of their references to the copies libnebloader.so exports (logReport,
// the memory-limit check) and others to the static copies, depending on link order.
// Here the layers are linked into their own object with -Bsymbolic and a version script
// that exports only the functions below, so every internal reference stays inside this
// copy, and nothing but plain arrays, numbers and paths crosses the boundary. The copy's
// global state is deliberately independent: its report sink is pointed at the same file
// as the library's (nebpySetReportFilePath), its memory limit is read from
// NEB_MEMORY_LIMIT_MB like the library's, and it never touches a frame registry or
// thread-manager stack (so writing compresses on the calling thread).
#pragma once

#include <cstdint>

#define NEBPY_API extern "C" __attribute__((visibility("default")))

struct NebPyGroupChannel {
  int slot;
  const void* data;  // particleCount * bytes-per-particle of the slot, in memory order
};

struct NebPyGroup {
  const char* name;
  int particleCount;
  int groupType;
  const NebPyGroupChannel* channels;
  int channelCount;
};

struct NebPyFrame {
  int grid[3];
  float transform[12];  // world-to-grid: 3x3 by rows (row-vector convention), then offset
  int frameNumber;
  int version;
  int precisionBits;  // 0: lossless grid channels; 1..19: quantized to that many bits
  const int* channelNumbers;
  const float* const* channelValues;  // nx*ny*nz floats each, x fastest
  int channelCount;
  const NebPyGroup* groups;
  int groupCount;
};

// Writes the frame to `path` (UTF-8). 1 on success; 0 with the reason reported.
NEBPY_API int nebpyWriteFrame(const char* path, const NebPyFrame* frame);

// Expands the frame tokens of `pattern` for `frame` into buffer (NUL-terminated, cut to
// size - 1). Returns the full length of the expanded text.
NEBPY_API int nebpyExpandFramePattern(const char* pattern, int frame, char* buffer, int size);
NEBPY_API int nebpyHasFramePattern(const char* pattern);

// The fixed layout of particle slot `slot` (0..31): 32-bit words per particle, components
// and type code (10 float, 7 64-bit identifier, 6 integer, 0 other). 0 for a bad slot.
NEBPY_API int nebpySlotLayout(int slot, int* words, int* components, int* typeCode);

// Report file of this copy of the layers (null or "" turns it off).
NEBPY_API void nebpySetReportFilePath(const char* path);
