#include "zutils/platform/CommandLine.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

#include <shellapi.h>

namespace ZUtils {
namespace platform {

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) args.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return args;
  }
  for (int i = 0; i < argc; ++i) args.push_back(argv[i] ? argv[i] : "");
  return args;
}

}  // namespace platform
}  // namespace ZUtils
