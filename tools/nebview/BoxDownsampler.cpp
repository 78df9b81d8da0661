#include "tools/nebview/BoxDownsampler.h"

#include <algorithm>
#include <cmath>

namespace NebView {

namespace {

int ceilDiv(int n, int f) { return n / f + (n % f != 0 ? 1 : 0); }

}  // namespace

void downsampledSize(const int size[3], int factor, int out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = ceilDiv(size[i], factor);
}

int downsampleFactor(const int size[3], int64_t maxCells) {
  if (maxCells < 1) maxCells = 1;
  int largest = 1;
  for (int i = 0; i < 3; ++i) largest = size[i] > largest ? size[i] : largest;
  // The cell count never grows with f and f = largest gives one cell: the smallest f that
  // fits is found by bisection.
  int low = 1, high = largest;
  while (low < high) {
    const int f = low + (high - low) / 2;
    int out[3];
    downsampledSize(size, f, out);
    if (static_cast<int64_t>(out[0]) * out[1] * out[2] <= maxCells) {
      high = f;
    } else {
      low = f + 1;
    }
  }
  return low;
}

bool BoxDownsampler::start(const int size[3], int factor) {
  factor_ = factor < 1 ? 1 : factor;
  for (int i = 0; i < 3; ++i) size_[i] = size[i];
  downsampledSize(size_, factor_, out_);
  layer_ = -1;
  const size_t plane = static_cast<size_t>(out_[0]) * static_cast<size_t>(out_[1]);
  try {
    if (factor_ > 1) {
      sums_.assign(plane, 0.0);
      counts_.assign(plane, 0);
    }
  } catch (const std::bad_alloc&) {
    sums_.clear();
    counts_.clear();
    return false;
  }
  return values_.allocate(plane * static_cast<size_t>(out_[2]));
}

void BoxDownsampler::flushLayer() {
  if (layer_ < 0) return;
  const size_t plane = sums_.size();
  float* out = values_.data.get() + plane * static_cast<size_t>(layer_);
  for (size_t i = 0; i < plane; ++i) {
    out[i] = counts_[i] > 0 ? static_cast<float>(sums_[i] / counts_[i]) : 0.0f;
    sums_[i] = 0.0;
    counts_[i] = 0;
  }
  layer_ = -1;
}

void BoxDownsampler::addLayers(int z0, int z1, const float* values) {
  const size_t nx = static_cast<size_t>(size_[0]), ny = static_cast<size_t>(size_[1]);
  const size_t ox = static_cast<size_t>(out_[0]), f = static_cast<size_t>(factor_);
  for (int z = z0; z < z1; ++z) {
    const float* in = values + static_cast<size_t>(z - z0) * nx * ny;
    if (factor_ == 1) {
      // Nothing to average: the layer is the output's. Non-finite values stay as they
      // are; the single cell of their block has no finite value, which readers of the
      // output take as 0 (WireFormat sends them so).
      std::copy(in, in + nx * ny, values_.data.get() + static_cast<size_t>(z) * nx * ny);
      continue;
    }
    if (z / factor_ != layer_) {
      flushLayer();
      layer_ = z / factor_;
    }
    for (size_t y = 0; y < ny; ++y) {
      const float* row = in + y * nx;
      double* sums = sums_.data() + (y / f) * ox;
      uint32_t* counts = counts_.data() + (y / f) * ox;
      for (size_t b = 0, x = 0; b < ox; ++b) {
        const size_t end = std::min(nx, x + f);
        double sum = 0.0;
        uint32_t count = 0;
        for (; x < end; ++x) {
          if (!std::isfinite(row[x])) continue;
          sum += row[x];
          ++count;
        }
        sums[b] += sum;
        counts[b] += count;
      }
    }
  }
}

FloatArray& BoxDownsampler::finish() {
  flushLayer();
  return values_;
}

}  // namespace NebView
