// The frames of a --frames value: "A-B", "A-BxSTEP" (every STEP-th frame from A up to B)
// or a single number, several of them separated by commas ("1-10,15,20-40x5"). Numbers
// are 32-bit signed decimals ("-5--1" is frames -5 to -1). Frames are kept as ranges
// so that "0-2000000000" costs nothing until it is walked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Neb2Vdb {

class FrameList {
 public:
  // False, with `error` set, for an empty item, a range that ends before it starts, a
  // step below 1, trailing characters or a number outside the int range.
  bool parse(const std::string& text, std::string& error);

  int64_t count() const { return count_; }
  // Frame k (0-based) of the list, in the order given.
  int frameAt(int64_t k) const;

 private:
  struct Range {
    int64_t first, step, count, before;  // before = frames of the ranges in front
  };
  std::vector<Range> ranges_;
  int64_t count_ = 0;
};

}  // namespace Neb2Vdb
