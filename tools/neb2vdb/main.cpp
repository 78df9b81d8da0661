// neb2vdb: converts nebu2 cache frames to sparse OpenVDB files with the names DCC tools
// look for, several frames at once.
#include <unistd.h>

#include "tools/neb2vdb/Neb2Vdb.h"
#include "vdb/AtomicFile.h"
#include "vdb/HeapSettings.h"

int main(int argc, char** argv) {
  VolConvert::keepLargeBuffersWarm();
  Neb2Vdb::installCleanupOnSignals();
  VolConvert::StdoutConsole out;
  VolConvert::StderrConsole err;
  return Neb2Vdb::runNeb2Vdb(argc, argv, out, err, isatty(STDERR_FILENO) == 1);
}
