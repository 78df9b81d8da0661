// The frames of a sequence named on a command line: a file name with a frame pattern
// (####, %04d, <frame04>) and a frame list ("1-240", "1-240x10", "3,7,12-14"), both read
// by the library's C interface.
#pragma once

#include <string>
#include <vector>

namespace NebFrameInfo {

bool hasFramePattern(const std::string& text);

// The pattern with its frame token replaced by `frame`; "" when the library refuses.
std::string expandFramePattern(const std::string& pattern, int frame);

// The value of a --frames option (null when none was given): appends the frames of the
// list; false with the usage error to print in `error` ("option '--frames' requires a
// frame list", or "invalid frame list '<value>': " and the library's one-line reason).
bool parseFramesOption(const char* value, std::vector<int>& frames, std::string& error);

}  // namespace NebFrameInfo
