// C interface: version, status texts, the reason of the last failure, reports, loader
// initialisation with a thread count, the default thread count, the memory limit and the
// block cache.
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "loader/CEntry.h"
#include "loader/ImportPlugins.h"
#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/ThreadPool.h"

using CInterface::guarded;

#ifndef NEBLOADER_VERSION
#error "NEBLOADER_VERSION (the project version) must be defined by the build"
#endif

namespace {

struct Callback {
  neb_report_fn fn;
  void* user;
};

// The host's process-wide callback. Its (function, pointer) pair rides in a block of its
// own that is never freed, because a report already past the load below may still use an
// earlier pair while the host installs a new one. Installing a pair again reuses its
// block, so the blocks number the distinct pairs a host ever installed.
std::atomic<const Callback*> gCallback{nullptr};

// The library's one report callback: a report made during a call of the interface (on the
// calling thread, or on a pool thread working for it) is kept as the call's reason and goes
// to the call's frame's own callback when it has one; every other report goes to the
// host's process-wide callback.
void forward(int level, const char* text, void*) {
  if (auto* call = dynamic_cast<CInterface::CallScope*>(OSTUtils::currentWorkContext())) {
    call->keep(text);
    if (call->route().fn) {
      call->route().fn(level, text, call->route().user);
      return;
    }
  }
  if (const Callback* c = gCallback.load(std::memory_order_acquire)) c->fn(level, text, c->user);
}

std::mutex& callbackLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

const Callback* callbackBlock(neb_report_fn fn, void* user) {
  static std::vector<Callback*>* blocks = new std::vector<Callback*>;
  std::lock_guard<std::mutex> lock(callbackLock());
  for (const Callback* c : *blocks)
    if (c->fn == fn && c->user == user) return c;
  blocks->reserve(blocks->size() + 1);
  blocks->push_back(new Callback{fn, user});
  return blocks->back();
}

// Pools made by neb_initialize, newest last; neb_finalize stops the newest.
std::mutex& poolLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::vector<ZUtils::ThreadManager*>& pools() {
  static std::vector<ZUtils::ThreadManager*>* p = new std::vector<ZUtils::ThreadManager*>;
  return *p;
}

}  // namespace

extern "C" {

const char* neb_version(void) { return NEBLOADER_VERSION; }

int neb_version_number(void) { return NEB_VERSION_NUMBER; }

const char* neb_status_string(int status) {
  switch (status) {
    case NEB_OK: return "success";
    case NEB_E_ARGUMENT: return "bad argument";
    case NEB_E_BUFFER: return "buffer too small";
    case NEB_E_ABSENT: return "not present";
    case NEB_E_DECODE: return "stored data cannot be decoded";
    case NEB_E_WRITE: return "cannot write the frame";
    case NEB_E_MEMORY: return "out of memory or over the memory budget";
    case NEB_E_PARSE: return "malformed text";
    case NEB_E_FAILED: return "failed";
    case NEB_LOAD_STATUS(2): return "cannot load the frame: the import plug-in is not installed";
    case NEB_LOAD_STATUS(3): return "cannot load the frame: bad path or extension, or the file cannot be opened";
    case NEB_LOAD_STATUS(4): return "cannot load the frame: broken file";
    case NEB_LOAD_STATUS(9): return "cannot load the frame: no grid of the file maps to a channel";
    case NEB_LOAD_STATUS(12): return "cannot load the frame: nebu2 footer missing";
    default: return status < NEB_E_LOAD ? "cannot load the frame" : "unknown status";
  }
}

int neb_last_error(char* buffer, long long size) {
  // Not a guarded call: asking for the reason must not replace it.
  if (size < 0 || (!buffer && size > 0)) return NEB_E_ARGUMENT;
  size_t length = 0;
  const char* reason = CInterface::lastErrorOfThread(length);
  if (size > 0) {
    const size_t n = length < static_cast<unsigned long long>(size) ? length : static_cast<size_t>(size - 1);
    std::memcpy(buffer, reason, n);
    buffer[n] = '\0';
  }
  return static_cast<int>(length);
}

void neb_set_report_callback(neb_report_fn callback, void* user) {
  guarded("neb_set_report_callback", [&]() {
    gCallback.store(callback ? callbackBlock(callback, user) : nullptr, std::memory_order_release);
    return NEB_OK;
  });
}

int neb_initialize(const char* search_paths, const char* suffix, int threads) {
  return guarded("neb_initialize", [&]() {
    if (threads < 0) return CacheIO::InitializeLoader(search_paths, suffix, 0, nullptr, false);
    std::lock_guard<std::mutex> lock(poolLock());
    pools().reserve(pools().size() + 1);
    ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
    if (!pool) {
      ZUtils::logReport("[ERROR] neb_initialize: no thread pool could be made\n");
      return NEB_E_MEMORY;
    }
    ZUtils::setDefaultThreadCount(threads);  // 0: the environment's count again
    const int mask = CacheIO::InitializeLoader(search_paths, suffix, 0, pool, true);
    // As with initalizeNebuLoader, the pool is taken on only when a plug-in is ready.
    if (mask == 0) {
      ZUtils::destroyPoolThreadManager(pool);
    } else {
      pools().push_back(pool);
    }
    return mask;
  });
}

void neb_finalize(void) {
  guarded("neb_finalize", []() {
    CacheIO::FinalizeLoader();
    std::lock_guard<std::mutex> lock(poolLock());
    if (!pools().empty()) {
      ZUtils::destroyPoolThreadManager(pools().back());
      pools().pop_back();
    }
    return NEB_OK;
  });
}

int neb_default_thread_count(void) {
  return guarded("neb_default_thread_count", []() { return ZUtils::defaultThreadCount(); });
}

// The getters cannot fail; the setters take a lock that could only fail by throwing.
unsigned long long neb_memory_limit(void) { return OSTUtils::memoryLimitBytes(); }

void neb_set_memory_limit(unsigned long long bytes) {
  guarded("neb_set_memory_limit", [&]() {
    OSTUtils::setMemoryLimitBytes(bytes);
    return NEB_OK;
  });
}

unsigned long long neb_memory_held(void) { return OSTUtils::memoryHeldBytes(); }

unsigned long long neb_block_cache_limit(void) {
  unsigned long long bytes = 0;
  guarded("neb_block_cache_limit", [&]() {
    bytes = OSTUtils::largeBlockCacheLimit();
    return NEB_OK;
  });
  return bytes;
}

unsigned long long neb_block_cache_bytes(void) {
  unsigned long long bytes = 0;
  guarded("neb_block_cache_bytes", [&]() {
    bytes = OSTUtils::largeBlockCacheBytes();
    return NEB_OK;
  });
  return bytes;
}

void neb_set_block_cache_limit(unsigned long long bytes) {
  guarded("neb_set_block_cache_limit", [&]() {
    OSTUtils::setLargeBlockCacheLimit(bytes);
    return NEB_OK;
  });
}

}  // extern "C"

namespace CInterface {

void ensureReportForwarding() {
  static std::atomic<bool> installed{false};
  if (installed.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(callbackLock());
  if (installed.load(std::memory_order_relaxed)) return;
  ZUtils::setReportCallback(&forward, nullptr);
  installed.store(true, std::memory_order_release);
}

}  // namespace CInterface
