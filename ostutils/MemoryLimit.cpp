#include "ostutils/MemoryLimit.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "ostutils/LargeBlockCache.h"
#include "zutils/Report.h"
#include "zutils/platform/Memory.h"

namespace OSTUtils {

namespace {

// 0 = not read yet. A budget of 0 bytes cannot be asked for (0 means "default").
std::atomic<uint64_t> gLimit{0};
// Bytes held. Constant-initialised and trivially destructible: arrays freed during static
// destruction still give their bytes back.
std::atomic<uint64_t> gHeld{0};
thread_local WorkContext* tContext = nullptr;

uint64_t defaultLimit() {
  if (const char* text = std::getenv("NEB_MEMORY_LIMIT_MB")) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long mb = std::strtoull(text, &end, 10);
    if (errno == 0 && end != text && *end == '\0' && mb > 0 && text[0] != '-') {
      return mb > (UINT64_MAX >> 20) ? UINT64_MAX : static_cast<uint64_t>(mb) << 20;
    }
    ZUtils::logReport("[WARNING] NEB_MEMORY_LIMIT_MB=\"%s\" is not a positive number of MiB; ignored\n", text);
  }
  const uint64_t physical = ZUtils::platform::physicalMemoryBytes();
  return physical ? physical : UINT64_MAX;
}

// One attempt to add `bytes` to the total without passing `limit`.
bool tryTake(uint64_t bytes, uint64_t limit) {
  uint64_t held = gHeld.load(std::memory_order_relaxed);
  while (bytes <= limit && held <= limit - bytes) {
    if (gHeld.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed)) return true;
  }
  return false;
}

}  // namespace

uint64_t memoryLimitBytes() {
  uint64_t limit = gLimit.load(std::memory_order_relaxed);
  if (limit == 0) {
    // Two first callers may both read the environment; they store the same value.
    limit = defaultLimit();
    uint64_t expected = 0;
    if (!gLimit.compare_exchange_strong(expected, limit, std::memory_order_relaxed)) limit = expected;
  }
  return limit;
}

void setMemoryLimitBytes(uint64_t bytes) { gLimit.store(bytes ? bytes : defaultLimit(), std::memory_order_relaxed); }

uint64_t memoryHeldBytes() { return gHeld.load(std::memory_order_relaxed); }

bool reserveMemory(uint64_t bytes) {
  const uint64_t limit = memoryLimitBytes();
  if (tryTake(bytes, limit)) return true;
  // Kept blocks are memory nobody uses: give them back before refusing. Another thread
  // may take the room first; then this request fails like any other over the budget.
  if (bytes <= limit) {
    releaseLargeBlocksFor(bytes, limit);
    if (tryTake(bytes, limit)) return true;
  }
  if (WorkContext* c = tContext) c->refusals.fetch_add(1, std::memory_order_relaxed);
  ZUtils::logReport("[ERROR] allocation of %llu bytes refused: %llu bytes held of the memory budget of %llu bytes\n",
                    static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(memoryHeldBytes()),
                    static_cast<unsigned long long>(limit));
  return false;
}

void releaseMemory(uint64_t bytes) { gHeld.fetch_sub(bytes, std::memory_order_relaxed); }

WorkScope::WorkScope(WorkContext* context) : context_(context), previous_(tContext) { tContext = context; }

WorkScope::~WorkScope() {
  tContext = previous_;
  // A pool thread forwarding its runner's context hides nothing of its own (previous_ is
  // null there); a nested caller hands its count on to the enclosing one.
  if (previous_ && context_ && previous_ != context_)
    previous_->refusals.fetch_add(context_->refusals.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

WorkContext* currentWorkContext() { return tContext; }

}  // namespace OSTUtils
