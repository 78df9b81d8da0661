#include "plugins/f3dport/Hdf5F3dFile.h"

#include <hdf5.h>

#include <mutex>
#include <type_traits>

#include "ostutils/MemoryLimit.h"
#include "plugins/f3dport/LayerChecks.h"
#include "zutils/Report.h"
#include "zutils/platform/File.h"

namespace F3dPort {

static_assert(std::is_same<hid_t, int64_t>::value, "hid_t is 64 bits since HDF5 1.10");

namespace {

// Names and strings this reader looks at are short; a longer one is damage.
const size_t kMaxTextBytes = 64 * 1024;
// A chunk libhdf5 inflates whole; Field3D's are at most one sparse block.
const uint64_t kMaxChunkBytes = uint64_t(256) << 20;

std::mutex& hdf5Lock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

// Holds the lock and keeps libhdf5 from printing its error stack.
class Session {
 public:
  Session() : lock_(hdf5Lock()) {
    H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~Session() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }

 private:
  std::lock_guard<std::mutex> lock_;
  H5E_auto2_t func_ = nullptr;
  void* data_ = nullptr;
};

// An identifier closed by its own close function.
class Handle {
 public:
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() {
    if (id_ >= 0) close_(id_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  hid_t get() const { return id_; }
  bool ok() const { return id_ >= 0; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

// A hard link named `name` in `group` (soft and external links are not followed).
bool hardLink(hid_t group, const char* name) {
  if (H5Lexists(group, name, H5P_DEFAULT) <= 0) return false;
  H5L_info_t info;
  return H5Lget_info(group, name, &info, H5P_DEFAULT) >= 0 && info.type == H5L_TYPE_HARD;
}

// The object behind a hard link, if it is of `type` (H5I_GROUP or H5I_DATASET).
hid_t openChild(hid_t group, const char* name, H5I_type_t type) {
  if (!hardLink(group, name)) return -1;
  const hid_t id = H5Oopen(group, name, H5P_DEFAULT);
  if (id < 0) return -1;
  if (H5Iget_type(id) != type) {
    H5Oclose(id);
    return -1;
  }
  return id;
}

// The names of a group's links in name order (none when libhdf5 cannot list them), their
// storage counted in `hold`. False only when the budget refuses them.
bool childNames(hid_t group, std::vector<std::string>& out, OSTUtils::MemoryReservation& hold) {
  H5G_info_t info;
  if (H5Gget_info(group, &info) < 0) return true;
  uint64_t bytes = 0;
  for (hsize_t i = 0; i < info.nlinks; ++i) {
    const ssize_t n = H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, i, nullptr, 0, H5P_DEFAULT);
    if (n < 0 || static_cast<size_t>(n) > kMaxTextBytes) continue;
    bytes += sizeof(std::string) + static_cast<uint64_t>(n) + 1;
    if (bytes > hold.bytes() && !hold.reserve(bytes + bytes / 4)) return false;
    std::string name(static_cast<size_t>(n) + 1, '\0');
    if (H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, i, &name[0], name.size(), H5P_DEFAULT) < 0) continue;
    name.resize(static_cast<size_t>(n));
    out.push_back(std::move(name));
  }
  return true;
}

// A 1-D (or scalar, for one element) attribute of `count` elements of type class `cls`.
hid_t openAttribute(hid_t object, const char* name, H5T_class_t cls, hsize_t count) {
  if (H5Aexists(object, name) <= 0) return -1;
  Handle attr(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  if (!attr.ok()) return -1;
  Handle space(H5Aget_space(attr.get()), H5Sclose);
  Handle type(H5Aget_type(attr.get()), H5Tclose);
  if (!space.ok() || !type.ok() || H5Tget_class(type.get()) != cls) return -1;
  const int rank = H5Sget_simple_extent_ndims(space.get());
  hsize_t dims[2] = {0, 0};
  if (rank == 0) {
    if (count != 1) return -1;
  } else if (rank != 1 || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != 1 || dims[0] != count) {
    return -1;
  }
  return H5Aopen(object, name, H5P_DEFAULT);
}

bool intAttribute(hid_t object, const char* name, int32_t* out, hsize_t count) {
  Handle attr(openAttribute(object, name, H5T_INTEGER, count), H5Aclose);
  return attr.ok() && H5Aread(attr.get(), H5T_NATIVE_INT32, out) >= 0;
}

bool floatAttribute(hid_t object, const char* name, float& out) {
  Handle attr(openAttribute(object, name, H5T_FLOAT, 1), H5Aclose);
  return attr.ok() && H5Aread(attr.get(), H5T_NATIVE_FLOAT, &out) >= 0;
}

// A float64 4x4 (rank 2; its maximum dimensions do not matter) or 16-element attribute.
bool matrixAttribute(hid_t object, const char* name, double out[16]) {
  if (H5Aexists(object, name) <= 0) return false;
  Handle attr(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  if (!attr.ok()) return false;
  Handle space(H5Aget_space(attr.get()), H5Sclose);
  Handle type(H5Aget_type(attr.get()), H5Tclose);
  if (!space.ok() || !type.ok() || H5Tget_class(type.get()) != H5T_FLOAT) return false;
  hsize_t dims[2] = {0, 0};
  const int rank = H5Sget_simple_extent_ndims(space.get());
  if (rank < 1 || rank > 2 || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != rank) return false;
  if (!(rank == 2 ? dims[0] == 4 && dims[1] == 4 : dims[0] == 16)) return false;
  return H5Aread(attr.get(), H5T_NATIVE_DOUBLE, out) >= 0;
}

// A fixed-length string attribute, cut at its first NUL.
bool textAttribute(hid_t object, const char* name, std::string& out) {
  out.clear();
  if (H5Aexists(object, name) <= 0) return false;
  Handle attr(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  if (!attr.ok()) return false;
  Handle space(H5Aget_space(attr.get()), H5Sclose);
  Handle type(H5Aget_type(attr.get()), H5Tclose);
  if (!space.ok() || !type.ok() || H5Tget_class(type.get()) != H5T_STRING || H5Tis_variable_str(type.get()) != 0)
    return false;
  const hssize_t points = H5Sget_simple_extent_npoints(space.get());
  const size_t size = H5Tget_size(type.get());
  if (points != 1 || size == 0 || size > kMaxTextBytes) return false;
  std::string text(size + 1, '\0');
  if (H5Aread(attr.get(), type.get(), &text[0]) < 0) return false;
  text.resize(text.find('\0'));
  out = text;
  return true;
}

}  // namespace

// Reads the layout of an open file: partitions, mappings, layers, and the checks of every
// dataset a layer will read.
class Hdf5LayoutReader {
 public:
  explicit Hdf5LayoutReader(Hdf5F3dFile& file) : file_(file) {}

  // False when the budget refuses the names or the layout (reported).
  bool read() {
    std::vector<std::string> names;
    OSTUtils::MemoryReservation hold;
    Handle root(H5Gopen2(file_.file_, "/", H5P_DEFAULT), H5Gclose);
    if (!root.ok()) return true;  // nothing Field3D can read: an empty layout
    bool fits = childNames(root.get(), names, hold);
    for (const std::string& n : names) {
      if (!fits) break;
      if (n == "field3d_global_metadata" || n == "field3d_group_membership") continue;
      Handle group(openChild(root.get(), n.c_str(), H5I_GROUP), H5Oclose);
      if (group.ok()) fits = readPartition(group.get(), n);
    }
    if (!fits)
      ZUtils::logReport("[ERROR] f3dport: no memory for the partitions and layers %s lists\n", file_.label_.c_str());
    return fits;
  }

 private:
  bool readPartition(hid_t group, const std::string& name) {
    Handle mapping(openChild(group, "mapping", H5I_GROUP), H5Oclose);
    if (!mapping.ok()) return true;  // not a partition: Field3D gives every partition a mapping
    if (!file_.layout_.account(name)) return false;
    Partition p;
    p.group = name;
    const std::string mappingProblem = readMapping(mapping.get(), p.mapping);
    std::vector<std::string> names;
    OSTUtils::MemoryReservation hold;
    if (!childNames(group, names, hold)) return false;
    for (const std::string& n : names) {
      if (n == "mapping") continue;
      Handle layerGroup(openChild(group, n.c_str(), H5I_GROUP), H5Oclose);
      std::string classType;
      if (!layerGroup.ok() || !textAttribute(layerGroup.get(), "class_type", classType) || classType != "field3d_layer")
        continue;
      if (!file_.layout_.account(n)) return false;
      Layer layer;
      layer.name = n;
      layer.handle = static_cast<uint32_t>(file_.paths_.size());
      file_.paths_.push_back("/" + name + "/" + n);
      layer.unreadable = mappingProblem.empty() ? readLayer(layerGroup.get(), layer) : mappingProblem;
      p.layers.push_back(std::move(layer));
    }
    file_.layout_.partitions.push_back(std::move(p));
    return true;
  }

  std::string readMapping(hid_t group, Mapping& out) {
    std::string type;
    if (!textAttribute(group, "mapping_type", type)) return "its partition's mapping has no readable mapping_type";
    const MappingKind kind = mappingKind(type);
    if (kind == MappingKind::Unknown) return "its partition's mapping type \"" + type + "\" is not one this reader knows";
    if (kind == MappingKind::Null) {
      out.type = MappingType::Null;
      return std::string();
    }
    out.type = kind == MappingKind::Matrix ? MappingType::Matrix : MappingType::Frustum;
    TimedMatrix legacy;
    if (kind == MappingKind::Matrix && H5Aexists(group, "MatrixFieldMapping data") > 0) {
      // Files from before Field3D 1.3: one matrix, no time samples.
      if (!matrixAttribute(group, "MatrixFieldMapping data", legacy.m)) return "its partition's mapping matrix cannot be read";
      out.samples.push_back(legacy);
      return std::string();
    }
    int32_t n = -1;
    // A count beyond the attributes present ends at the first missing sample below.
    if (!intAttribute(group, "num_time_samples", &n, 1) || n < 0)
      return "its partition's mapping has no readable num_time_samples";
    const bool frustum = kind == MappingKind::Frustum;
    if (frustum && n == 0) return "its partition's frustum mapping has no time sample";
    for (int32_t s = 0; s < n; ++s) {
      const std::string index = std::to_string(s);
      TimedMatrix sample;
      if (!floatAttribute(group, ("time_" + index).c_str(), sample.time) ||
          !matrixAttribute(group, ((frustum ? "screen_to_world_" : "matrix_") + index).c_str(), sample.m))
        return "time sample " + index + " of its partition's mapping cannot be read";
      out.samples.push_back(sample);
    }
    if (frustum && (!intAttribute(group, "z_distribution", &out.zDistribution, 1) ||
                    (out.zDistribution != 0 && out.zDistribution != 1)))
      return "its partition's frustum mapping has no readable z_distribution";
    return std::string();
  }

  std::string readLayer(hid_t group, Layer& out) {
    std::string className;
    if (!textAttribute(group, "class_name", className)) return "it has no readable class_name";
    if (className == "DenseField")
      out.cls = LayerClass::Dense;
    else if (className == "SparseField")
      out.cls = LayerClass::Sparse;
    else if (className == "MACField")
      out.cls = LayerClass::Mac;
    else
      return unsupportedClass(className);
    int32_t version = 0, extents[6], window[6], bits = 0;
    if (!intAttribute(group, "version", &version, 1) || version != 1) return "its layer version is not 1";
    if (!intAttribute(group, "extents", extents, 6) || !intAttribute(group, "data_window", window, 6) ||
        !intAttribute(group, "components", &out.components, 1) ||
        !intAttribute(group, "bits_per_component", &bits, 1))
      return "its extents, data window, component count or bit depth cannot be read";
    for (int a = 0; a < 3; ++a) {
      out.extents.min[a] = extents[a];
      out.extents.max[a] = extents[3 + a];
      out.window.min[a] = window[a];
      out.window.max[a] = window[3 + a];
    }
    if (bits != 16 && bits != 32 && bits != 64) return "its bits_per_component is not 16, 32 or 64";
    out.type = bits == 16 ? VoxelType::Half : bits == 32 ? VoxelType::Float : VoxelType::Double;
    if (out.cls == LayerClass::Mac && out.components != 3) return "it is a MAC layer without 3 components";
    std::string problem = checkBoxes(out);
    if (!problem.empty()) return problem;

    const uint64_t comps = static_cast<uint64_t>(out.components);
    const uint64_t voxels = static_cast<uint64_t>(out.window.voxels());
    if (voxels > UINT64_MAX / 24) return "its data window holds more voxels than any file";
    if (out.cls == LayerClass::Dense) return checkDataset(group, "data", out.type, {voxels * comps});
    if (out.cls == LayerClass::Mac) {
      const uint64_t nx = static_cast<uint64_t>(out.window.size(0)), ny = static_cast<uint64_t>(out.window.size(1)),
                     nz = static_cast<uint64_t>(out.window.size(2));
      problem = checkDataset(group, "u_data", out.type, {(nx + 1) * ny * nz});
      if (problem.empty()) problem = checkDataset(group, "v_data", out.type, {nx * (ny + 1) * nz});
      if (problem.empty()) problem = checkDataset(group, "w_data", out.type, {nx * ny * (nz + 1)});
      return problem;
    }
    int32_t order = -1, blocks = -1, occupied = -1;
    if (!intAttribute(group, "block_order", &order, 1) || !intAttribute(group, "block_res", out.sparse.blockRes, 3) ||
        !intAttribute(group, "num_blocks", &blocks, 1) || !intAttribute(group, "num_occupied_blocks", &occupied, 1))
      return "its block layout cannot be read";
    problem = checkSparseLayout(out, order, blocks, occupied);
    if (!problem.empty()) return problem;
    const uint64_t count = out.sparse.blockCount;
    problem = checkDataset(group, "block_is_allocated_data", VoxelType::Half, {count}, 1);
    if (problem.empty()) problem = checkDataset(group, "block_empty_value_data", out.type, {count * comps});
    const uint64_t side = static_cast<uint64_t>(out.sparse.side());
    if (problem.empty() && out.sparse.occupied > 0)
      problem = checkDataset(group, "data", out.type, {out.sparse.occupied, side * side * side * comps});
    return problem;
  }

  // A dataset of the expected dimensions and element type (integer bytes 1 for the flags,
  // else the voxel type: half as a 16-bit integer, float and double as floats), stored
  // within the file, with chunks libhdf5 can inflate in bounded memory and only the
  // filters Field3D's writers use.
  std::string checkDataset(hid_t group, const char* name, VoxelType type, std::vector<uint64_t> dims,
                           size_t integerBytes = 0) {
    const std::string what = std::string("its dataset ") + name;
    Handle set(openChild(group, name, H5I_DATASET), H5Oclose);
    if (!set.ok()) return what + " is missing";
    Handle space(H5Dget_space(set.get()), H5Sclose);
    Handle dtype(H5Dget_type(set.get()), H5Tclose);
    Handle plist(H5Dget_create_plist(set.get()), H5Pclose);
    if (!space.ok() || !dtype.ok() || !plist.ok()) return what + " cannot be opened";
    hsize_t actual[2] = {0, 0};
    const int rank = H5Sget_simple_extent_ndims(space.get());
    if (rank != static_cast<int>(dims.size()) || H5Sget_simple_extent_dims(space.get(), actual, nullptr) != rank)
      return what + " does not have rank " + std::to_string(dims.size());
    for (int a = 0; a < rank; ++a)
      if (actual[a] != dims[static_cast<size_t>(a)]) return what + " does not have the size the layer's attributes give";
    const H5T_class_t cls = H5Tget_class(dtype.get());
    const size_t bytes = H5Tget_size(dtype.get());
    const bool integer = integerBytes != 0 || type == VoxelType::Half;
    const size_t want = integerBytes != 0 ? integerBytes : static_cast<size_t>(type);
    if (cls != (integer ? H5T_INTEGER : H5T_FLOAT) || bytes != want)
      return what + " does not hold the element type the layer's bit depth gives";

    uint64_t total = want;
    for (uint64_t d : dims) total *= d;  // below 24 bytes per voxel: no overflow
    const hsize_t stored = H5Dget_storage_size(set.get());
    if (stored > file_.fileSize_) return what + " claims more bytes than the file holds";
    const H5D_layout_t layout = H5Pget_layout(plist.get());
    if (layout == H5D_CONTIGUOUS) {
      const haddr_t at = H5Dget_offset(set.get());
      if (stored != 0 && (stored != total || at == HADDR_UNDEF || at > file_.fileSize_ || stored > file_.fileSize_ - at))
        return what + " does not lie within the file";
    } else if (layout == H5D_CHUNKED) {
      hsize_t chunk[2] = {0, 0};
      if (H5Pget_chunk(plist.get(), 2, chunk) != rank) return what + " has chunks of another rank";
      uint64_t chunkBytes = want;
      for (int a = 0; a < rank; ++a) {
        if (chunk[a] == 0 || chunk[a] > UINT64_MAX / (kMaxChunkBytes + 1)) return what + " has absurd chunks";
        chunkBytes *= chunk[a];
      }
      if (chunkBytes > kMaxChunkBytes && chunkBytes > total) return what + " has chunks larger than it is";
    } else if (layout != H5D_COMPACT) {
      return what + " has a storage layout this reader does not read";
    }
    const int filters = H5Pget_nfilters(plist.get());
    for (int f = 0; f < filters; ++f) {
      unsigned flags = 0, config = 0;
      size_t values = 0;
      const H5Z_filter_t id = H5Pget_filter2(plist.get(), static_cast<unsigned>(f), &flags, &values, nullptr, 0,
                                             nullptr, &config);
      if (id != H5Z_FILTER_DEFLATE && id != H5Z_FILTER_SHUFFLE && id != H5Z_FILTER_FLETCHER32)
        return what + " uses a filter other than deflate, shuffle and Fletcher-32";
    }
    if (filters < 0) return what + " has unreadable filters";
    return std::string();
  }

  Hdf5F3dFile& file_;
};

std::unique_ptr<Hdf5F3dFile> Hdf5F3dFile::open(const char* path) {
  std::unique_ptr<Hdf5F3dFile> file(new Hdf5F3dFile(path));
  int64_t size = 0;
  if (!ZUtils::platform::fileSize(path, &size) || size < 0) {
    ZUtils::logReport("f3dport: cannot open %s\n", path);
    return nullptr;
  }
  file->fileSize_ = static_cast<uint64_t>(size);
  Session session;
  // The plain POSIX driver: never the family or multi drivers, whatever the file says.
  Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  if (!access.ok() || H5Pset_fapl_sec2(access.get()) < 0) {
    ZUtils::logReport("f3dport: libhdf5 cannot be set up to read %s\n", path);
    return nullptr;
  }
  file->file_ = H5Fopen(path, H5F_ACC_RDONLY, access.get());
  if (file->file_ < 0) {
    ZUtils::logReport("f3dport: %s is not a readable HDF5 file (libhdf5 cannot open it)\n", path);
    return nullptr;
  }
  if (!Hdf5LayoutReader(*file).read()) return nullptr;
  return file;
}

Hdf5F3dFile::~Hdf5F3dFile() {
  if (file_ < 0) return;
  Session session;
  H5Fclose(file_);
}

bool Hdf5F3dFile::fail(const Layer& layer, const std::string& why) {
  ZUtils::logReport("f3dport: layer \"%s\" of %s cannot be read: %s\n", paths_[layer.handle].c_str() + 1,
                    label_.c_str(), why.c_str());
  return false;
}

namespace {

// The memory type that copies the file's elements as raw little-endian bytes: half as a
// 16-bit integer (no conversion), float and double as themselves.
hid_t rawType(VoxelType type) {
  switch (type) {
    case VoxelType::Half: return H5T_STD_I16LE;
    case VoxelType::Float: return H5T_IEEE_F32LE;
    case VoxelType::Double: return H5T_IEEE_F64LE;
  }
  return H5T_IEEE_F32LE;
}

// Elements [first, first + count) of a rank-1 dataset, or row `row` of a rank-2 one.
bool readSelection(hid_t file, const std::string& path, hid_t memType, int rank, const hsize_t start[2],
                   const hsize_t count[2], void* dst) {
  Handle set(H5Dopen2(file, path.c_str(), H5P_DEFAULT), H5Dclose);
  if (!set.ok()) return false;
  Handle fileSpace(H5Dget_space(set.get()), H5Sclose);
  Handle memSpace(H5Screate_simple(rank, count, nullptr), H5Sclose);
  if (!fileSpace.ok() || !memSpace.ok() ||
      H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
    return false;
  // libhdf5 inflates whole chunks into buffers of its own: they count in the budget for
  // the read's duration (the chunk sizes were checked when the file was opened).
  Handle plist(H5Dget_create_plist(set.get()), H5Pclose);
  OSTUtils::MemoryReservation chunkHold;
  hsize_t chunk[2] = {0, 0};
  if (plist.ok() && H5Pget_layout(plist.get()) == H5D_CHUNKED && H5Pget_chunk(plist.get(), 2, chunk) == rank) {
    uint64_t bytes = H5Tget_size(memType);
    for (int a = 0; a < rank; ++a) bytes *= chunk[a];
    if (!chunkHold.reserve(bytes)) return false;
  }
  return H5Dread(set.get(), memType, memSpace.get(), fileSpace.get(), H5P_DEFAULT, dst) >= 0;
}

}  // namespace

bool Hdf5F3dFile::readElements(const Layer& layer, LayerArray array, uint64_t first, uint64_t count, void* dst) {
  if (layer.handle >= paths_.size()) return false;
  static const char* const kNames[5] = {"data", "block_empty_value_data", "u_data", "v_data", "w_data"};
  const std::string path = paths_[layer.handle] + "/" + kNames[static_cast<int>(array)];
  Session session;
  const hsize_t start[2] = {first, 0}, n[2] = {count, 0};
  if (!readSelection(file_, path, rawType(layer.type), 1, start, n, dst))
    return fail(layer, std::string("libhdf5 cannot read its dataset ") + kNames[static_cast<int>(array)]);
  return true;
}

bool Hdf5F3dFile::readBlockFlags(const Layer& layer, uint8_t* flags) {
  if (layer.handle >= paths_.size()) return false;
  Session session;
  const hsize_t start[2] = {0, 0}, n[2] = {layer.sparse.blockCount, 0};
  // Signed bytes as they are: a conversion to unsigned would clamp negative flags to 0.
  if (!readSelection(file_, paths_[layer.handle] + "/block_is_allocated_data", H5T_STD_I8LE, 1, start, n, flags))
    return fail(layer, "libhdf5 cannot read its block allocation flags");
  return true;
}

bool Hdf5F3dFile::readBlock(const Layer& layer, uint64_t row, void* dst) {
  if (layer.handle >= paths_.size()) return false;
  const uint64_t side = static_cast<uint64_t>(layer.sparse.side());
  Session session;
  const hsize_t start[2] = {row, 0}, n[2] = {1, side * side * side * static_cast<uint64_t>(layer.components)};
  if (!readSelection(file_, paths_[layer.handle] + "/data", rawType(layer.type), 2, start, n, dst))
    return fail(layer, "libhdf5 cannot read stored block " + std::to_string(row));
  return true;
}

}  // namespace F3dPort
