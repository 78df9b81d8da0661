// Record lists of the worker pool: records live in fixed blocks chained together, so a
// record never moves once created (threads keep pointers to them) and a list grows
// without copying. A failed block allocation throws ExceptionMsg; the pool's public entry
// points catch it and report a failure status, so it never leaves the library.
#pragma once

#include <new>

#include "zutils/Report.h"

namespace ZUtils {

template <class T, int N>
class SequenceBlockList {
 public:
  SequenceBlockList() = default;
  ~SequenceBlockList() { clear(); }
  SequenceBlockList(const SequenceBlockList&) = delete;
  SequenceBlockList& operator=(const SequenceBlockList&) = delete;

  int size() const { return size_; }

  T& at(int i) {
    Block* b = first_;
    while (i >= N) {
      b = b->next;
      i -= N;
    }
    return *reinterpret_cast<T*>(b->slots[i]);
  }

  // A new default-constructed record at the end.
  T& append() {
    int slot = size_ % N;
    if (slot == 0 && blockFor(size_) == nullptr) {
      Block* b = new (std::nothrow) Block;
      if (!b) throw ExceptionMsg("[_SequenceBlock] Could not allocate memory");
      b->next = nullptr;
      if (last_) {
        last_->next = b;
      } else {
        first_ = b;
      }
      last_ = b;
    }
    Block* b = blockFor(size_);
    T* item = new (static_cast<void*>(b->slots[slot])) T();
    ++size_;
    return *item;
  }

  // Destroys the last record (undoes a failed append's follow-up).
  void removeLast() {
    if (size_ == 0) return;
    at(size_ - 1).~T();
    --size_;
  }

  // Destroys every record and frees the blocks.
  void clear() {
    for (int i = 0; i < size_; ++i) at(i).~T();
    Block* b = first_;
    while (b) {
      Block* next = b->next;
      delete b;
      b = next;
    }
    first_ = last_ = nullptr;
    size_ = 0;
  }

 private:
  struct Block {
    alignas(T) unsigned char slots[N][sizeof(T)];
    Block* next;
  };
  Block* blockFor(int index) {
    Block* b = first_;
    for (int i = index / N; b && i > 0; --i) b = b->next;
    return b;
  }
  Block* first_ = nullptr;
  Block* last_ = nullptr;
  int size_ = 0;
};

}  // namespace ZUtils
