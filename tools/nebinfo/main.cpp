// nebinfo: inspect and check nebu2 cache frames from the shell (see NebInfo.h).
#include "tools/nebinfo/NebInfo.h"
#include "zutils/platform/CommandLine.h"

int main(int argc, char** argv) {
  // File names arrive as UTF-8 on every system (on Windows from the wide command line,
  // since argv there holds only what the ANSI code page can say).
  ZUtils::platform::Utf8Argv args(argc, argv);
  return NebInfo::runNebInfo(args.argc(), args.argv());
}
