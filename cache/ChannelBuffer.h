// Decoded values of one grid channel, shared between the frame's channel slot and anyone
// the buffer was handed to. Reference counted: the slot holds one reference; the buffer is
// freed when the last one is dropped.
#pragma once

#include <atomic>
#include <cstdint>

#include "ostutils/OstArray.h"

class ChannelBuffer {
 public:
  // A fresh buffer with one reference and the grid size it was made for; null when the
  // object itself cannot be allocated.
  static ChannelBuffer* create(const int gridSize[3]);

  void retain() { refCount.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference; the last one deletes the buffer.
  void release();

  std::atomic<int32_t> refCount{1};
  OSTUtils::OstArray<float, int64_t> values;
  int32_t gridSize[3] = {0, 0, 0};

 private:
  ChannelBuffer() = default;
  ~ChannelBuffer() = default;
};
