// Field3D's HDF5 encoding (the default before Field3D 1.7), read through libhdf5's C API.
//
//   /                               attr version_number (informational)
//   ├── field3d_global_metadata     skipped
//   ├── field3d_group_membership    skipped
//   └── <partition>.<n>             group with a group "mapping" (others are skipped)
//       ├── mapping                 attr mapping_type; Matrix: num_time_samples (int32[1]),
//       │                           time_<s> (float32[1]), matrix_<s> (float64 4x4), or the
//       │                           pre-1.3 "MatrixFieldMapping data" (float64[16]); Frustum:
//       │                           num_time_samples, time_<s>, screen_to_world_<s>,
//       │                           z_distribution (int32[1])
//       └── <layer>                 group with attr class_type = "field3d_layer"
// Layer attributes (1-D): class_name, version int32[1] (= 1), extents and data_window
// int32[6] (min x y z, max x y z, inclusive), components int32[1], bits_per_component
// int32[1] (16 half, 32 float, 64 double); sparse: block_order int32[1], block_res
// int32[3], num_blocks int32[1], num_occupied_blocks int32[1].
// Datasets: dense "data" (rank 1, voxels * components); sparse "block_is_allocated_data"
// (int8 [num_blocks]), "block_empty_value_data" ([num_blocks * components]) and, only when
// a block is stored, "data" (rank 2, [num_occupied_blocks][side^3 * components]); MAC
// "u_data", "v_data", "w_data" (rank 1, the face counts).
// Half voxels are stored as H5T_STD_I16LE, a 16-bit signed integer carrying the half's
// bits: they are read as raw 16-bit values, never converted by libhdf5.
// Strings are fixed-length without a stored terminator: read with their own type into a
// buffer one byte longer.
//
// libhdf5 is not hardened against damaged files. Before it reads anything the caller has
// checked the superblock (Hdf5Superblock.h); here every attribute's class, rank and
// length is checked before it is read, every dataset's rank, dimensions and element type
// against the layer's attributes, its stored size against the file's size, its chunk size
// and its filters (deflate, shuffle and Fletcher-32 only) before any voxel is read, and
// links other than hard links (soft and external links, which could lead libhdf5 into
// other files) are not followed. libhdf5 calls of this plug-in are serialised by one lock
// and print nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugins/f3dport/F3dFile.h"

namespace F3dPort {

class Hdf5F3dFile : public F3dFile {
 public:
  // Opens the file and reads its layout. Null, with a report, when libhdf5 cannot open it.
  static std::unique_ptr<Hdf5F3dFile> open(const char* path);
  ~Hdf5F3dFile() override;

  bool readElements(const Layer& layer, LayerArray array, uint64_t first, uint64_t count, void* dst) override;
  bool readBlockFlags(const Layer& layer, uint8_t* flags) override;
  bool readBlock(const Layer& layer, uint64_t row, void* dst) override;

 private:
  explicit Hdf5F3dFile(const char* path) : F3dFile(path) {}
  bool fail(const Layer& layer, const std::string& why);

  int64_t file_ = -1;  // hid_t
  uint64_t fileSize_ = 0;
  std::vector<std::string> paths_;  // per layer handle: "/<partition group>/<layer>"

  friend class Hdf5LayoutReader;
};

}  // namespace F3dPort
