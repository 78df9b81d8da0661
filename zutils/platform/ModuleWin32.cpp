#include "zutils/platform/Module.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

namespace ZUtils {
namespace platform {

namespace {

// The folder of the module this code is linked into (nebloader.dll, or a program that
// links the layers statically), with its separator; empty when it cannot be told.
std::wstring ownFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ownFolder), &self))
    return std::wstring();
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return std::wstring();
  path.resize(n);
  const size_t sep = path.find_last_of(L"\\/");
  return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep + 1);
}

}  // namespace

void* loadModule(const char* path) {
  if (!path || !*path) return nullptr;
  std::wstring wide = toWide(path);
  // A bare name is looked for beside this module first, as the Linux build's run path
  // ($ORIGIN) does: a host that loads nebloader.dll by its full path from a folder of
  // plug-ins still gets the import plug-ins installed beside it. Otherwise the standard
  // search (the program's folder, the system folders, PATH).
  if (wide.find_first_of(L"\\/") == std::wstring::npos) {
    const std::wstring beside = ownFolder() + wide;
    if (beside.size() > wide.size() && GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) wide = beside;
  }
  // A plug-in named by a path finds the DLLs it needs beside itself (altered search path).
  // No error dialog for a missing dependency: callers probe for optional plug-ins, and a
  // missing one is normal.
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
