#include "plugins/f3dport/LayerChecks.h"

namespace F3dPort {

MappingKind mappingKind(const std::string& mappingType) {
  if (mappingType == "NullFieldMapping") return MappingKind::Null;
  if (mappingType == "MatrixFieldMapping") return MappingKind::Matrix;
  if (mappingType == "FrustumFieldMapping") return MappingKind::Frustum;
  return MappingKind::Unknown;
}

std::string unsupportedClass(const std::string& className) {
  if (className == "MIPField") return "it is a MIP layer (a resolution pyramid), which this reader does not read";
  return "its class \"" + className + "\" is not one this reader knows";
}

std::string checkBoxes(const Layer& layer) {
  if (!layer.extents.valid() || !layer.window.valid()) return "its extents or data window end before they start";
  if (layer.window.voxels() < 0 || layer.extents.voxels() < 0) return "its data window holds more voxels than any file";
  if (layer.components != 1 && layer.components != 3) return "it has neither 1 nor 3 components";
  return std::string();
}

std::string checkSparseLayout(Layer& layer, int64_t order, int64_t blocks, int64_t occupied) {
  // Order 10 is a block of 2^30 voxels; Field3D writes 4 by default.
  if (order < 0 || order > 10) return "its block order " + std::to_string(order) + " is outside 0..10";
  SparseLayout& s = layer.sparse;
  s.blockOrder = static_cast<int32_t>(order);
  const int64_t side = s.side();
  uint64_t product = 1;
  for (int a = 0; a < 3; ++a) {
    const int64_t need = (layer.window.size(a) + side - 1) / side;
    if (s.blockRes[a] != need) return "its block_res does not tile its data window";
    product *= static_cast<uint64_t>(need);  // at most the voxel count: no overflow
  }
  if (blocks < 0 || static_cast<uint64_t>(blocks) != product) return "its num_blocks is not the product of block_res";
  if (occupied < 0 || occupied > blocks) return "its num_occupied_blocks is outside 0..num_blocks";
  s.blockCount = product;
  s.occupied = static_cast<uint64_t>(occupied);
  return std::string();
}

uint64_t sparseBlockBytes(const Layer& layer) {
  const uint64_t side = static_cast<uint64_t>(layer.sparse.side());
  return side * side * side * static_cast<uint64_t>(layer.components) * static_cast<uint64_t>(layer.type);
}

}  // namespace F3dPort
