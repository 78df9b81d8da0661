#include "zutils/platform/Module.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

namespace ZUtils {
namespace platform {

void* loadModule(const char* path) {
  if (!path || !*path) return nullptr;
  const std::wstring wide = toWide(path);
  // A plug-in named by a path finds the DLLs it needs beside itself (altered search path);
  // a bare name uses the standard search. No error dialog for a missing dependency:
  // callers probe for optional plug-ins, and a missing one is normal.
  const bool hasDirectory = wide.find_first_of(L"\\/") != std::wstring::npos;
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE m = LoadLibraryExW(wide.c_str(), nullptr, hasDirectory ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  SetThreadErrorMode(oldMode, nullptr);
  return reinterpret_cast<void*>(m);
}

void* findModuleSymbol(void* module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void freeModule(void* module) {
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

const char* moduleFileExtension() { return ".dll"; }

}  // namespace platform
}  // namespace ZUtils
