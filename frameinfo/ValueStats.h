// Value statistics of a channel (minimum, maximum, mean, non-zero and non-finite counts),
// gathered from values given piece by piece (a grid channel slab after slab): the same
// sums in the same order as over the whole array at once.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace NebFrameInfo {

struct ValueStats {
  bool present = false;
  double minimum = 0.0, maximum = 0.0, mean = 0.0;
  int64_t nonZero = 0;    // finite values other than 0
  int64_t nonFinite = 0;  // NaN and infinities, left out of the other figures
  int64_t count = 0;      // values looked at
};

class StatsAccumulator {
 public:
  explicit StatsAccumulator(ValueStats& s) : s_(s) {}

  // Every stride-th of `count` values.
  template <class T>
  void add(const T* values, int64_t count, int64_t stride) {
    for (int64_t i = 0; i < count; i += stride) {
      const double v = static_cast<double>(values[i]);
      ++s_.count;
      if (!std::isfinite(v)) {
        ++s_.nonFinite;
        continue;
      }
      if (first_) {
        s_.minimum = s_.maximum = v;
        first_ = false;
      }
      s_.minimum = std::min(s_.minimum, v);
      s_.maximum = std::max(s_.maximum, v);
      sum_ += v;
      if (v != 0.0) ++s_.nonZero;
    }
  }

  // The mean, and the statistics marked present.
  void finish() {
    const int64_t finite = s_.count - s_.nonFinite;
    s_.mean = finite > 0 ? sum_ / static_cast<double>(finite) : 0.0;
    s_.present = true;
  }

 private:
  ValueStats& s_;
  double sum_ = 0.0;
  bool first_ = true;
};

// The statistics of one whole array.
template <class T>
void accumulate(const T* values, int64_t count, int64_t stride, ValueStats& s) {
  StatsAccumulator a(s);
  a.add(values, count, stride);
  a.finish();
}

}  // namespace NebFrameInfo
