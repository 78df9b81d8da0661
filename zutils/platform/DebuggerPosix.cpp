#include <cstdio>
#include <cstring>

#include "zutils/platform/Debugger.h"

namespace ZUtils {
namespace platform {

// Linux tells through the TracerPid line of /proc/self/status: non-zero while traced.
bool debuggerAttached() {
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

}  // namespace platform
}  // namespace ZUtils
