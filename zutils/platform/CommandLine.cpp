#include "zutils/platform/CommandLine.h"

namespace ZUtils {
namespace platform {

Utf8Argv::Utf8Argv(int argc, char** argv) : args_(utf8Arguments(argc, argv)) {
  for (std::string& a : args_) pointers_.push_back(&a[0]);
  pointers_.push_back(nullptr);
}

}  // namespace platform
}  // namespace ZUtils
