#include "zutils/platform/Misc.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

#include <cstring>

namespace ZUtils {
namespace platform {

void sleepMs(int ms) {
  if (ms <= 0) {
    SwitchToThread();
    return;
  }
  Sleep(static_cast<DWORD>(ms));
}

bool fileExists(const char* utf8Path) {
  if (!utf8Path || !*utf8Path) return false;
  return GetFileAttributesW(toWide(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint64_t currentThreadId() { return static_cast<uint64_t>(GetCurrentThreadId()); }

void setCurrentThreadName(const char* name) {
  if (!name) return;
  // Cut at 15 characters like the Linux build, so tools show the same names everywhere.
  char cut[16];
  std::strncpy(cut, name, sizeof cut - 1);
  cut[sizeof cut - 1] = '\0';
  // Thread descriptions exist from Windows 10 1607 on; older systems keep threads unnamed.
  const Kernel32& k = kernel32();
  if (k.SetThreadDescription) k.SetThreadDescription(GetCurrentThread(), toWide(cut).c_str());
}

int64_t tickCountMs() { return static_cast<int64_t>(GetTickCount64()); }

}  // namespace platform
}  // namespace ZUtils
