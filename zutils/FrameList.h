// Frame lists of the command-line tools: "--frames 1-240", "--frames 1-240x10",
// "--frames 3,7,12-14".
//
// Syntax: items separated by commas; an item is a frame number N, a range A-B (A <= B,
// both inclusive) or a stepped range A-BxS (A, A+S, ... up to B; S >= 1). Numbers are
// decimal with an optional leading '-' ("-10--1" is -10 .. -1). No blanks. Frames come
// out in the order written; a frame named twice appears twice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZUtils {

// Why a list was refused.
struct FrameListError {
  enum Kind {
    kSyntax,     // not N, A-B or A-BxS (empty item, stray character, number beyond int,
                 // nothing after 'x')
    kBackwards,  // A-B with B < A
    kStep,       // a step below 1
    kTooLong,    // parseFrameList only: more than kMaxFrameListLength frames
  };
  Kind kind = kSyntax;
  std::string item;     // the comma-separated item refused ("" for an empty one)
  std::string message;  // one line, e.g. `range runs backwards at "5-3,9"`
};

// A parsed list kept as its ranges, so that "0-2000000000" costs nothing until it is
// walked: a converter handing frames to workers by index never expands it.
class FrameList {
 public:
  // Replaces the list with `text`. False, with the list unchanged and *error (when given)
  // filled, for empty or malformed text, numbers outside the int range, a range that runs
  // backwards or a step below 1.
  bool parse(const char* text, FrameListError* error = nullptr);

  int64_t count() const { return count_; }
  // Frame k (0 <= k < count()) in the order written.
  int frameAt(int64_t k) const;

 private:
  struct Range {
    int64_t first, step, count, before;  // before = frames of the ranges in front
  };
  std::vector<Range> ranges_;
  int64_t count_ = 0;
};

// Upper bound of the frames parseFrameList expands: a typo such as "1-2000000000" is
// refused instead of allocating gigabytes.
constexpr long long kMaxFrameListLength = 1000000;

// Appends the frames of `text` to `frames`. False, with `frames` unchanged and a one-line
// reason in *error (when given), where FrameList::parse fails or for more than
// kMaxFrameListLength frames.
bool parseFrameList(const char* text, std::vector<int>& frames, std::string* error = nullptr);

}  // namespace ZUtils
