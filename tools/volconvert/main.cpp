// volconvert: converts a numbered sequence of nebu2 cache frames into OpenVDB files.
#include "nebloader.h"
#include "tools/volconvert/LibraryFrameConverter.h"
#include "tools/volconvert/VolConvert.h"
#include "zutils/ConsoleOutput.h"
#include "zutils/platform/Memory.h"

int main(int argc, char** argv) {
  ZUtils::platform::keepFreedHeapMemory();
  VolConvert::LibraryFrameConverter converter;
  ZUtils::StdoutConsole out;
  return VolConvert::runVolConvert(argc, argv, OstraneSDKGetVersionNumber(), converter, out);
}
