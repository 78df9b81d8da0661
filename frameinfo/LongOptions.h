// Long options of a GNU command line, as the inspecting tools read them: "--name value" or
// "--name=value".
#pragma once

#include <string>

namespace NebFrameInfo {

// True when `arg` is the option `name` ("--frames"), alone or with "=value".
bool isOption(const std::string& arg, const char* name);

// The value of "--name=value" in `arg`, else argument i + 1 (i then moves to it); null when
// there is none.
const char* optionValue(const std::string& arg, const char* name, int& i, int argc, char** argv);

}  // namespace NebFrameInfo
