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

}  // namespace platform
}  // namespace ZUtils
