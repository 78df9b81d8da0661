// The grid names a Field3D file offers (GetAvailableChannels) and mappings use.
//
// - A scalar layer is named by its layer name.
// - A vector layer (dense, sparse or MAC) gives three grids "<layer>(x)", "<layer>(y)",
//   "<layer>(z)", the spelling of the F3D name table.
// - A layer name that occurs in more than one partition group: the groups are taken in the
//   byte order of their names ("rotated.0" before "smoke.0" before "smoke.1"); the first
//   keeps the plain name, each later one is named "<partition group>/<layer>".
//
// Names are given to every layer, readable or not, so a file and its twin in the other
// encoding name alike even where one of them cannot hold a layer's data (MAC in Ogawa).
// The list is in byte order of the names (HDF5 and Ogawa list children in different
// orders; this order is the same for both). Flag byte: 1 for vector components, which the
// default mapping never takes as smoke; 0 for scalar layers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/f3dport/F3dLayout.h"

namespace F3dPort {

struct GridName {
  std::string name;
  size_t partition = 0;  // index into FileLayout::partitions
  size_t layer = 0;      // index into that partition's layers
  int component = -1;    // -1 scalar, else 0, 1, 2
  uint8_t flag = 0;
  bool readable = true;  // the layer's `unreadable` is empty
};

std::vector<GridName> gridNames(const FileLayout& layout);

// The first grid of that exact name, or null.
const GridName* findGrid(const std::vector<GridName>& names, const char* name);

}  // namespace F3dPort
