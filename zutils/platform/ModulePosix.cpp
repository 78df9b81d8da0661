#include "zutils/platform/Module.h"

#include <dlfcn.h>

namespace ZUtils {
namespace platform {

void* loadModule(const char* path) {
  if (!path || !*path) return nullptr;
  // Silent on failure: callers probe for optional plug-ins, and a missing one is normal.
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
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
