// nebinfo's text forms of a frame summary: aligned text (one line per channel, human
// sizes) and the lines of --check. The JSON form is the shared frameinfo/JsonLayout.h.
#pragma once

#include <cstdint>
#include <string>

#include "frameinfo/FrameSummary.h"

namespace NebInfo {

// "0 B", "512 B", "1.5 KiB", "42.3 MiB", "1.20 GiB".
std::string humanSize(int64_t bytes);

// Inspection text of a loaded frame; `statistics` adds the value columns.
std::string textLayout(const NebFrameInfo::FrameSummary& s, bool statistics);
// One line per frame for --check: "ok  path" or "BAD path" followed by one indented line
// per failure.
std::string checkLayout(const NebFrameInfo::FrameSummary& s);

}  // namespace NebInfo
