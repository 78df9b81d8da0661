#include "zutils/platform/Module.h"

#include <dlfcn.h>

#include "zutils/Report.h"

namespace ZUtils {
namespace platform {

void* loadModule(const char* path) {
  if (!path || !*path) return nullptr;
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = dlerror();
    logReport("Could not load module %s: %s\n", path, why ? why : "unknown reason");
  }
  return module;
}

void* findModuleSymbol(void* module, const char* name) {
  if (!module || !name) return nullptr;
  return dlsym(module, name);
}

void freeModule(void* module) {
  if (module) dlclose(module);
}

const char* moduleFileExtension() { return ".so"; }

}  // namespace platform
}  // namespace ZUtils
