// The plug-in table, loading the plug-in modules, the thread-manager hand-over, and the
// library's unload order (frames first, then the modules whose code they may still use).
#include "loader/ImportPlugins.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "cache/FrameRegistry.h"
#include "ostutils/OstParallel.h"
#include "zutils/PathList.h"
#include "zutils/Report.h"
#include "zutils/platform/Misc.h"
#include "zutils/platform/Module.h"

namespace CacheIO {

namespace {

const char* const kStems[2] = {"f3dport", "vdbport"};
const char* const kImportNames[2] = {"ImportFrameF3D", "ImportFrameVDB"};

PluginEntry g_plugins[2];
// Third argument of initalizeNebuLoader; kept, read by nothing.
int g_loaderValue = 0;

// Serialises initialisation, finalisation and unload among themselves. Imports read the
// table without it: hosts do not initialise while frames are loading.
std::mutex& tableLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

void clearEntryPoints(PluginEntry& e) {
  e.initialize = nullptr;
  e.setThreadManager = nullptr;
  e.releaseThreadManager = nullptr;
  e.import = nullptr;
  e.getAvailableChannels = nullptr;
}

// Loads and initialises one plug-in; true when it is ready.
bool loadPlugin(PluginKind kind, const char* searchPaths, const char* suffix) {
  PluginEntry& e = g_plugins[kind];
  // A module loaded before is not loaded again. It counts as available only while its
  // entry points are set: a module whose Initialize failed stays loaded but disabled.
  if (e.module) return e.ready();

  char name[1024];
  std::memset(name, 0, sizeof name);
  if (!ComposePluginFileName(name, sizeof name, kStems[kind], searchPaths, suffix)) return false;
  void* module = ZUtils::platform::loadModule(name);
  if (!module) return false;
  e.module = module;
  using ZUtils::platform::findModuleSymbol;
  e.initialize = reinterpret_cast<PluginInitializeFn>(findModuleSymbol(module, "Initialize"));
  e.setThreadManager = reinterpret_cast<PluginSetThreadManagerFn>(findModuleSymbol(module, "SetThreadManager"));
  e.releaseThreadManager =
      reinterpret_cast<PluginReleaseThreadManagerFn>(findModuleSymbol(module, "ReleaseThreadManager"));
  e.import = findModuleSymbol(module, kImportNames[kind]);
  e.getAvailableChannels =
      reinterpret_cast<PluginGetAvailableChannelsFn>(findModuleSymbol(module, "GetAvailableChannels"));
  if (!e.ready() || e.initialize() != 0) {
    clearEntryPoints(e);
    return false;
  }
  return true;
}

// At library unload: frames still held are reported and destroyed while the plug-in code
// that filled them is still mapped, then the modules are freed.
struct PluginTableLifetime {
  ~PluginTableLifetime() {
    OstraneFrame::ReleaseAllFrames();
    UnloadImportPlugins();
  }
};
PluginTableLifetime g_lifetime;

}  // namespace

const PluginEntry& PluginTableEntry(PluginKind kind) { return g_plugins[kind == PluginVDB ? 1 : 0]; }

bool ComposePluginFileName(char* buffer, int size, const char* stem, const char* searchPaths, const char* suffix) {
  if (!buffer || size <= 0 || !stem) return false;
  const char* ext = ZUtils::platform::moduleFileExtension();
  if (!suffix) {
    std::snprintf(buffer, static_cast<size_t>(size), "%s%s%s", "", stem, ext);
    return true;
  }
  if (!searchPaths) {
    std::snprintf(buffer, static_cast<size_t>(size), "%s%s_%s%s", "", stem, suffix, ext);
    return true;
  }
  ZUtils::PathTokenizer tokens;
  for (const char* dir = ZUtils::firstPath(tokens, searchPaths); dir; dir = ZUtils::nextPath(tokens)) {
    size_t n = std::strlen(dir);
    bool separated = n > 0 && (dir[n - 1] == '/' || dir[n - 1] == '\\');
    std::snprintf(buffer, static_cast<size_t>(size), separated ? "%s%s%s_%s%s" : "%s/%s%s_%s%s", dir, "", stem,
                  suffix, ext);
    if (ZUtils::platform::fileExists(buffer)) return true;
  }
  buffer[0] = '\0';
  return false;
}

int LoadImportPlugins(int which, const char* searchPaths, const char* suffix, int value) {
  std::lock_guard<std::mutex> lock(tableLock());
  g_loaderValue = value;
  int mask = 0;
  // Field3D always before OpenVDB; a failure of one does not stop the other.
  if ((which & 1) && loadPlugin(PluginF3D, searchPaths, suffix)) mask |= 1;
  if ((which & 2) && loadPlugin(PluginVDB, searchPaths, suffix)) mask |= 2;
  return mask;
}

bool SetPluginThreadManager(ZUtils::ThreadManager* manager) {
  bool anyReady = false;
  bool allAccepted = true;
  for (PluginEntry& e : g_plugins) {
    if (!e.ready()) continue;
    anyReady = true;
    if (e.setThreadManager(manager) != 0) allAccepted = false;
  }
  return anyReady && allAccepted;
}

void ReleasePluginThreadManagers() {
  for (PluginEntry& e : g_plugins) {
    if (e.ready()) e.releaseThreadManager();
  }
}

void UnloadImportPlugins() {
  std::lock_guard<std::mutex> lock(tableLock());
  for (PluginEntry& e : g_plugins) {
    clearEntryPoints(e);
    ZUtils::platform::freeModule(e.module);
    e.module = nullptr;
  }
}

int InitializeLoader(const char* searchPaths, const char* suffix, int value, ZUtils::ThreadManager* manager,
                     bool withManager) {
  int mask = LoadImportPlugins(3, searchPaths, suffix, value);
  if (!withManager || mask == 0 || !manager) return mask;
  std::lock_guard<std::mutex> lock(tableLock());
  OSTUtils::RegisterThreadManager(manager);
  // A refusal leaves the manager registered: finalizeNebuLoader still pops it.
  return SetPluginThreadManager(manager) ? mask : 0;
}

void FinalizeLoader() {
  std::lock_guard<std::mutex> lock(tableLock());
  OSTUtils::UnregisterLastThreadManager();
  ReleasePluginThreadManagers();
}

}  // namespace CacheIO
