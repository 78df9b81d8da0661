// OstArray: the growable array behind every list, buffer and table of the library.
//
// Growth rules (callers and stored files' sizes rely on them):
//   - growing past the capacity allocates newsz + max(8, newsz / growDivisor) elements,
//     or exactly newsz with `exact` (copies, final sizes known up front);
//   - shrinking never reallocates;
//   - a failed growth leaves the array EMPTY (data null, size 0, capacity 0): the old
//     contents are gone, never half grown. SetSize never throws;
//   - the storage counts in the process-wide memory budget (MemoryLimit.h): a growth takes
//     the new storage's bytes (capacity x sizeof(T)) from it and fails as above when the
//     budget refuses them; freeing storage gives exactly those bytes back. During a growth
//     the old and the new storage are both held, and both count.
//
// Which element types may be stored
// ---------------------------------
// When the storage moves, elements are relocated with one memcpy of their bytes: no copy
// or move constructor runs and the old bytes are simply freed. An element type therefore
// must not point into itself or be registered by address anywhere. Allowed are:
//   - trivially copyable types (ints, floats, pointers, plain structs such as ZUtils::Box);
//   - class types that declare themselves relocatable with OST_BITWISE_RELOCATABLE(T)
//     after checking that they hold only such members, owned heap pointers and other
//     relocatable types (OstArray itself, mapping records, particle groups, compressor
//     zones). std::string (small-string buffer inside the object) and locks held by value
//     are NOT relocatable; keep them behind a pointer.
// The check is a static_assert that fires when SetSize is instantiated.
//
// Class elements are default-constructed in place when the size grows (or copy
// constructed from `fill`) and destroyed when it shrinks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"
#include "zutils/Report.h"
#include "zutils/platform/Memory.h"

namespace OSTUtils {

template <class T>
struct IsBitwiseRelocatable : std::is_trivially_copyable<T> {};

#define OST_BITWISE_RELOCATABLE(...) \
  template <>                        \
  struct OSTUtils::IsBitwiseRelocatable<__VA_ARGS__> : std::true_type {}

template <class T, class S>
class OstArrayBase {
  static_assert(std::is_integral<S>::value && std::is_signed<S>::value, "size type must be a signed integer");

 public:
  T* data = nullptr;
  S size = 0;
  S capacity = 0;
  S growDivisor = 4;

  OstArrayBase() = default;
  virtual ~OstArrayBase() { release(); }
  // Kept for binary layout compatibility with the array of the file writers; always 0.
  virtual int reserved() const { return 0; }

  OstArrayBase(const OstArrayBase&) = delete;
  OstArrayBase& operator=(const OstArrayBase&) = delete;

  // Sets the number of elements. `fill` (optional) is copied into new elements; without it
  // new plain elements stay uninitialised and class elements are default-constructed.
  bool SetSize(S newsz, const T* fill = nullptr, bool exact = false) {
    static_assert(IsBitwiseRelocatable<T>::value,
                  "OstArray relocates elements by memcpy: declare the type OST_BITWISE_RELOCATABLE "
                  "only if that is safe for it");
    if (newsz < 0) {
      ZUtils::logReport("[ERROR] OstArray SetSize() with a negative newsz!\n");
      return false;
    }
    if (newsz == size) return true;
    if (newsz < size) {
      destroyRange(newsz, size);
      size = newsz;
      return true;
    }
    if (newsz > capacity) {
      S headroom = 0;
      if (!exact) {
        S byDivisor = growDivisor > 0 ? newsz / growDivisor : 0;
        headroom = std::max<S>(8, byDivisor);
      }
      if (headroom > std::numeric_limits<S>::max() - newsz) {
        headroom = 0;  // cannot add headroom without overflowing the size type
      }
      const S newCapacity = newsz + headroom;
      T* fresh = allocateStorage(newCapacity);
      if (!fresh) {
        release();
        return false;
      }
      T* old = data;
      if (old && size > 0) {
        std::memcpy(static_cast<void*>(fresh), static_cast<const void*>(old), static_cast<size_t>(size) * sizeof(T));
      }
      const S oldCapacity = capacity;
      data = fresh;
      capacity = newCapacity;
      // `fill` may point into the old storage: construct before freeing it.
      constructRange(size, newsz, fill);
      size = newsz;
      freeStorage(old, oldCapacity);
      return true;
    }
    constructRange(size, newsz, fill);
    size = newsz;
    return true;
  }

  T& operator[](S i) { return data[i]; }
  const T& operator[](S i) const { return data[i]; }
  S GetSize() const { return size; }
  bool IsEmpty() const { return size == 0; }

