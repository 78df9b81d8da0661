#include "cache/CacheFileLock.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "cache/OstraneFrameData.h"
#include "zutils/platform/FileLock.h"
#include "zutils/platform/Misc.h"

namespace {

std::atomic<int> gRetryAttempts{30};
std::atomic<int> gRetryIntervalMs{200};

std::mutex& openSetLock() {
  static std::mutex m;
  return m;
}

// Keys are the addresses of callers' path buffers (see the header).
std::set<const void*>& openSet() {
  static std::set<const void*> keys;
  return keys;
}

bool insertKey(const void* key) {
  std::lock_guard<std::mutex> guard(openSetLock());
  return openSet().insert(key).second;
}

void removeKey(const void* key) {
  std::lock_guard<std::mutex> guard(openSetLock());
  openSet().erase(key);
}

}  // namespace

void SetCacheFileRetry(int attempts, int intervalMs) {
  gRetryAttempts.store(std::max(1, attempts));
  gRetryIntervalMs.store(std::max(0, intervalMs));
}

int CacheFileRetryAttempts() { return gRetryAttempts.load(); }
int CacheFileRetryIntervalMs() { return gRetryIntervalMs.load(); }

bool LockCacheFile(OstraneFrameData* /*frame*/, FILE* file, const char* path, bool exclusive) {
  const int attempts = CacheFileRetryAttempts();
  const int interval = CacheFileRetryIntervalMs();
  bool inserted = false;
  for (int pass = 0; pass < attempts; ++pass) {
    if (insertKey(path)) {
      inserted = true;
      break;
    }
    ZUtils::platform::sleepMs(interval);
  }
  if (!inserted) return false;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) ZUtils::platform::sleepMs(interval);
    if (ZUtils::platform::lockFileNoWait(file, exclusive)) return true;
  }
  removeKey(path);
  return false;
}

bool ReleaseCacheFile(OstraneFrameData* frame, FILE* file, const char* path) {
  bool ok = true;
  if (frame && frame->flushOnRelease) ok = ZUtils::platform::flushFileToDisk(file);
  ok = ZUtils::platform::unlockFile(file) && ok;
  ok = (std::fclose(file) == 0) && ok;
  removeKey(path);
  return ok;
}
