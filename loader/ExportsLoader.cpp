// Exported loader initialisation, finalisation and the default thread manager.
#include "loader/ExportGuard.h"
#include "loader/ImportPlugins.h"
#include "nebloader.h"
#include "zutils/ThreadPool.h"

using CacheIO::guardedExport;

int initalizeNebuLoader(const char* searchPaths, const char* suffix, int value) {
  return guardedExport<int>("initalizeNebuLoader", 0, [&]() {
    return CacheIO::InitializeLoader(searchPaths, suffix, value, nullptr, false);
  });
}

int initalizeNebuLoader(const char* searchPaths, const char* suffix, int value, ZUtils::ThreadManager* manager) {
  return guardedExport<int>("initalizeNebuLoader", 0, [&]() {
    return CacheIO::InitializeLoader(searchPaths, suffix, value, manager, true);
  });
}

void finalizeNebuLoader() {
  guardedExport<int>("finalizeNebuLoader", 0, []() {
    CacheIO::FinalizeLoader();
    return 0;
  });
}

ZUtils::ThreadManager* createDefaultThreadManager() {
  return guardedExport<ZUtils::ThreadManager*>("createDefaultThreadManager", nullptr,
                                               []() { return ZUtils::createPoolThreadManager(); });
}

void destroyDefaultThreadManager(ZUtils::ThreadManager* manager) {
  guardedExport<int>("destroyDefaultThreadManager", 0, [&]() {
    ZUtils::destroyPoolThreadManager(manager);
    return 0;
  });
}
