// Writes small OpenVDB files into <dir>/vdbport: float, double and vector grids, a level
// set, several grids with their own transforms, and each of OpenVDB's stream compressions.
// Each file is written once per reading of the target, behind that reading's selector byte
// (see VdbPortFuzz.cpp). Into <dir>/vdb_file_metadata: files with file metadata of the
// types neb2vdb records and of others its reader skips.
#include <sys/stat.h>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

openvdb::FloatGrid::Ptr floatGrid(const std::string& name, int extent, float scale) {
  openvdb::FloatGrid::Ptr g = openvdb::FloatGrid::create(0.0f);
  g->setName(name);
  auto acc = g->getAccessor();
  for (int z = 0; z < extent; ++z)
    for (int y = 0; y < extent; ++y)
      for (int x = 0; x < extent; ++x) acc.setValue(openvdb::Coord(x, y, z), scale * static_cast<float>(x + y * z));
  return g;
}

void write(const std::string& path, const openvdb::GridPtrVec& grids, uint32_t compression) {
  const std::string plain = path + ".tmp";
  {
    openvdb::io::File file(plain);
    file.setCompression(compression);
    file.write(grids);
    file.close();
  }
  std::vector<char> bytes;
  {
    std::ifstream in(plain, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::remove(plain.c_str());
  const std::string dir = path.substr(0, path.rfind('/') + 1), name = path.substr(dir.size());
  const char* readings[] = {"list_", "import_", "header_", "voxels_"};
  for (char selector = 0; selector < 4; ++selector) {
    std::ofstream out(dir + readings[static_cast<int>(selector)] + name, std::ios::binary);
    out.put(selector);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + dir + name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
    return 2;
  }
  openvdb::initialize();
  const std::string dir = std::string(argv[1]) + "/vdbport/";
  mkdir(argv[1], 0755);
  mkdir(dir.c_str(), 0755);
  try {
    openvdb::FloatGrid::Ptr density = floatGrid("density", 4, 0.1f);
    write(dir + "density.vdb", {density}, openvdb::io::COMPRESS_ACTIVE_MASK);
    write(dir + "density_zip.vdb", {density}, openvdb::io::COMPRESS_ZIP | openvdb::io::COMPRESS_ACTIVE_MASK);
    write(dir + "density_blosc.vdb", {density}, openvdb::io::COMPRESS_BLOSC);

    openvdb::FloatGrid::Ptr temperature = floatGrid("temperature", 3, 100.0f);
    temperature->setTransform(openvdb::math::Transform::createLinearTransform(0.5));
    openvdb::FloatGrid::Ptr hot = floatGrid("temperature", 3, 100.0f);
    openvdb::Vec3SGrid::Ptr vel = openvdb::Vec3SGrid::create();
    vel->setName("vel");
    vel->tree().setValue(openvdb::Coord(1, 2, 3), openvdb::Vec3s(1, 2, 3));
    openvdb::DoubleGrid::Ptr heat = openvdb::DoubleGrid::create(0.0);
    heat->setName("heat");
    heat->tree().setValue(openvdb::Coord(0, 0, 1), 2.5);
    openvdb::FloatGrid::Ptr sdf = openvdb::FloatGrid::create(1.0f);
    sdf->setName("surface");
    sdf->setGridClass(openvdb::GRID_LEVEL_SET);
    sdf->tree().setValue(openvdb::Coord(2, 2, 2), -0.5f);
    write(dir + "mixed.vdb", {density, hot, vel, heat, sdf}, openvdb::io::COMPRESS_ZIP | openvdb::io::COMPRESS_ACTIVE_MASK);
    write(dir + "two_transforms.vdb", {density, temperature}, openvdb::io::COMPRESS_ACTIVE_MASK);
    density->setSaveFloatAsHalf(true);
    write(dir + "half.vdb", {density}, openvdb::io::COMPRESS_ACTIVE_MASK);

    const std::string records = std::string(argv[1]) + "/vdb_file_metadata/";
    mkdir(records.c_str(), 0755);
    openvdb::MetaMap meta;
    meta.insertMeta("frame", openvdb::Int32Metadata(12));
    meta.insertMeta("source_path", openvdb::StringMetadata("/caches/fire/fire_0012.neb"));
    meta.insertMeta("source_size", openvdb::Int64Metadata(123456789));
    meta.insertMeta("source_mtime_ns", openvdb::Int64Metadata(1600000000123456789));
    meta.insertMeta("scale", openvdb::FloatMetadata(0.5f));
    meta.insertMeta("origin", openvdb::Vec3IMetadata(openvdb::Vec3i(1, 2, 3)));
    for (const bool withMeta : {false, true}) {
      openvdb::io::File file(records + (withMeta ? "record.vdb" : "plain.vdb"));
      file.write({density}, withMeta ? meta : openvdb::MetaMap());
      file.close();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_vdb_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