  // Appends one element (copy of v). False when the growth failed (the array is then empty).
  bool Append(const T& v) {
    // v may live inside this array: copy it before the storage can move.
    T copy(v);
    if (!SetSize(size + 1)) return false;
    data[size - 1] = copy;
    return true;
  }

  // Removes element i, shifting later elements down.
  void RemoveAt(S i) {
    if (i < 0 || i >= size) return;
    if constexpr (std::is_trivially_copyable<T>::value) {
      std::memmove(static_cast<void*>(data + i), static_cast<const void*>(data + i + 1),
                   static_cast<size_t>(size - i - 1) * sizeof(T));
      --size;
    } else {
      // Destroy the element, slide the bytes of the rest down (relocation), and drop the
      // last slot without running a destructor on it.
      data[i].~T();
      std::memmove(static_cast<void*>(data + i), static_cast<const void*>(data + i + 1),
                   static_cast<size_t>(size - i - 1) * sizeof(T));
      --size;
    }
  }

  // Empties the array and frees its storage.
  void Free() { release(); }

 protected:
  // Storage of kLargeBlockBytes or more is aligned for large pages and advised as such
  // (channel buffers: see zutils/platform/Memory.h), and kept for reuse when freed
  // (LargeBlockCache.h); which path a block took follows from its capacity, so allocation
  // and release always agree.
  static bool isLargeBlock(S elements) {
    return static_cast<uint64_t>(elements) * sizeof(T) >= ZUtils::platform::kLargeBlockBytes;
  }

  // Large blocks settle the budget in takeLargeBlock / giveLargeBlock (a kept block stays
  // counted); the others here.
  static T* allocateStorage(S elements) {
    if (static_cast<uint64_t>(elements) > SIZE_MAX / sizeof(T)) {
      reserveMemory(UINT64_MAX);  // refused: reports it
      return nullptr;
    }
    const size_t bytes = static_cast<size_t>(elements) * sizeof(T);
    if (isLargeBlock(elements)) return static_cast<T*>(takeLargeBlock(bytes));
    if (!reserveMemory(bytes)) return nullptr;
    T* p = static_cast<T*>(::operator new(bytes, std::nothrow));
    if (!p) releaseMemory(bytes);
    return p;
  }

  static void freeStorage(T* p, S elements) {
    if (!p) return;
    const size_t bytes = static_cast<size_t>(elements) * sizeof(T);
    if (isLargeBlock(elements)) {
      giveLargeBlock(static_cast<void*>(p), bytes);
    } else {
      ::operator delete(static_cast<void*>(p));
      releaseMemory(bytes);
    }
  }

  void release() {
    if (data) {
      destroyRange(0, size);
      freeStorage(data, capacity);
    }
    data = nullptr;
    size = 0;
    capacity = 0;
  }

  void destroyRange(S from, S to) {
    if constexpr (!std::is_trivially_destructible<T>::value) {
      for (S i = from; i < to; ++i) data[i].~T();
    } else {
      (void)from;
      (void)to;
    }
  }

  void constructRange(S from, S to, const T* fill) {
    if (fill) {
      if constexpr (std::is_trivially_copyable<T>::value) {
        const T v = *fill;
        std::fill(data + from, data + to, v);
      } else if constexpr (std::is_copy_constructible<T>::value) {
        for (S i = from; i < to; ++i) new (static_cast<void*>(data + i)) T(*fill);
      } else {
        // Non-copyable elements (particle groups) cannot take a fill value.
        for (S i = from; i < to; ++i) new (static_cast<void*>(data + i)) T();
      }
    } else if constexpr (!std::is_trivially_default_constructible<T>::value) {
      for (S i = from; i < to; ++i) new (static_cast<void*>(data + i)) T();
    }
  }
};

template <class T, class S = int>
class OstArray : public OstArrayBase<T, S> {
  using Base = OstArrayBase<T, S>;

 public:
  OstArray() = default;
  // An exact-size copy, filled element by element by assignment.
  OstArray(const OstArray& other) : Base() { assignFrom(other); }
  OstArray& operator=(const OstArray& other) {
    if (this != &other) {
      this->SetSize(0, nullptr, true);
      assignFrom(other);
    }
    return *this;
  }
  ~OstArray() override = default;

 private:
  void assignFrom(const OstArray& other) {
    if (!this->SetSize(other.size, nullptr, true)) return;
    for (S i = 0; i < other.size; ++i) this->data[i] = other.data[i];
  }
};

template <class T, class S>
struct IsBitwiseRelocatable<OstArray<T, S>> : std::true_type {};

}  // namespace OSTUtils
