// One open Field3D file, whichever its encoding: the layout (F3dLayout.h) read when it is
// opened, and the layers' voxel arrays read on demand.
//
// Encodings are told apart by the first bytes:
//   89 48 44 46 0D 0A 1A 0A   HDF5 (read through libhdf5, Hdf5F3dFile.h)
//   "Ogawa"                   Ogawa (our own reader, OgawaF3dFile.h)
// Anything else is not a Field3D file and is never handed to libhdf5 as a guess.
//
// Array reads give the raw little-endian bytes of the layer's voxel type, one scalar
// element per component: a vector voxel is three elements.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "plugins/f3dport/F3dLayout.h"

namespace F3dPort {

enum class LayerArray : uint8_t {
  DenseData,    // dense: data-window voxels
  EmptyValues,  // sparse: one voxel per block, block-index order
  MacU,         // MAC: x-faces, (nx+1) * ny * nz, x fastest from the window minimum
  MacV,         // MAC: y-faces, nx * (ny+1) * nz
  MacW,         // MAC: z-faces, nx * ny * (nz+1)
};

class F3dFile {
 public:
  virtual ~F3dFile() = default;

  const FileLayout& layout() const { return layout_; }
  // The path, as reports name the file.
  const std::string& label() const { return label_; }

  // Elements [first, first + count) of one of a layer's flat arrays into dst
  // (count * element size bytes). Reports and returns false on damage.
  virtual bool readElements(const Layer& layer, LayerArray array, uint64_t first, uint64_t count, void* dst) = 0;
  // A sparse layer's allocation flags, one byte per block in block-index order (non-zero:
  // stored).
  virtual bool readBlockFlags(const Layer& layer, uint8_t* flags) = 0;
  // Row `row` of a sparse layer's stored blocks: side^3 voxels, x fastest.
  virtual bool readBlock(const Layer& layer, uint64_t row, void* dst) = 0;

 protected:
  explicit F3dFile(std::string label) : label_(std::move(label)) {}
  FileLayout layout_;
  std::string label_;
};

// Opens `path` by its first bytes. Status: 0 opened (`out` set); 3 the file cannot be
// opened; 4 not a Field3D file, damaged, or an encoding this build does not read. Every
// failure is reported.
int openF3dFile(const char* path, std::unique_ptr<F3dFile>& out);

}  // namespace F3dPort
