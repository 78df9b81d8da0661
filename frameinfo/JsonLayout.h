// A frame summary as one JSON object on a single line (what nebinfo --json prints and
// nebview serves as a frame's facts and statistics).
#pragma once

#include <string>

#include "frameinfo/FrameSummary.h"

namespace NebFrameInfo {

// The summary as one JSON object and a newline. Without `statistics` the value figures are
// left out; with `check` the object carries "sound" and "failures".
std::string jsonLayout(const FrameSummary& s, bool statistics, bool check);

}  // namespace NebFrameInfo
