// A grid made coarser by an integer factor: each output cell is the mean of the finite
// values of a factor^3 block of input cells (partial blocks at the far faces: of the cells
// they have; a block without finite values gives 0, except at factor 1, where the grid is
// passed through as it is, non-finite values included). The input is given layer by layer
// in ascending z, so a grid of any size is reduced holding one output layer of sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace NebView {

// Floats without std::vector's zero-fill: a channel is written whole right after it is
// made, and filling hundreds of megabytes first doubled the time.
struct FloatArray {
  std::unique_ptr<float[]> data;
  size_t size = 0;

  bool allocate(size_t n) {
    data.reset(new (std::nothrow) float[n]);
    size = data ? n : 0;
    return data != nullptr;
  }
  const float* begin() const { return data.get(); }
  const float* end() const { return data.get() + size; }
};

// The smallest factor f >= 1 with ceil(nx/f) * ceil(ny/f) * ceil(nz/f) <= maxCells (at
// least 1 cell). Sizes must be positive.
int downsampleFactor(const int size[3], int64_t maxCells);

// The output size for a factor: ceil(size / factor) per axis.
void downsampledSize(const int size[3], int factor, int out[3]);

class BoxDownsampler {
 public:
  // False when the output or the sums cannot be allocated.
  bool start(const int size[3], int factor);
  // Layers z0 .. z1-1 of the input, x fastest; z0 must be where the previous call ended.
  void addLayers(int z0, int z1, const float* values);
  // The output, x fastest, once every layer has been added.
  FloatArray& finish();

 private:
  void flushLayer();

  int size_[3] = {0, 0, 0};
  int out_[3] = {0, 0, 0};
  int factor_ = 1;
  int layer_ = -1;  // the output layer being summed
  std::vector<double> sums_;
  std::vector<uint32_t> counts_;
  FloatArray values_;
};

}  // namespace NebView
