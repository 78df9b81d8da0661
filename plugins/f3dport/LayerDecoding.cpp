#include "plugins/f3dport/LayerDecoding.h"

#include <cstring>
#include <string>
#include <vector>

#include "ostutils/MemoryLimit.h"
#include "plugins/f3dport/LayerChecks.h"
#include "plugins/f3dport/LittleEndian.h"
#include "zutils/Report.h"

namespace F3dPort {

namespace {

// Elements fetched per read of a dense or MAC layer: a few MiB of scratch.
const uint64_t kElementsPerRead = uint64_t(1) << 20;

struct Scratch {
  std::vector<uint8_t> bytes;
  OSTUtils::MemoryReservation hold;

  bool size(uint64_t n) {
    if (!hold.reserveAtLeast(n)) return false;
    bytes.resize(static_cast<size_t>(n));
    return true;
  }
  uint8_t* data() { return bytes.data(); }
};

double elementAsDouble(const uint8_t* p, VoxelType type) {
  switch (type) {
    case VoxelType::Half: return halfToFloat(loadU16(p));
    case VoxelType::Float: return loadF32(p);
    case VoxelType::Double: return loadF64(p);
  }
  return 0.0;
}

float element(const uint8_t* p, VoxelType type) { return static_cast<float>(elementAsDouble(p, type)); }

// The mean of two face values: in float for half and float data, in double for doubles.
float faceMean(const uint8_t* a, const uint8_t* b, VoxelType type) {
  if (type == VoxelType::Double) return static_cast<float>((loadF64(a) + loadF64(b)) * 0.5);
  return (element(a, type) + element(b, type)) * 0.5f;
}

struct FrameBox {
  const Box& box;
  int64_t nx, ny;
  explicit FrameBox(const Box& b) : box(b), nx(b.size(0)), ny(b.size(1)) {}
  int64_t at(int64_t i, int64_t j, int64_t k) const {
    return (i - box.min[0]) + nx * ((j - box.min[1]) + ny * (k - box.min[2]));
  }
};

bool noMemory(const F3dFile& file, const Layer& layer, uint64_t bytes) {
  ZUtils::logReport("[ERROR] f3dport: no memory for %llu bytes of scratch to read layer \"%s\" of %s\n",
                    static_cast<unsigned long long>(bytes), layer.name.c_str(), file.label().c_str());
  return false;
}

bool decodeDense(F3dFile& file, const Layer& layer, const FrameBox& frame, float* const out[3]) {
  const Box& w = layer.window;
  const int64_t nx = w.size(0), ny = w.size(1), nz = w.size(2);
  const uint64_t comps = static_cast<uint64_t>(layer.components), size = static_cast<uint64_t>(layer.type);
  const uint64_t rowElements = static_cast<uint64_t>(nx) * comps;
  const uint64_t rows = static_cast<uint64_t>(ny) * static_cast<uint64_t>(nz);
  const uint64_t rowsPerRead = rowElements >= kElementsPerRead ? 1 : kElementsPerRead / rowElements;
  Scratch scratch;
  const uint64_t bytes = (rowsPerRead < rows ? rowsPerRead : rows) * rowElements * size;
  if (!scratch.size(bytes)) return noMemory(file, layer, bytes);
  for (uint64_t q = 0; q < rows; q += rowsPerRead) {
    const uint64_t n = rows - q < rowsPerRead ? rows - q : rowsPerRead;
    if (!file.readElements(layer, LayerArray::DenseData, q * rowElements, n * rowElements, scratch.data())) return false;
    for (uint64_t r = 0; r < n; ++r) {
      const int64_t j = w.min[1] + static_cast<int64_t>((q + r) % static_cast<uint64_t>(ny));
      const int64_t k = w.min[2] + static_cast<int64_t>((q + r) / static_cast<uint64_t>(ny));
      const uint8_t* row = scratch.data() + r * rowElements * size;
      const int64_t base = frame.at(w.min[0], j, k);
      for (uint64_t c = 0; c < comps; ++c) {
        float* dst = out[c];
        if (!dst) continue;
        for (int64_t i = 0; i < nx; ++i) dst[base + i] = element(row + (static_cast<uint64_t>(i) * comps + c) * size, layer.type);
      }
    }
  }
  return true;
}

bool decodeSparse(F3dFile& file, const Layer& layer, const FrameBox& frame, float* const out[3]) {
  const Box& w = layer.window;
  const SparseLayout& s = layer.sparse;
  const int64_t side = s.side();
  const uint64_t comps = static_cast<uint64_t>(layer.components), size = static_cast<uint64_t>(layer.type);
  Scratch flags, empties, block;
  const uint64_t blockBytes = sparseBlockBytes(layer);
  if (!flags.size(s.blockCount)) return noMemory(file, layer, s.blockCount);
  if (!file.readBlockFlags(layer, flags.data())) return false;
  uint64_t stored = 0;
  for (uint64_t b = 0; b < s.blockCount; ++b) stored += flags.data()[b] != 0;
  if (stored != s.occupied) {
    ZUtils::logReport("f3dport: layer \"%s\" of %s cannot be read: %llu blocks are flagged as stored, but it stores %llu\n",
                      layer.name.c_str(), file.label().c_str(), static_cast<unsigned long long>(stored),
                      static_cast<unsigned long long>(s.occupied));
    return false;
  }
  const uint64_t emptyBytes = s.blockCount * comps * size;  // at most the voxels' bytes
  if (!empties.size(emptyBytes)) return noMemory(file, layer, emptyBytes);
  if (!file.readElements(layer, LayerArray::EmptyValues, 0, s.blockCount * comps, empties.data())) return false;
  if (s.occupied > 0 && !block.size(blockBytes)) return noMemory(file, layer, blockBytes);

  uint64_t row = 0, index = 0;
  for (int32_t bk = 0; bk < s.blockRes[2]; ++bk)
    for (int32_t bj = 0; bj < s.blockRes[1]; ++bj)
      for (int32_t bi = 0; bi < s.blockRes[0]; ++bi, ++index) {
        const int64_t o[3] = {w.min[0] + bi * side, w.min[1] + bj * side, w.min[2] + bk * side};
        int64_t n[3];  // the block's voxels inside the data window
        for (int a = 0; a < 3; ++a) n[a] = w.max[a] - o[a] + 1 < side ? w.max[a] - o[a] + 1 : side;
        const bool isStored = flags.data()[index] != 0;
        if (isStored && !file.readBlock(layer, row++, block.data())) return false;
        for (uint64_t c = 0; c < comps; ++c) {
          float* dst = out[c];
          if (!dst) continue;
          const float empty = element(empties.data() + (index * comps + c) * size, layer.type);
          for (int64_t vk = 0; vk < n[2]; ++vk)
            for (int64_t vj = 0; vj < n[1]; ++vj) {
              float* line = dst + frame.at(o[0], o[1] + vj, o[2] + vk);
              if (!isStored) {
                for (int64_t vi = 0; vi < n[0]; ++vi) line[vi] = empty;
                continue;
              }
              const uint8_t* src = block.data() + static_cast<uint64_t>((vk * side + vj) * side) * comps * size;
              for (int64_t vi = 0; vi < n[0]; ++vi) line[vi] = element(src + (static_cast<uint64_t>(vi) * comps + c) * size, layer.type);
            }
        }
      }
  return true;
}

bool decodeMac(F3dFile& file, const Layer& layer, const FrameBox& frame, float* const out[3]) {
  const Box& w = layer.window;
  const uint64_t nx = static_cast<uint64_t>(w.size(0)), ny = static_cast<uint64_t>(w.size(1)),
                 nz = static_cast<uint64_t>(w.size(2));
  const uint64_t size = static_cast<uint64_t>(layer.type);
  // Per z-plane: the x-faces (nx+1)*ny, the y-faces nx*(ny+1), the z-faces of both sides.
  const uint64_t planeElements[3] = {(nx + 1) * ny, nx * (ny + 1), nx * ny};
  const LayerArray arrays[3] = {LayerArray::MacU, LayerArray::MacV, LayerArray::MacW};
  Scratch faces[3];
  for (int a = 0; a < 3; ++a) {
    if (!out[a]) continue;
    const uint64_t bytes = planeElements[a] * (a == 2 ? 2 : 1) * size;
    if (!faces[a].size(bytes)) return noMemory(file, layer, bytes);
  }
  for (uint64_t k = 0; k < nz; ++k) {
    for (int a = 0; a < 3; ++a) {
      if (out[a] && !file.readElements(layer, arrays[a], k * planeElements[a], planeElements[a] * (a == 2 ? 2 : 1),
                                       faces[a].data()))
        return false;
    }
    for (uint64_t j = 0; j < ny; ++j) {
      const int64_t base = frame.at(w.min[0], w.min[1] + static_cast<int64_t>(j), w.min[2] + static_cast<int64_t>(k));
      for (uint64_t i = 0; i < nx; ++i) {
        if (out[0]) {
          const uint8_t* u = faces[0].data() + (j * (nx + 1) + i) * size;
          out[0][base + static_cast<int64_t>(i)] = faceMean(u, u + size, layer.type);
        }
        if (out[1]) {
          const uint8_t* v = faces[1].data() + (j * nx + i) * size;
          out[1][base + static_cast<int64_t>(i)] = faceMean(v, v + nx * size, layer.type);
        }
        if (out[2]) {
          const uint8_t* z = faces[2].data() + (j * nx + i) * size;
          out[2][base + static_cast<int64_t>(i)] = faceMean(z, z + nx * ny * size, layer.type);
        }
      }
    }
  }
  return true;
}

}  // namespace

float halfToFloat(uint16_t h) {
  const uint32_t sign = uint32_t(h & 0x8000) << 16;
  const uint32_t exponent = (h >> 10) & 0x1f;
  uint32_t mantissa = h & 0x3ff;
  uint32_t bits;
  if (exponent == 0x1f) {
    bits = sign | 0x7f800000u | mantissa << 13;  // infinity or NaN (payload kept)
  } else if (exponent != 0) {
    bits = sign | (exponent + 112) << 23 | mantissa << 13;
  } else if (mantissa == 0) {
    bits = sign;  // signed zero
  } else {
    // Subnormal half: normalise it (its value is mantissa * 2^-24).
    int e = 113;
    while (!(mantissa & 0x400)) {
      mantissa <<= 1;
      --e;
    }
    bits = sign | uint32_t(e) << 23 | (mantissa & 0x3ff) << 13;
  }
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

bool decodeLayer(F3dFile& file, const Layer& layer, const Box& box, float* const out[3]) {
  const FrameBox frame(box);
  switch (layer.cls) {
    case LayerClass::Dense: return decodeDense(file, layer, frame, out);
    case LayerClass::Sparse: return decodeSparse(file, layer, frame, out);
    case LayerClass::Mac: return decodeMac(file, layer, frame, out);
  }
  return false;
}

}  // namespace F3dPort
