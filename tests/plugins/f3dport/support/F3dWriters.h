// Writing small Field3D files for the tests: an Ogawa writer following the container and
// object layout Field3D 1.7 writes (groups and data blocks reached by offsets, objects as
// groups whose first children are name, kind and type code), and an HDF5 writer on
// libhdf5's C API for the HDF5 encoding. Only what the tests need.
#pragma once

#if F3D_WITH_HDF5
#include <hdf5.h>
#endif
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace f3dtest {

class OgawaWriter {
 public:
  static const uint64_t kData = uint64_t(1) << 63;
  // Element type codes of Field3D's Ogawa objects.
  enum Code { Uint8 = 1, Int32 = 4, Uint32 = 5, Half = 8, Float = 9, Double = 10, Vec3Float = 12, Vec3Int = 14,
              Matrix = 15, String = 16 };

  OgawaWriter() : bytes_(16, '\0') {}

  uint64_t data(const std::string& payload) {
    if (payload.empty()) return kData;
    const uint64_t at = bytes_.size();
    put64(payload.size());
    bytes_ += payload;
    return kData | at;
  }
  uint64_t group(const std::vector<uint64_t>& children) {
    const uint64_t at = bytes_.size();
    put64(children.size());
    for (uint64_t c : children) put64(c);
    return at;
  }
  // The finished file: magic, frozen flag, version 1 (big-endian), root offset.
  std::string finish(uint64_t root) {
    std::string out = bytes_;
    std::memcpy(&out[0], "Ogawa", 5);
    out[5] = static_cast<char>(0xFF);
    out[6] = 0;
    out[7] = 1;
    std::memcpy(&out[8], &root, 8);
    return out;
  }

  template <class T>
  static std::string raw(const T* v, size_t n) {
    return std::string(reinterpret_cast<const char*>(v), n * sizeof(T));
  }
  template <class T>
  static std::string raw(const std::vector<T>& v) {
    return raw(v.data(), v.size());
  }

  // Field3D objects: name, kind, then the rest of the children.
  uint64_t object(const std::string& name, int32_t kind, const std::vector<uint64_t>& rest) {
    std::vector<uint64_t> c = {data(name), data(raw(&kind, 1))};
    c.insert(c.end(), rest.begin(), rest.end());
    return group(c);
  }
  uint64_t members(const std::string& name, const std::vector<uint64_t>& members) { return object(name, 0, members); }
  uint64_t attribute(const std::string& name, int32_t code, const std::string& value) {
    return object(name, 1, {data(raw(&code, 1)), data(value)});
  }
  uint64_t int32(const std::string& name, int32_t v) { return attribute(name, Int32, raw(&v, 1)); }
  uint64_t uint8(const std::string& name, uint8_t v) { return attribute(name, Uint8, raw(&v, 1)); }
  uint64_t uint32(const std::string& name, uint32_t v) { return attribute(name, Uint32, raw(&v, 1)); }
  uint64_t vec3i(const std::string& name, const int32_t v[3]) { return attribute(name, Vec3Int, raw(v, 3)); }
  uint64_t text(const std::string& name, const std::string& v) { return attribute(name, String, v); }
  uint64_t float32(const std::string& name, float v) { return attribute(name, Float, raw(&v, 1)); }
  uint64_t matrix(const std::string& name, const double m[16]) { return attribute(name, Matrix, raw(m, 16)); }
  uint64_t dataset(const std::string& name, int32_t code, const std::vector<std::string>& chunks, bool compressed = false) {
    std::vector<uint64_t> c = {data(raw(&code, 1))};
    for (const std::string& chunk : chunks) c.push_back(data(chunk));
    return object(name, compressed ? 3 : 2, c);
  }

  // Mappings.
  uint64_t matrixMapping(const std::vector<std::pair<float, std::vector<double>>>& samples) {
    std::vector<uint64_t> m = {text("mapping_type", "MatrixFieldMapping"),
                               int32("num_time_samples", static_cast<int32_t>(samples.size()))};
    for (size_t s = 0; s < samples.size(); ++s) {
      m.push_back(float32("time_" + std::to_string(s), samples[s].first));
      m.push_back(matrix("matrix_" + std::to_string(s), samples[s].second.data()));
    }
    return members("mapping", m);
  }
  uint64_t frustumMapping(const double screenToWorld[16], int32_t zDistribution) {
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    return members("mapping", {text("mapping_type", "FrustumFieldMapping"), int32("num_time_samples", 1),
                               float32("time_0", 0.0f), matrix("screen_to_world_0", screenToWorld),
                               matrix("camera_to_world_0", identity), int32("z_distribution", zDistribution)});
  }

  // Layers over the data window [wmin, wmax] with extents equal to it.
  std::vector<uint64_t> layerHead(const std::string& className, const int32_t wmin[3], const int32_t wmax[3]) {
    return {text("class_type", "field3d_layer"), members("metadata", {}), text("class_name", className),
            int32("version", 1), vec3i("extents_min", wmin), vec3i("extents_max", wmax),
            vec3i("data_window_min", wmin), vec3i("data_window_max", wmax)};
  }
  uint64_t denseFloat(const std::string& name, const int32_t wmin[3], const int32_t wmax[3],
                      const std::vector<float>& voxels) {
    std::vector<uint64_t> m = layerHead("DenseField", wmin, wmax);
    m.push_back(int32("components", 1));
    m.push_back(int32("bits_per_component", 32));
    m.push_back(dataset("data", Float, {raw(voxels)}));
    return members(name, m);
  }
  // A sparse float layer: `blocks` holds side^3 voxels for each stored block (empty for a
  // block that is not stored), `empty` one value per block.
  uint64_t sparseFloat(const std::string& name, const int32_t wmin[3], const int32_t wmax[3], int order,
                       const int32_t res[3], const std::vector<std::vector<float>>& blocks,
                       const std::vector<float>& empty) {
    std::vector<uint64_t> m = layerHead("SparseField", wmin, wmax);
    std::vector<uint8_t> flags;
    std::vector<std::string> chunks;
    for (const std::vector<float>& b : blocks) {
      flags.push_back(b.empty() ? 0 : 1);
      if (b.empty()) continue;
      const std::string bytes = raw(b);
      std::vector<uint8_t> packed(compressBound(bytes.size()));
      uLongf n = packed.size();
      compress2(packed.data(), &n, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 1);
      chunks.push_back(std::string(reinterpret_cast<const char*>(packed.data()), n));
    }
    m.push_back(uint8("components", 1));
    m.push_back(uint8("bits_per_component", 32));
    m.push_back(uint8("block_order", static_cast<uint8_t>(order)));
    m.push_back(uint32("num_blocks", static_cast<uint32_t>(blocks.size())));
    m.push_back(vec3i("block_res", res));
    m.push_back(uint8("data_is_compressed", 1));
    m.push_back(dataset("block_is_allocated_data", Uint8, {raw(flags)}));
    m.push_back(dataset("block_empty_value_data", Float, {raw(empty)}));
    m.push_back(uint32("num_occupied_blocks", static_cast<uint32_t>(chunks.size())));
    m.push_back(dataset("data", Float, chunks, true));
    return members(name, m);
  }
  // The MAC layer Field3D's Ogawa writer leaves: class_type, metadata and class_name only.
  uint64_t macLayer(const std::string& name) {
    return members(name, {text("class_type", "field3d_layer"), members("metadata", {}), text("class_name", "MACField")});
  }

  uint64_t partition(const std::string& group, uint64_t mapping, const std::vector<uint64_t>& layers) {
    std::vector<uint64_t> m = {mapping, text("is_field3d_partition", "1")};
    m.insert(m.end(), layers.begin(), layers.end());
    return members(group, m);
  }
  // The finished file with these partitions under the root.
  std::string file(const std::vector<uint64_t>& partitions) {
    const int32_t version[3] = {1, 7, 3};
    std::vector<uint64_t> m = {vec3i("version_number", version)};
    m.insert(m.end(), partitions.begin(), partitions.end());
    return finish(members("f3droot", m));
  }

 private:
  void put64(uint64_t v) { bytes_.append(reinterpret_cast<const char*>(&v), 8); }
  std::string bytes_;
};

#if F3D_WITH_HDF5
// The HDF5 encoding through libhdf5's C API.
class Hdf5Writer {
 public:
  explicit Hdf5Writer(const std::string& path) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    file_ = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  }
  ~Hdf5Writer() {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) H5Gclose(*it);
    if (file_ >= 0) H5Fclose(file_);
  }
  bool ok() const { return file_ >= 0; }
  hid_t root() const { return file_; }
  hid_t group(hid_t parent, const std::string& name) {
    const hid_t g = H5Gcreate2(parent, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    open_.push_back(g);
    return g;
  }
  // Field3D's strings: fixed length, no stored terminator.
  void text(hid_t at, const std::string& name, const std::string& v) {
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, v.empty() ? 1 : v.size());
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t a = H5Acreate2(at, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, type, v.empty() ? "" : v.data());
    H5Aclose(a);
    H5Sclose(space);
    H5Tclose(type);
  }
  void ints(hid_t at, const std::string& name, const std::vector<int32_t>& v) { array(at, name, H5T_STD_I32LE, H5T_NATIVE_INT32, v.data(), v.size()); }
  void float32(hid_t at, const std::string& name, float v) { array(at, name, H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, &v, 1); }
  void matrix(hid_t at, const std::string& name, const double m[16]) {
    const hsize_t dims[2] = {4, 4};
    const hid_t space = H5Screate_simple(2, dims, nullptr);
    const hid_t a = H5Acreate2(at, name.c_str(), H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_DOUBLE, m);
    H5Aclose(a);
    H5Sclose(space);
  }
  // A dataset of `dims` (rank 1 or 2) from memory elements of memType stored as fileType.
  void dataset(hid_t at, const std::string& name, hid_t fileType, hid_t memType, const void* values,
               std::vector<hsize_t> dims) {
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t d = H5Dcreate2(at, name.c_str(), fileType, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dwrite(d, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values);
    H5Dclose(d);
    H5Sclose(space);
  }
  // A partition group with a matrix mapping of one sample at time 0 (null: no samples).
  hid_t partition(const std::string& name, const double* matrix) {
    const hid_t p = group(root(), name);
    text(p, "is_field3d_partition", "1");
    const hid_t m = group(p, "mapping");
    text(m, "mapping_type", "MatrixFieldMapping");
    ints(m, "num_time_samples", {matrix ? 1 : 0});
    if (matrix) {
      float32(m, "time_0", 0.0f);
      this->matrix(m, "matrix_0", matrix);
    }
    return p;
  }
  // A layer group's common attributes, extents equal to the data window.
  hid_t layer(hid_t partition, const std::string& name, const std::string& className, const int32_t wmin[3],
              const int32_t wmax[3], int components, int bits) {
    const hid_t l = group(partition, name);
    text(l, "class_type", "field3d_layer");
    text(l, "class_name", className);
    ints(l, "version", {1});
    const std::vector<int32_t> box = {wmin[0], wmin[1], wmin[2], wmax[0], wmax[1], wmax[2]};
    ints(l, "extents", box);
    ints(l, "data_window", box);
    ints(l, "components", {components});
    ints(l, "bits_per_component", {bits});
    group(l, "metadata");
    return l;
  }

 private:
  void array(hid_t at, const std::string& name, hid_t fileType, hid_t memType, const void* v, size_t n) {
    const hsize_t dims[1] = {n};
    const hid_t space = H5Screate_simple(1, dims, nullptr);
    const hid_t a = H5Acreate2(at, name.c_str(), fileType, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, memType, v);
    H5Aclose(a);
    H5Sclose(space);
  }
  hid_t file_ = -1;
  std::vector<hid_t> open_;
};
#endif

}  // namespace f3dtest
