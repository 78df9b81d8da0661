// neb2vdb: converts nebu2 cache frames to sparse OpenVDB files with the names DCC tools
// look for, several frames at once.
#include <unistd.h>

#include <cstdio>

#include "tools/neb2vdb/AtomicFile.h"
#include "tools/neb2vdb/Neb2Vdb.h"
#include "tools/volconvert/HeapSettings.h"

namespace {

class StderrConsole : public VolConvert::ConsoleOutput {
 public:
  void write(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

int main(int argc, char** argv) {
  VolConvert::keepLargeBuffersWarm();
  Neb2Vdb::installCleanupOnSignals();
  VolConvert::StdoutConsole out;
  StderrConsole err;
  return Neb2Vdb::runNeb2Vdb(argc, argv, out, err, isatty(STDERR_FILENO) == 1);
}
