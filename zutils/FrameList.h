// Frame lists of the command-line tools: "--frames 1-240", "--frames 1-240x10",
// "--frames 3,7,12-14".
//
// Syntax: items separated by commas; an item is a frame number N, a range A-B (A <= B,
// both inclusive) or a stepped range A-BxS (A, A+S, ... up to B; S >= 1). Numbers are
// decimal with an optional leading '-' ("-10--1" is -10 .. -1). No blanks. Frames come
// out in the order written; a frame named twice appears twice.
#pragma once

#include <string>
#include <vector>

namespace ZUtils {

// Upper bound of the frames one list may name: a typo such as "1-2000000000" is refused
// instead of allocating gigabytes.
constexpr long long kMaxFrameListLength = 1000000;

// Appends the frames of `text` to `frames`. False, with `frames` unchanged and a one-line
// reason in *error (when given), for empty or malformed text, numbers outside the int
// range, a range that runs backwards, a step below 1, or more than kMaxFrameListLength
// frames.
bool parseFrameList(const char* text, std::vector<int>& frames, std::string* error = nullptr);

}  // namespace ZUtils
