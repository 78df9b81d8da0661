// The frame loop of volconvert: expands the name patterns for every frame of the range,
// loads, exports and releases each frame, and prints progress and error lines.
//
// Progress of a good frame (k = position in the range from 1, n = range length):
//   "Converting <src> to <dst> | 0......50......100 | k/n\n"
// A failure replaces the rest of the line from the failing step on with
//   "An error has been encountered while converting frame k: <reason>\n"
// which is printed even with progress off. A failed frame never ends the loop.
#pragma once

#include "tools/volconvert/CommandLine.h"
#include "tools/volconvert/FrameConverter.h"
#include "zutils/ConsoleOutput.h"

namespace VolConvert {

// Runs every pass of the range in `settings` (one literal pass in single-file mode).
// Returns the number of frames that failed.
int runFrameLoop(const ConvertSettings& settings, FrameConverter& converter, ZUtils::ConsoleOutput& out);

}  // namespace VolConvert
