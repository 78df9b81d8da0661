#include "zutils/platform/CommandLine.h"

namespace ZUtils {
namespace platform {

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(argv[i] ? argv[i] : "");
  return args;
}

}  // namespace platform
}  // namespace ZUtils
