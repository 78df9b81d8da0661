// Platform layer: the program's arguments as UTF-8 strings.
#pragma once

#include <string>
#include <vector>

namespace ZUtils {
namespace platform {

// The arguments of main() in UTF-8. On POSIX they are argv's bytes. On Windows argv is in
// the ANSI code page, which loses every character outside it, so the wide command line
// is read and converted instead (argc/argv then serve only as a fallback).
std::vector<std::string> utf8Arguments(int argc, char** argv);

// The same as an argc/argv pair for command-line parsers written against main():
//   ZUtils::platform::Utf8Argv args(argc, argv);
//   return run(args.argc(), args.argv());
class Utf8Argv {
 public:
  Utf8Argv(int argc, char** argv);
  Utf8Argv(const Utf8Argv&) = delete;
  Utf8Argv& operator=(const Utf8Argv&) = delete;
  int argc() const { return static_cast<int>(args_.size()); }
  char** argv() { return pointers_.data(); }  // null-terminated, as main's

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

// A program's entry point `run` called with those arguments: the whole main() of a tool
// whose file names must arrive as UTF-8 on every system.
inline int runWithUtf8Arguments(int argc, char** argv, int (*run)(int, char**)) {
  Utf8Argv args(argc, argv);
  return run(args.argc(), args.argv());
}

}  // namespace platform
}  // namespace ZUtils
