// The printed forms of a frame summary: aligned text (one line per channel, human sizes)
// and one JSON object per frame on a single line.
#pragma once

#include <cstdint>
#include <string>

#include "tools/nebinfo/FrameSummary.h"

namespace NebInfo {

// "0 B", "512 B", "1.5 KiB", "42.3 MiB", "1.20 GiB".
std::string humanSize(int64_t bytes);

// Inspection text of a loaded frame; `statistics` adds the value columns.
std::string textLayout(const FrameSummary& s, bool statistics);
// One line per frame for --check: "ok  path" or "BAD path" followed by one indented line
// per failure.
std::string checkLayout(const FrameSummary& s);

// The summary as one JSON object and a newline. Without `statistics` the value figures are
// left out; with `check` the object carries "sound" and "failures".
std::string jsonLayout(const FrameSummary& s, bool statistics, bool check);

}  // namespace NebInfo
