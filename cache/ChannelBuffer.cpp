#include "cache/ChannelBuffer.h"

#include <new>

ChannelBuffer* ChannelBuffer::create(const int gridSize[3]) {
  ChannelBuffer* b = new (std::nothrow) ChannelBuffer();
  if (!b) return nullptr;
  for (int i = 0; i < 3; ++i) b->gridSize[i] = gridSize[i];
  return b;
}

void ChannelBuffer::release() {
  // acq_rel: the thread that frees must see every write made through other references.
  if (refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}
