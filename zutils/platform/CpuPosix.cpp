#include <unistd.h>

#include "zutils/platform/Cpu.h"

namespace ZUtils {
namespace platform {

int onlineProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  if (n < 1) return 1;
  return n > 1 << 20 ? 1 << 20 : static_cast<int>(n);
}

int systemNumaNodeMasks(CpuMask* masks, int maxNodes) {
  return readNumaNodeMasks("/sys/devices/system/node", masks, maxNodes);
}

}  // namespace platform
}  // namespace ZUtils
