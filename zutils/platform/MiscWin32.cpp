#include "zutils/platform/Misc.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

#include <io.h>

#include <cstdio>
#include <cstring>

namespace ZUtils {
namespace platform {

// Sleep() wakes on the scheduler's tick (15.6 ms by default) and may end a little early
// against a finer clock, so the wait is checked against tickCountMs and finished there:
// like the Linux build, the sleep is never short.
void sleepMs(int ms) {
  if (ms <= 0) {
    SwitchToThread();
    return;
  }
  const int64_t start = tickCountMs();
  for (int64_t left = ms; left > 0; left = ms - (tickCountMs() - start)) Sleep(static_cast<DWORD>(left));
}

bool fileExists(const char* utf8Path) {
  if (!utf8Path || !*utf8Path) return false;
  return GetFileAttributesW(toWide(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool standardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

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

// The performance counter, not GetTickCount64: that one advances in scheduler ticks of
// about 16 ms, too coarse for the pool's timeouts and for measuring short waits.
int64_t tickCountMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? static_cast<int64_t>(f.QuadPart) : int64_t(0);
  }();
  if (frequency == 0) return static_cast<int64_t>(GetTickCount64());
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const int64_t t = static_cast<int64_t>(now.QuadPart);
  // Split so that t * 1000 cannot overflow.
  return t / frequency * 1000 + t % frequency * 1000 / frequency;
}

}  // namespace platform
}  // namespace ZUtils
