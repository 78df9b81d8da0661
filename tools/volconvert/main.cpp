// volconvert: converts a numbered sequence of nebu2 cache frames into OpenVDB files.
#include "nebloader.h"
#include "tools/volconvert/LibraryFrameConverter.h"
#include "tools/volconvert/VolConvert.h"
#include "zutils/ConsoleOutput.h"
#include "zutils/platform/CommandLine.h"
#include "zutils/platform/Memory.h"

int main(int argc, char** argv) {
  ZUtils::platform::keepFreedHeapMemory();
  VolConvert::LibraryFrameConverter converter;
  ZUtils::StdoutConsole out;
  // File names as UTF-8 on every system (on Windows from the wide command line).
  ZUtils::platform::Utf8Argv args(argc, argv);
  return VolConvert::runVolConvert(args.argc(), args.argv(), OstraneSDKGetVersionNumber(), converter, out);
}
