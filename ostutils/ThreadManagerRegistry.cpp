#include <mutex>

#include "ostutils/OstParallel.h"

namespace OSTUtils {

namespace {

// Created on the first registration, deleted when it becomes empty. Registration and
// lookups may come from different threads (a host finalising while a job sets up), so a
// small lock guards it.
OstArray<ZUtils::ThreadManager*, int>* g_managers = nullptr;

std::mutex& registryLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

}  // namespace

void RegisterThreadManager(ZUtils::ThreadManager* manager) {
  std::lock_guard<std::mutex> lock(registryLock());
  if (!g_managers) {
    g_managers = new (std::nothrow) OstArray<ZUtils::ThreadManager*, int>();
    if (!g_managers) return;
  }
  g_managers->Append(manager);
}

void UnregisterLastThreadManager() {
  std::lock_guard<std::mutex> lock(registryLock());
  if (!g_managers) return;
  if (g_managers->size > 0) g_managers->SetSize(g_managers->size - 1);
  if (g_managers->size == 0) {
    delete g_managers;
    g_managers = nullptr;
  }
}

ZUtils::ThreadManager* CurrentThreadManager() {
  std::lock_guard<std::mutex> lock(registryLock());
  if (!g_managers || g_managers->size == 0) return nullptr;
  return g_managers->data[g_managers->size - 1];
}

}  // namespace OSTUtils
