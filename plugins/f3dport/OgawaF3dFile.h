// Field3D's Ogawa encoding (Field3D 1.7's default): the layout and the voxel arrays,
// read with OgawaArchive / OgawaObjects and zlib.
//
// Tree (members found by name and kind, never by position):
//   root group "f3droot"
//   ├── <partition>.<n>        group; every group member except field3d_global_metadata
//   │   ├── mapping            group: mapping_type (string), then per type
//   │   │                        Null:    nothing this reader needs
//   │   │                        Matrix:  num_time_samples (int32), time_<s> (float),
//   │   │                                 matrix_<s> (4x4 double)
//   │   │                        Frustum: num_time_samples, time_<s>, screen_to_world_<s>,
//   │   │                                 camera_to_world_<s>, z_distribution (int32)
//   │   └── <layer>            group with class_type = "field3d_layer"
//   └── field3d_global_metadata
// Layer group: class_name, version (1), extents_min/max and data_window_min/max (vec3
// int32, inclusive), components and bits_per_component (int32 in dense layers, uint8 in
// sparse ones), and
//   dense:  data, a dataset with one chunk of the data window's voxels, uncompressed;
//           the voxel type is data's code (8/9/10 half/float/double, 11/12/13 their vec3)
//   sparse: block_order (uint8), num_blocks (uint32) = product of block_res (vec3 int32),
//           data_is_compressed (uint8), block_is_allocated_data (uint8 dataset, one chunk
//           of num_blocks bytes), block_empty_value_data (voxel-type dataset, one chunk of
//           num_blocks elements), num_occupied_blocks (uint32), and data: a compressed
//           dataset with one chunk per stored block, each chunk one zlib stream (RFC
//           1950) of exactly side^3 voxels (an ordinary dataset of raw blocks when
//           data_is_compressed is 0)
//   MAC:    nothing: Field3D's Ogawa writer stores no MAC data, so such a layer is listed
//           as unreadable.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugins/f3dport/CappedReader.h"
#include "plugins/f3dport/F3dFile.h"
#include "plugins/f3dport/OgawaObjects.h"

namespace F3dPort {

class OgawaF3dFile : public F3dFile {
 public:
  // Reads the layout from `source` (which starts with the Ogawa magic). Null, with a
  // report naming `label`, when the container or its root cannot be read.
  static std::unique_ptr<OgawaF3dFile> open(std::unique_ptr<CappedReader> source, const std::string& label);

  bool readElements(const Layer& layer, LayerArray array, uint64_t first, uint64_t count, void* dst) override;
  bool readBlockFlags(const Layer& layer, uint8_t* flags) override;
  bool readBlock(const Layer& layer, uint64_t row, void* dst) override;

 private:
  struct LayerNodes {
    std::string path;  // "<partition group>/<layer>", for reports
    OgawaObject data;
    OgawaObject flags;
    OgawaObject emptyValues;
    bool compressed = false;
  };

  OgawaF3dFile(std::unique_ptr<CappedReader> source, const std::string& label);
  bool readLayout();
  void readPartition(const OgawaObject& group);
  bool readMapping(const OgawaObject& group, Mapping& out, std::string& problem);
  void readLayer(const OgawaMembers& members, Layer& out);
  bool fail(const Layer& layer, const std::string& why);

  std::unique_ptr<CappedReader> source_;
  OgawaArchive archive_;
  OgawaObjects objects_;
  std::vector<LayerNodes> nodes_;
  bool outOfMemory_ = false;  // the budget refused the layout
};

}  // namespace F3dPort
