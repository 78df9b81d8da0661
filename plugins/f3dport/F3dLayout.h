// What a Field3D file holds, as both readers (OgawaF3dFile, Hdf5F3dFile) describe it:
// partitions (the file's partition groups, "<user name>.<index>"), each with one mapping
// and its layers. No voxel data lives here; F3dFile reads it on demand.
//
// Coordinates are Field3D voxel indices. Boxes are inclusive on both ends, as the files
// store them; the voxels of a layer are those of its data window, x fastest, then y,
// then z, vector components interleaved (x, y, z of one voxel, then the next voxel).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ostutils/MemoryLimit.h"

namespace F3dPort {

// The element type of a layer's voxels; the value is its size in bytes.
enum class VoxelType : uint8_t { Half = 2, Float = 4, Double = 8 };

enum class LayerClass : uint8_t { Dense, Sparse, Mac };

struct Box {
  int32_t min[3] = {0, 0, 0};
  int32_t max[3] = {-1, -1, -1};

  int64_t size(int axis) const { return int64_t(max[axis]) - min[axis] + 1; }
  // min <= max on every axis.
  bool valid() const { return min[0] <= max[0] && min[1] <= max[1] && min[2] <= max[2]; }
  // Voxel count, or -1 when it does not fit 62 bits (a box from a damaged file).
  int64_t voxels() const;
  bool operator==(const Box& o) const;
};

enum class MappingType : uint8_t { Null, Matrix, Frustum };

// One time sample of a matrix mapping (local to world) or of a frustum mapping (screen to
// world): an Imath M44d in the row-vector convention, world = [x y z 1] * m, stored row by
// row (translation in elements 12, 13, 14).
struct TimedMatrix {
  float time = 0.0f;
  double m[16] = {};
};

struct Mapping {
  MappingType type = MappingType::Null;
  // Matrix: local-to-world samples, possibly none (the identity). Frustum: screen-to-world
  // samples, at least one.
  std::vector<TimedMatrix> samples;
  int32_t zDistribution = 0;  // frustum only: 0 perspective, 1 uniform in camera depth
};

// A sparse layer: cubic blocks of side 1 << blockOrder anchored at the data-window
// minimum, blockRes blocks per axis, indexed x fastest; `occupied` of them are stored.
struct SparseLayout {
  int32_t blockOrder = 0;
  int32_t blockRes[3] = {0, 0, 0};
  uint64_t blockCount = 0;
  uint64_t occupied = 0;

  int64_t side() const { return int64_t(1) << blockOrder; }
};

struct Layer {
  std::string name;
  LayerClass cls = LayerClass::Dense;
  VoxelType type = VoxelType::Float;
  int32_t components = 1;  // 1 scalar, 3 vector
  Box extents;             // the nominal grid: local space [0,1]^3 spans it
  Box window;              // the voxels stored
  SparseLayout sparse;
  // Why the layer cannot be read (a MAC layer of an Ogawa file, a class or version this
  // reader does not know, damaged attributes); empty when it can.
  std::string unreadable;
  // The reader's own reference to the layer (an index into its tables).
  uint32_t handle = 0;
};

struct Partition {
  std::string group;  // "<user name>.<index>", e.g. "smoke.0"
  Mapping mapping;
  std::vector<Layer> layers;
};

struct FileLayout {
  std::vector<Partition> partitions;  // in the reader's order (HDF5: by name; Ogawa: as written)

  // The readers count what the layout takes as it grows (and the grid names made from it,
  // GridNaming.h) in the memory budget: a file may list any number of partitions and
  // layers. False when the budget refuses an object named `name`.
  bool account(const std::string& name);

 private:
  uint64_t bytes_ = 0;
  OSTUtils::MemoryReservation hold_;
};

}  // namespace F3dPort
