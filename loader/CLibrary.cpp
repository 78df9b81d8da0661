// C interface: version, report callback, loader initialisation with a thread count, the
// default thread count, the memory limit and the block cache.
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

int levelOf(const char* text) {
  if (std::strncmp(text, "[ERROR]", 7) == 0) return NEB_REPORT_ERROR;
  if (std::strncmp(text, "[WARNING]", 9) == 0) return NEB_REPORT_WARNING;
  if (std::strncmp(text, "OstraneFrameData refCount", 25) == 0) return NEB_REPORT_DEBUG;
  return NEB_REPORT_INFO;
}

// The report layer keeps one (function, pointer) pair; the host's pair rides in a block
// of its own that is never freed, because a report already past the report lock may still
// use an earlier pair while the host installs a new one. Installing a pair again reuses
// its block, so the blocks number the distinct pairs a host ever installed.
void forward(const char* text, void* user) {
  const Callback* c = static_cast<const Callback*>(user);
  c->fn(levelOf(text), text, c->user);
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

void neb_set_report_callback(neb_report_fn callback, void* user) {
  guarded("neb_set_report_callback", [&]() {
    if (!callback) {
      ZUtils::setReportCallback(nullptr, nullptr);
      return NEB_OK;
    }
    ZUtils::setReportCallback(&forward, const_cast<Callback*>(callbackBlock(callback, user)));
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
