#include "plugins/f3dport/OgawaF3dFile.h"

#include <zlib.h>

#include <climits>
#include <vector>

#include "ostutils/MemoryLimit.h"
#include "plugins/f3dport/LayerChecks.h"
#include "zutils/Report.h"

namespace F3dPort {

namespace {

// The voxel type and component count an element code names (8..13); false for others.
bool voxelCode(int32_t code, VoxelType& type, int32_t& components) {
  if (code < kOgHalf || code > kOgVec3Double) return false;
  static const VoxelType kTypes[3] = {VoxelType::Half, VoxelType::Float, VoxelType::Double};
  type = kTypes[(code - kOgHalf) % 3];
  components = code >= kOgVec3Half ? 3 : 1;
  return true;
}

}  // namespace

OgawaF3dFile::OgawaF3dFile(std::unique_ptr<CappedReader> source, const std::string& label)
    : F3dFile(label), source_(std::move(source)), archive_(*source_), objects_(archive_) {}

std::unique_ptr<OgawaF3dFile> OgawaF3dFile::open(std::unique_ptr<CappedReader> source, const std::string& label) {
  std::unique_ptr<OgawaF3dFile> file(new OgawaF3dFile(std::move(source), label));
  if (!file->readLayout()) return nullptr;
  return file;
}

bool OgawaF3dFile::readLayout() {
  if (!archive_.open()) {
    ZUtils::logReport("f3dport: %s is not a readable Ogawa file: %s\n", label_.c_str(), archive_.failure().c_str());
    return false;
  }
  OgawaObject root;
  OgawaMembers members;
  if (!objects_.object(archive_.root().offset, root) || root.kind != kOgGroup || !objects_.members(root, members)) {
    ZUtils::logReport("f3dport: %s is not a readable Field3D file: its Ogawa root is not a Field3D group%s%s\n",
                      label_.c_str(), archive_.failure().empty() ? "" : ": ", archive_.failure().c_str());
    return false;
  }
  for (const OgawaObject& m : members) {
    if (m.kind == kOgGroup && m.name != "field3d_global_metadata") readPartition(m);
    if (source_->exhausted() || outOfMemory_) break;
  }
  if (outOfMemory_) {
    ZUtils::logReport("[ERROR] f3dport: no memory for the partitions and layers %s lists\n", label_.c_str());
    return false;
  }
  if (source_->exhausted()) {
    ZUtils::logReport("f3dport: %s is damaged: %s\n", label_.c_str(), archive_.failure().c_str());
    return false;
  }
  return true;
}

void OgawaF3dFile::readPartition(const OgawaObject& group) {
  OgawaMembers members;
  if (!objects_.members(group, members)) return;
  const OgawaObject* mapping = members.find("mapping", kOgGroup);
  if (!mapping) return;  // not a partition: Field3D gives every partition a mapping
  if (!layout_.account(group.name)) {
    outOfMemory_ = true;
    return;
  }
  Partition p;
  p.group = group.name;
  std::string mappingProblem;
  readMapping(*mapping, p.mapping, mappingProblem);
  for (const OgawaObject& m : members) {
    if (m.kind != kOgGroup || m.name == "mapping") continue;
    OgawaMembers layerMembers;
    std::string classType;
    const OgawaObject* tag = nullptr;
    if (!objects_.members(m, layerMembers) || !(tag = layerMembers.find("class_type", kOgAttribute)) ||
        !objects_.text(*tag, classType) || classType != "field3d_layer")
      continue;
    if (!layout_.account(m.name)) {
      outOfMemory_ = true;
      break;
    }
    Layer layer;
    layer.name = m.name;
    layer.handle = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back();
    nodes_.back().path = p.group + "/" + m.name;
    if (!mappingProblem.empty())
      layer.unreadable = mappingProblem;
    else
      readLayer(layerMembers, layer);
    p.layers.push_back(std::move(layer));
    if (source_->exhausted()) return;
  }
  layout_.partitions.push_back(std::move(p));
}

bool OgawaF3dFile::readMapping(const OgawaObject& group, Mapping& out, std::string& problem) {
  OgawaMembers members;
  std::string type;
  const OgawaObject* typeAttr = nullptr;
  if (!objects_.members(group, members) || !(typeAttr = members.find("mapping_type", kOgAttribute)) ||
      !objects_.text(*typeAttr, type)) {
    problem = "its partition's mapping has no readable mapping_type";
    return false;
  }
  const MappingKind kind = mappingKind(type);
  if (kind == MappingKind::Unknown) {
    problem = "its partition's mapping type \"" + type + "\" is not one this reader knows";
    return false;
  }
  out.type = kind == MappingKind::Null ? MappingType::Null
                                       : kind == MappingKind::Matrix ? MappingType::Matrix : MappingType::Frustum;
  if (out.type == MappingType::Null) return true;

  int64_t n = 0;
  const OgawaObject* count = members.find("num_time_samples", kOgAttribute);
  // Each sample takes at least two attributes of the group: more samples than that is damage.
  if (!count || !objects_.integer(*count, n) || n < 0 || static_cast<uint64_t>(n) > members.list.size() / 2) {
    problem = "its partition's mapping has no readable num_time_samples";
    return false;
  }
  const bool frustum = out.type == MappingType::Frustum;
  if (frustum && n == 0) {
    problem = "its partition's frustum mapping has no time sample";
    return false;
  }
  for (int64_t s = 0; s < n; ++s) {
    const std::string index = std::to_string(s);
    TimedMatrix sample;
    const OgawaObject* time = members.find(("time_" + index).c_str(), kOgAttribute);
    const OgawaObject* matrix =
        members.find(((frustum ? "screen_to_world_" : "matrix_") + index).c_str(), kOgAttribute);
    if (!time || !matrix || !objects_.float32(*time, sample.time) || !objects_.matrix(*matrix, sample.m)) {
      problem = "time sample " + index + " of its partition's mapping cannot be read";
      return false;
    }
    out.samples.push_back(sample);
  }
  if (frustum) {
    int64_t z = -1;
    const OgawaObject* dist = members.find("z_distribution", kOgAttribute);
    if (!dist || !objects_.integer(*dist, z) || (z != 0 && z != 1)) {
      problem = "its partition's frustum mapping has no readable z_distribution";
      return false;
    }
    out.zDistribution = static_cast<int32_t>(z);
  }
  return true;
}

void OgawaF3dFile::readLayer(const OgawaMembers& members, Layer& out) {
  LayerNodes& nodes = nodes_[out.handle];
  std::string className;
  const OgawaObject* attr = members.find("class_name", kOgAttribute);
  if (!attr || !objects_.text(*attr, className)) {
    out.unreadable = "it has no readable class_name";
    return;
  }
  if (className == "MACField") {
    out.cls = LayerClass::Mac;
    out.unreadable = "it is a MAC layer in an Ogawa file, which holds no data (Field3D writes none there)";
    return;
  }
  if (className != "DenseField" && className != "SparseField") {
    out.unreadable = unsupportedClass(className);
    return;
  }
  out.cls = className == "DenseField" ? LayerClass::Dense : LayerClass::Sparse;

  auto integer = [&](const char* name, int64_t& v) {
    const OgawaObject* a = members.find(name, kOgAttribute);
    return a && objects_.integer(*a, v);
  };
  auto vec3 = [&](const char* name, int32_t v[3]) {
    const OgawaObject* a = members.find(name, kOgAttribute);
    return a && objects_.vec3i(*a, v);
  };
  int64_t version = 0, components = 0;
  if (!integer("version", version) || version != 1) {
    out.unreadable = "its layer version is not 1";
    return;
  }
  if (!vec3("extents_min", out.extents.min) || !vec3("extents_max", out.extents.max) ||
      !vec3("data_window_min", out.window.min) || !vec3("data_window_max", out.window.max) ||
      !integer("components", components)) {
    out.unreadable = "its extents, data window or component count cannot be read";
    return;
  }

  // The voxel type is the code of the voxel data (dense) or of the empty values (sparse).
  const bool dense = out.cls == LayerClass::Dense;
  const OgawaObject* typed = members.find(dense ? "data" : "block_empty_value_data", kOgDataset);
  int32_t code = -1, codeComponents = 0;
  if (!typed || !objects_.datasetCode(*typed, code) || !voxelCode(code, out.type, codeComponents) ||
      codeComponents != components) {
    out.unreadable = "its voxel data has no voxel type of 1 or 3 half, float or double components";
    return;
  }
  out.components = codeComponents;
  std::string problem = checkBoxes(out);
  if (!problem.empty()) {
    out.unreadable = problem;
    return;
  }
  const uint64_t elementBytes = uint64_t(out.components) * static_cast<uint64_t>(out.type);

  if (dense) {
    OgawaData chunk;
    const uint64_t voxels = static_cast<uint64_t>(out.window.voxels());
    if (OgawaObjects::chunkCount(*typed) != 1 || !objects_.chunk(*typed, 0, chunk) ||
        voxels > UINT64_MAX / elementBytes || chunk.size != voxels * elementBytes) {
      out.unreadable = "its voxel data does not hold exactly the data window's voxels";
      return;
    }
    nodes.data = *typed;
    return;
  }

  int64_t order = -1, blocks = -1, occupied = -1, compressed = 1;
  if (!integer("block_order", order) || !vec3("block_res", out.sparse.blockRes) || !integer("num_blocks", blocks) ||
      !integer("num_occupied_blocks", occupied)) {
    out.unreadable = "its block layout cannot be read";
    return;
  }
  const OgawaObject* isCompressed = members.find("data_is_compressed", kOgAttribute);
  if (isCompressed && !objects_.integer(*isCompressed, compressed)) {
    out.unreadable = "its data_is_compressed cannot be read";
    return;
  }
  problem = checkSparseLayout(out, order, blocks, occupied);
  if (!problem.empty()) {
    out.unreadable = problem;
    return;
  }
  const OgawaObject* flags = members.find("block_is_allocated_data", kOgDataset);
  const OgawaObject* data = members.find("data", compressed ? kOgCompressedDataset : kOgDataset);
  int32_t flagCode = -1, dataCode = -1;
  OgawaData flagChunk, emptyChunk;
  if (!flags || !objects_.datasetCode(*flags, flagCode) || (flagCode != kOgUint8 && flagCode != kOgInt8) ||
      OgawaObjects::chunkCount(*flags) != 1 || !objects_.chunk(*flags, 0, flagChunk) ||
      flagChunk.size != out.sparse.blockCount) {
    out.unreadable = "its block allocation flags do not hold one byte per block";
    return;
  }
  if (OgawaObjects::chunkCount(*typed) != 1 || !objects_.chunk(*typed, 0, emptyChunk) ||
      emptyChunk.size / elementBytes != out.sparse.blockCount || emptyChunk.size % elementBytes != 0) {
    out.unreadable = "its empty values do not hold one voxel per block";
    return;
  }
  if (!data || !objects_.datasetCode(*data, dataCode) || dataCode != code ||
      OgawaObjects::chunkCount(*data) != out.sparse.occupied) {
    out.unreadable = "its block data does not hold one chunk per stored block";
    return;
  }
  nodes.data = *data;
  nodes.flags = *flags;
  nodes.emptyValues = *typed;
  nodes.compressed = compressed != 0;
}

bool OgawaF3dFile::fail(const Layer& layer, const std::string& why) {
  ZUtils::logReport("f3dport: layer \"%s\" of %s cannot be read: %s\n", nodes_[layer.handle].path.c_str(),
                    label_.c_str(), why.c_str());
  return false;
}

bool OgawaF3dFile::readElements(const Layer& layer, LayerArray array, uint64_t first, uint64_t count, void* dst) {
  if (layer.handle >= nodes_.size()) return false;
  const LayerNodes& nodes = nodes_[layer.handle];
  const OgawaObject* dataset = array == LayerArray::DenseData     ? &nodes.data
                               : array == LayerArray::EmptyValues ? &nodes.emptyValues
                                                                  : nullptr;
  if (!dataset) return fail(layer, "the file holds no MAC face data");
  const uint64_t size = static_cast<uint64_t>(layer.type);
  OgawaData chunk;
  if (!objects_.chunk(*dataset, 0, chunk) || first > UINT64_MAX / size || count > UINT64_MAX / size ||
      !archive_.readData(chunk, first * size, dst, count * size))
    return fail(layer, archive_.failure());
  return true;
}

bool OgawaF3dFile::readBlockFlags(const Layer& layer, uint8_t* flags) {
  if (layer.handle >= nodes_.size()) return false;
  OgawaData chunk;
  if (!objects_.chunk(nodes_[layer.handle].flags, 0, chunk) ||
      !archive_.readData(chunk, 0, flags, layer.sparse.blockCount))
    return fail(layer, archive_.failure());
  return true;
}

bool OgawaF3dFile::readBlock(const Layer& layer, uint64_t row, void* dst) {
  if (layer.handle >= nodes_.size()) return false;
  const LayerNodes& nodes = nodes_[layer.handle];
  const uint64_t blockBytes = sparseBlockBytes(layer);
  OgawaData chunk;
  if (!objects_.chunk(nodes.data, row, chunk)) return fail(layer, "stored block " + std::to_string(row) + " is missing");
  if (!nodes.compressed) {
    if (chunk.size != blockBytes) return fail(layer, "stored block " + std::to_string(row) + " is not one block");
    if (!archive_.readData(chunk, 0, dst, blockBytes)) return fail(layer, archive_.failure());
    return true;
  }
  // One zlib stream (RFC 1950) inflating to exactly one block. The compressed bytes come
  // from the file, so their size is at most the file's.
  OSTUtils::MemoryReservation hold;
  std::vector<uint8_t> packed;
  if (!hold.reserve(chunk.size)) return fail(layer, "no memory for a compressed block");
  packed.resize(static_cast<size_t>(chunk.size));
  if (!archive_.readData(chunk, 0, packed.data(), chunk.size)) return fail(layer, archive_.failure());
  z_stream z = {};
  if (inflateInit(&z) != Z_OK) return fail(layer, "zlib cannot start");
  uint8_t* out = static_cast<uint8_t*>(dst);
  const uint8_t* in = packed.data();
  uint64_t inLeft = chunk.size, outLeft = blockBytes;
  const uint64_t kPiece = uint64_t(1) << 30;  // zlib counts in 32-bit units
  int rc;
  for (;;) {
    if (z.avail_in == 0 && inLeft > 0) {
      z.next_in = const_cast<Bytef*>(in);
      z.avail_in = static_cast<uInt>(inLeft < kPiece ? inLeft : kPiece);
      in += z.avail_in;
      inLeft -= z.avail_in;
    }
    if (z.avail_out == 0 && outLeft > 0) {
      z.next_out = out;
      z.avail_out = static_cast<uInt>(outLeft < kPiece ? outLeft : kPiece);
      out += z.avail_out;
      outLeft -= z.avail_out;
    }
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_OK) continue;
    // No progress: go on only when a piece is left to hand over.
    if (rc == Z_BUF_ERROR && ((z.avail_in == 0 && inLeft > 0) || (z.avail_out == 0 && outLeft > 0))) continue;
    break;  // the end of the stream, damage, or input or output used up
  }
  const bool whole = rc == Z_STREAM_END && z.avail_out == 0 && outLeft == 0;
  inflateEnd(&z);
  if (!whole) return fail(layer, "stored block " + std::to_string(row) + " does not inflate to exactly one block");
  return true;
}

}  // namespace F3dPort
