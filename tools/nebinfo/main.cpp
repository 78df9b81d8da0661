// nebinfo: inspect and check nebu2 cache frames from the shell (see NebInfo.h).
#include <string>
#include <vector>

#include "tools/nebinfo/NebInfo.h"
#include "zutils/platform/CommandLine.h"

int main(int argc, char** argv) {
  // File names arrive as UTF-8 on every system (on Windows from the wide command line,
  // since argv there holds only what the ANSI code page can say).
  std::vector<std::string> args = ZUtils::platform::utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : args) utf8Argv.push_back(&a[0]);
  utf8Argv.push_back(nullptr);
  return NebInfo::runNebInfo(static_cast<int>(args.size()), utf8Argv.data());
}
