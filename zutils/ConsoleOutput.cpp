#include "zutils/ConsoleOutput.h"

#include <cstdio>

namespace ZUtils {

void StdoutConsole::write(const std::string& text) {
  // fwrite, not fputs: a file name may carry any byte, and the text is printed as is.
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void StderrConsole::write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace ZUtils
