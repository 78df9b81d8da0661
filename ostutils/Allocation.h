// Raw buffer allocation that never throws.
//
// newArray / newZeroedArray / newObject hand out storage through an output pointer and
// return whether they succeeded; an exhausted heap is reported through logReport and
// becomes a false result, never an exception.
//
// Storage from newArray and newZeroedArray comes from the C heap (malloc / calloc), so the
// one release function releaseArray() suits it whichever path produced it: newZeroedArray
// may fall back to newArray plus memset when calloc fails.
//
// Both check the process-wide limit (MemoryLimit.h) first: a request over it fails like
// an exhausted heap, with the limit's report and no retry. These functions are for plain
// element types only (trivially constructible and destructible); objects go through
// newObject / releaseObject.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "ostutils/MemoryLimit.h"
#include "zutils/Report.h"

namespace OSTUtils {

// Heap entry points, replaceable by tests to simulate an exhausted heap. Production code
// never changes them.
struct HeapHooks {
  void* (*allocate)(size_t bytes);
  void* (*allocateZeroed)(size_t count, size_t size);
};
inline HeapHooks& heapHooks() {
  static HeapHooks hooks = {&std::malloc, &std::calloc};
  return hooks;
}
inline void resetHeapHooks() { heapHooks() = HeapHooks{&std::malloc, &std::calloc}; }

template <class T>
bool newArray(T*& out, uint64_t count) {
  static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                "newArray is for plain element types");
  out = nullptr;
  // A byte size that does not fit 64 bits asks for the impossible: fail without a message,
  // as a null from the allocator would.
  if (count > UINT64_MAX / sizeof(T) || count * sizeof(T) > SIZE_MAX) return false;
  size_t bytes = static_cast<size_t>(count * sizeof(T));
  if (!withinMemoryLimit(bytes)) return false;
  try {
    out = static_cast<T*>(heapHooks().allocate(bytes ? bytes : 1));
  } catch (...) {
    out = nullptr;
    ZUtils::logReport("[ERROR] newArray failed to allocate %.0f\n", static_cast<double>(static_cast<float>(count)));
  }
  return out != nullptr;
}

template <class T>
bool newZeroedArray(T*& out, uint64_t count) {
  static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                "newZeroedArray is for plain element types");
  out = nullptr;
  if (!withinMemoryLimit(count > UINT64_MAX / sizeof(T) ? UINT64_MAX : count * sizeof(T))) return false;
  errno = 0;
  try {
    out = static_cast<T*>(heapHooks().allocateZeroed(static_cast<size_t>(count ? count : 1), sizeof(T)));
    if (errno == ENOMEM) {
      if (out) std::free(out);
      out = nullptr;
      ZUtils::logReport("[ERROR] newZeroedArray failed to allocate ENOMEM %.0f\n",
                        static_cast<double>(static_cast<float>(count)));
    }
  } catch (...) {
    out = nullptr;
    ZUtils::logReport("[ERROR] newZeroedArray failed to allocate except %.0f\n",
                      static_cast<double>(static_cast<float>(count)));
  }
  if (out) return true;
  ZUtils::logReport("Retry newZeroedArray with newArray and memset\n");
  bool ok = newArray(out, count);
  if (ok) std::memset(out, 0, static_cast<size_t>(count * sizeof(T)));
  ZUtils::logReport("Retry newZeroedArray with newArray and memset result = %d\n", ok ? 1 : 0);
  return ok;
}

// Releases storage from newArray or newZeroedArray and clears the pointer. Null is fine.
template <class T>
void releaseArray(T*& p) {
  std::free(p);
  p = nullptr;
}

template <class T>
bool newObject(T*& out) {
  try {
    out = new (std::nothrow) T;
  } catch (...) {
    out = nullptr;
    ZUtils::logReport("[ERROR] newObject failed to allocate!\n");
  }
  return out != nullptr;
}

template <class T>
void releaseObject(T*& p) {
  delete p;
  p = nullptr;
}

}  // namespace OSTUtils
