// neb2vdb: converts nebu2 cache frames to sparse OpenVDB files with the names DCC tools
// look for, several frames at once.
#include "tools/neb2vdb/Neb2Vdb.h"
#include "zutils/platform/AtomicFile.h"
#include "zutils/platform/Memory.h"
#include "zutils/platform/Misc.h"

int main(int argc, char** argv) {
  ZUtils::platform::keepFreedHeapMemory();
  ZUtils::platform::installCleanupOnSignals();
  ZUtils::StdoutConsole out;
  ZUtils::StderrConsole err;
  return Neb2Vdb::runNeb2Vdb(argc, argv, out, err, ZUtils::platform::standardErrorIsTerminal());
}
