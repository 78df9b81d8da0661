#include "zutils/platform/Kernel32.h"

namespace ZUtils {
namespace platform {

namespace {

template <typename F>
void resolve(HMODULE module, const char* name, F* out) {
  // GetProcAddress returns a generic function pointer; the cast goes through void* to keep
  // GCC's -Wcast-function-type quiet about the deliberate signature change.
  *out = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

Kernel32 load() {
  Kernel32 k{};
  // kernel32 is mapped into every process and never unloaded: no reference is taken.
  HMODULE m = GetModuleHandleW(L"kernel32.dll");
  resolve(m, "GetActiveProcessorGroupCount", &k.GetActiveProcessorGroupCount);
  resolve(m, "GetActiveProcessorCount", &k.GetActiveProcessorCount);
  resolve(m, "GetProcessGroupAffinity", &k.GetProcessGroupAffinity);
  resolve(m, "GetThreadGroupAffinity", &k.GetThreadGroupAffinity);
  resolve(m, "SetThreadGroupAffinity", &k.SetThreadGroupAffinity);
  resolve(m, "GetNumaHighestNodeNumber", &k.GetNumaHighestNodeNumber);
  resolve(m, "GetNumaNodeProcessorMaskEx", &k.GetNumaNodeProcessorMaskEx);
  resolve(m, "SetThreadDescription", &k.SetThreadDescription);
  return k;
}

}  // namespace

const Kernel32& kernel32() {
  static const Kernel32 k = load();  // thread-safe initialisation of a function-local static
  return k;
}

}  // namespace platform
}  // namespace ZUtils
