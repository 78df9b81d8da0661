// Checks both readers apply to what a file says about a layer before anything is sized
// from it, and the few names both encodings share.
#pragma once

#include <cstdint>
#include <string>

#include "plugins/f3dport/F3dLayout.h"

namespace F3dPort {

enum class MappingKind { Null, Matrix, Frustum, Unknown };

// "NullFieldMapping", "MatrixFieldMapping", "FrustumFieldMapping"; anything else is
// Unknown (only custom Field3D plug-ins write other types).
MappingKind mappingKind(const std::string& mappingType);

// The reason a layer of class `className` (not DenseField, SparseField or MACField) is
// not read: MIPField layers and unknown classes.
std::string unsupportedClass(const std::string& className);

// Extents and data window: min <= max on every axis and a voxel count that fits 62 bits;
// components 1 or 3. Empty when sound, else the reason.
std::string checkBoxes(const Layer& layer);

// A sparse layer's block layout, stored into layer.sparse when sound: block order 0..10,
// block_res = ceil(data-window size / side) on every axis, num_blocks = its product,
// 0 <= num_occupied_blocks <= num_blocks. Empty when sound, else the reason.
std::string checkSparseLayout(Layer& layer, int64_t order, int64_t blocks, int64_t occupied);

// Bytes of one stored block of a sparse layer: side^3 voxels of `components` elements.
uint64_t sparseBlockBytes(const Layer& layer);

}  // namespace F3dPort
