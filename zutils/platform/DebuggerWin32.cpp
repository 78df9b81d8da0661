#include "zutils/platform/Debugger.h"
#include "zutils/platform/Kernel32.h"

namespace ZUtils {
namespace platform {

// IsDebuggerPresent is a read of the process environment block: cheap enough to ask on
// every call, so unlike the Linux check nothing is cached.
bool debuggerAttached() { return IsDebuggerPresent() != 0; }

void debuggerOutput(const char* text) {
  if (text) OutputDebugStringA(text);
}

}  // namespace platform
}  // namespace ZUtils
