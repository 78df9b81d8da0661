// One fuzz target per file. A target is an ordinary function
//
//   NEB_FUZZ_TARGET(name) { ... return 0; }   // defines int nebFuzz_name(const uint8_t*, size_t)
//
// so that the regression replay test (built with the project's normal compiler) can link
// every target into one program. The fuzzer executables are compiled with
// NEB_FUZZ_ENTRY_POINT, which adds libFuzzer's entry point forwarding to the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(NEB_FUZZ_ENTRY_POINT)
#define NEB_FUZZ_ENTRY(name)                                                      \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {     \
    return nebFuzz_##name(data, size);                                            \
  }
#else
#define NEB_FUZZ_ENTRY(name)
#endif

#define NEB_FUZZ_TARGET(name)                                \
  int nebFuzz_##name(const uint8_t* data, size_t size);      \
  NEB_FUZZ_ENTRY(name)                                       \
  int nebFuzz_##name(const uint8_t* data, size_t size)

namespace nebfuzz {

// Takes small numbers off the front of the input; past the end every value is 0.
struct Input {
  const uint8_t* data;
  size_t size;

  uint32_t take(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      v |= static_cast<uint32_t>(size ? *data : 0) << (8 * i);
      if (size) ++data, --size;
    }
    return v;
  }
};

// Writes the input to a file of this process (under /dev/shm, or /tmp) with the given name
// (which fixes the extension the loader dispatches on) and returns its path, or null.
const char* writeTempFile(const char* name, const uint8_t* data, size_t size);

// Reads the first and last value of a channel the frame handed out, so a buffer shorter
// than the grid shows as an out-of-bounds read. A frame hands out channels only for grids
// whose cells can be counted: an overflowing count traps.
inline float touchChannel(const float* values, const int n[3]) {
  long long cells = 0;
  if (n[0] <= 0 || n[1] <= 0 || n[2] <= 0) return 0.0f;
  if (__builtin_mul_overflow(static_cast<long long>(n[0]), n[1], &cells) ||
      __builtin_mul_overflow(cells, static_cast<long long>(n[2]), &cells)) {
    __builtin_trap();
  }
  return values[0] + values[cells - 1];
}

}  // namespace nebfuzz
