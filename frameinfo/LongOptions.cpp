#include "frameinfo/LongOptions.h"

#include <cstring>

namespace NebFrameInfo {

namespace {

bool hasValue(const std::string& arg, const char* name, size_t n) {
  return arg.size() > n && arg.compare(0, n, name) == 0 && arg[n] == '=';
}

}  // namespace

bool isOption(const std::string& arg, const char* name) {
  return arg == name || hasValue(arg, name, std::strlen(name));
}

const char* optionValue(const std::string& arg, const char* name, int& i, int argc, char** argv) {
  const size_t n = std::strlen(name);
  if (hasValue(arg, name, n)) return argv[i] + n + 1;
  if (i + 1 < argc) return argv[++i];
  return nullptr;
}

}  // namespace NebFrameInfo
