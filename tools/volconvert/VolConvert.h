// The whole volconvert program behind main(): help on an empty command line, parsing,
// the missing-names message, then the frame loop.
#pragma once

#include "tools/volconvert/FrameConverter.h"
#include "zutils/ConsoleOutput.h"

namespace VolConvert {

// Returns the process exit code: 1 for an unreadable -start / -end value, 0 otherwise
// (also when frames failed).
int runVolConvert(int argc, const char* const* argv, unsigned int sdkVersion, FrameConverter& converter,
                  ZUtils::ConsoleOutput& out);

}  // namespace VolConvert
