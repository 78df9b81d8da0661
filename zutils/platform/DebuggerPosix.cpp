#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "zutils/platform/Debugger.h"
#include "zutils/platform/Misc.h"

namespace ZUtils {
namespace platform {

namespace {

// Linux tells through the TracerPid line of /proc/self/status: non-zero while traced.
bool readTracerPid() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return false;
  char line[256];
  bool attached = false;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      int pid = 0;
      attached = std::sscanf(line + 10, "%d", &pid) == 1 && pid != 0;
      break;
    }
  }
  std::fclose(f);
  return attached;
}

// Tracing calls debugPrint often, and reading /proc costs a file open each time, so the
// answer is kept for a second. A debugger attached meanwhile sees output after that.
constexpr int64_t kRecheckMs = 1000;
std::atomic<int64_t> g_checkedAt{INT64_MIN};
std::atomic<bool> g_attached{false};

}  // namespace

bool debuggerAttached() {
  const int64_t now = tickCountMs();
  const int64_t checked = g_checkedAt.load(std::memory_order_acquire);
  if (checked != INT64_MIN && now - checked < kRecheckMs) return g_attached.load(std::memory_order_relaxed);
  const bool attached = readTracerPid();
  g_attached.store(attached, std::memory_order_relaxed);
  g_checkedAt.store(now, std::memory_order_release);
  return attached;
}

void debuggerOutput(const char* text) {
  if (!text) return;
  std::fputs(text, stderr);
  std::fflush(stderr);
}

}  // namespace platform
}  // namespace ZUtils
