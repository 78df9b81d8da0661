#include "ostutils/LargeBlockCache.h"

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>

#include "ostutils/MemoryLimit.h"
#include "zutils/Report.h"
#include "zutils/platform/Memory.h"

namespace OSTUtils {

namespace {

struct Kept {
  void* block;
  size_t bytes;
};

// Never destroyed: arrays that outlive static destruction still give their blocks back.
struct Cache {
  std::mutex lock;
  std::deque<Kept> kept;  // oldest first
  uint64_t bytes = 0;
  uint64_t limit = 0;
  bool limitRead = false;
};

Cache& cache() {
  static Cache* c = new Cache;
  return *c;
}

// Really frees a block and gives its bytes back to the budget.
void freeBlock(void* block, size_t bytes) {
  ::operator delete(block, std::align_val_t(ZUtils::platform::kLargeBlockAlignment));
  releaseMemory(bytes);
}

// Releases the oldest kept block. Lock held; the cache is not empty.
void releaseOldest(Cache& c) {
  freeBlock(c.kept.front().block, c.kept.front().bytes);
  c.bytes -= c.kept.front().bytes;
  c.kept.pop_front();
}

uint64_t defaultLimit() {
  if (const char* text = std::getenv("NEB_BLOCK_CACHE_MB")) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long mb = std::strtoull(text, &end, 10);
    if (errno == 0 && end != text && *end == '\0' && text[0] != '-')
      return mb > (UINT64_MAX >> 20) ? UINT64_MAX : static_cast<uint64_t>(mb) << 20;
    ZUtils::logReport("[WARNING] NEB_BLOCK_CACHE_MB=\"%s\" is not a number of MiB; ignored\n", text);
  }
  uint64_t limit = ZUtils::platform::physicalMemoryBytes() / 8;
  if (limit > (uint64_t(2) << 30)) limit = uint64_t(2) << 30;
  if (limit > memoryLimitBytes() / 2) limit = memoryLimitBytes() / 2;
  return limit;
}

// Lock held.
uint64_t limitOf(Cache& c) {
  if (!c.limitRead) {
    c.limit = defaultLimit();
    c.limitRead = true;
  }
  return c.limit;
}

// Releases the oldest kept blocks until `room` more bytes fit the limit. Lock held.
void makeRoom(Cache& c, uint64_t room) {
  limitOf(c);
  while (!c.kept.empty() && c.bytes + room > c.limit) releaseOldest(c);
}

}  // namespace

void* takeLargeBlock(size_t bytes) {
  Cache& c = cache();
  {
    std::lock_guard<std::mutex> hold(c.lock);
    // Newest first: the block freed last is the likeliest still in the caches.
    for (auto it = c.kept.rbegin(); it != c.kept.rend(); ++it) {
      if (it->bytes != bytes) continue;
      void* block = it->block;
      c.bytes -= bytes;
      c.kept.erase(std::next(it).base());
      return block;
    }
  }
  if (!reserveMemory(bytes)) return nullptr;
  void* block = ::operator new(bytes, std::align_val_t(ZUtils::platform::kLargeBlockAlignment), std::nothrow);
  if (!block) {
    releaseMemory(bytes);
    return nullptr;
  }
  ZUtils::platform::adviseLargeBlock(block, bytes);
  return block;
}

void giveLargeBlock(void* block, size_t bytes) {
  if (!block) return;
  Cache& c = cache();
  {
    std::lock_guard<std::mutex> hold(c.lock);
    // A block larger than the whole total is not worth evicting the others for.
    if (bytes <= limitOf(c)) {
      makeRoom(c, bytes);
      c.kept.push_back(Kept{block, bytes});
      c.bytes += bytes;
      return;
    }
  }
  freeBlock(block, bytes);
}

uint64_t largeBlockCacheLimit() {
  Cache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  return limitOf(c);
}

uint64_t largeBlockCacheBytes() {
  Cache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  return c.bytes;
}

void setLargeBlockCacheLimit(uint64_t bytes) {
  Cache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  c.limit = bytes;
  c.limitRead = true;
  makeRoom(c, 0);
}

void releaseLargeBlocksFor(uint64_t bytes, uint64_t budget) {
  Cache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  while (!c.kept.empty() && (bytes > budget || memoryHeldBytes() > budget - bytes)) releaseOldest(c);
}

}  // namespace OSTUtils
