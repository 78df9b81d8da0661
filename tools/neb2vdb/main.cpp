// neb2vdb: converts nebu2 cache frames to sparse OpenVDB files with the names DCC tools
// look for, several frames at once.
#include "tools/neb2vdb/Neb2Vdb.h"
#include "zutils/platform/AtomicFile.h"
#include "zutils/platform/CommandLine.h"
#include "zutils/platform/Memory.h"
#include "zutils/platform/Misc.h"

int main(int argc, char** argv) {
  ZUtils::platform::keepFreedHeapMemory();
  ZUtils::platform::installCleanupOnSignals();
  ZUtils::StdoutConsole out;
  ZUtils::StderrConsole err;
  // File names as UTF-8 on every system (on Windows from the wide command line).
  ZUtils::platform::Utf8Argv args(argc, argv);
  return Neb2Vdb::runNeb2Vdb(args.argc(), args.argv(), out, err, ZUtils::platform::standardErrorIsTerminal());
}
