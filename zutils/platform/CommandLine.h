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

// A program's entry point `run` called with those arguments as argc/argv (argv[argc] null):
// the whole main() of a tool whose file names must arrive as UTF-8 on every system.
inline int runWithUtf8Arguments(int argc, char** argv, int (*run)(int, char**)) {
  std::vector<std::string> args = utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : args) utf8Argv.push_back(&a[0]);
  utf8Argv.push_back(nullptr);
  return run(static_cast<int>(args.size()), utf8Argv.data());
}

}  // namespace platform
}  // namespace ZUtils
