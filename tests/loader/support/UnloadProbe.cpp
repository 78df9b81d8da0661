// Child program of the unload-report test: a host that loads frames and exits without
// releasing them. Usage: UnloadProbe <report file> <frame a> <frame b>
// Holds a twice, b once, a header-only frame of b, releases nothing, and returns from
// main so that the library is unloaded with the frames still held.
#include <cstdio>

#include "loader/ReportHook.h"
#include "nebloader.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  nebSetReportFilePath(argv[1]);
  INeb* a1 = newINeb(argv[2]);
  INeb* a2 = newINeb(argv[2]);
  INeb* b = newINeb(argv[3]);
  INeb* header = newINebMaxVox(argv[3], -1, true);
  if (!a1 || a1 != a2 || !b || !header) return 1;
  std::printf("loaded\n");
  return 0;
}
