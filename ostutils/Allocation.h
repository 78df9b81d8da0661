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
// Both take the request's bytes from the process-wide memory budget (MemoryLimit.h) first:
// a request the budget refuses fails like an exhausted heap, with the budget's report and
// no retry. releaseArray gives the bytes back: each block carries its byte count in a
// header in front of the elements (kArrayHeaderBytes, as large as the heap's alignment so
// the elements keep it), which is why such storage must only ever be released with
// releaseArray, never with free(). These functions are for plain element types only
// (trivially constructible and destructible); objects go through newObject /
// releaseObject.
#pragma once

#include <cerrno>
#include <cstddef>
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

// 16 at least: the heaps of 64-bit systems align to 16 even where max_align_t says 8.
constexpr size_t kArrayHeaderBytes = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;
static_assert(kArrayHeaderBytes >= sizeof(uint64_t), "the header holds a 64-bit byte count");

namespace detail {
// Writes the byte count into the header of a block from the heap; the elements follow it.
inline void* arrayAfterHeader(void* block, uint64_t bytes) {
  std::memcpy(block, &bytes, sizeof bytes);
  return static_cast<char*>(block) + kArrayHeaderBytes;
}
}  // namespace detail

template <class T>
bool newArray(T*& out, uint64_t count) {
  static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                "newArray is for plain element types");
  out = nullptr;
  // A byte size that does not fit 64 bits asks for the impossible: fail without a message,
  // as a null from the allocator would.
  if (count > UINT64_MAX / sizeof(T) || count * sizeof(T) > SIZE_MAX - kArrayHeaderBytes) return false;
  const size_t bytes = static_cast<size_t>(count * sizeof(T));
  if (!reserveMemory(bytes)) return false;
  void* block = nullptr;
  try {
    block = heapHooks().allocate(kArrayHeaderBytes + bytes);
  } catch (...) {
    block = nullptr;
    ZUtils::logReport("[ERROR] newArray failed to allocate %.0f\n", static_cast<double>(static_cast<float>(count)));
  }
  if (!block) {
    releaseMemory(bytes);
    return false;
  }
  out = static_cast<T*>(detail::arrayAfterHeader(block, bytes));
  return true;
}

template <class T>
bool newZeroedArray(T*& out, uint64_t count) {
  static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                "newZeroedArray is for plain element types");
  out = nullptr;
  const uint64_t bytes = count > UINT64_MAX / sizeof(T) ? UINT64_MAX : count * sizeof(T);
  if (!reserveMemory(bytes)) return false;
  void* block = nullptr;
  errno = 0;
  try {
    // A size past what the heap can address fails here like calloc's own overflow check.
    if (bytes > SIZE_MAX - kArrayHeaderBytes)
      errno = ENOMEM;
    else
      block = heapHooks().allocateZeroed(1, static_cast<size_t>(kArrayHeaderBytes + bytes));
    if (errno == ENOMEM) {
      if (block) std::free(block);
      block = nullptr;
      ZUtils::logReport("[ERROR] newZeroedArray failed to allocate ENOMEM %.0f\n",
                        static_cast<double>(static_cast<float>(count)));
    }
  } catch (...) {
    block = nullptr;
    ZUtils::logReport("[ERROR] newZeroedArray failed to allocate except %.0f\n",
                      static_cast<double>(static_cast<float>(count)));
  }
  if (block) {
    out = static_cast<T*>(detail::arrayAfterHeader(block, bytes));
    return true;
  }
  // newArray takes the bytes again for itself.
  releaseMemory(bytes);
  ZUtils::logReport("Retry newZeroedArray with newArray and memset\n");
  bool ok = newArray(out, count);
  if (ok) std::memset(out, 0, static_cast<size_t>(count * sizeof(T)));
  ZUtils::logReport("Retry newZeroedArray with newArray and memset result = %d\n", ok ? 1 : 0);
  return ok;
}

// Releases storage from newArray or newZeroedArray, gives its bytes back to the budget and
// clears the pointer. Null is fine.
template <class T>
void releaseArray(T*& p) {
  if (!p) return;
  char* block = reinterpret_cast<char*>(const_cast<typename std::remove_cv<T>::type*>(p)) - kArrayHeaderBytes;
  uint64_t bytes = 0;
  std::memcpy(&bytes, block, sizeof bytes);
  std::free(block);
  releaseMemory(bytes);
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
