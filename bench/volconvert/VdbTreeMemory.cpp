// VdbTreeMemory: the in-memory size of the trees of OpenVDB files, as a renderer holds
// them once every leaf is in: each file is opened without delayed loading (so every leaf
// buffer is read, not left as a file reference) and each grid's tree().memUsage() is
// summed. scripts/bench-streaming.sh compares it with the converter's peak RSS.
//
//   VdbTreeMemory FILE...
//
// Prints one line per grid (file, grid, type, active voxels, tree bytes), then a line
// "total BYTES" over all files. Exit status 0, or 1 when a file cannot be read.
#include <openvdb/openvdb.h>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "Usage: VdbTreeMemory FILE...\n");
    return 2;
  }
  openvdb::initialize();
  unsigned long long total = 0;
  for (int i = 1; i < argc; ++i) {
    try {
      openvdb::io::File file(argv[i]);
      file.open(/*delayLoad=*/false);
      openvdb::GridPtrVecPtr grids = file.getGrids();
      file.close();
      for (const openvdb::GridBase::Ptr& grid : *grids) {
        const unsigned long long bytes = grid->baseTree().memUsage();
        total += bytes;
        std::printf("%s\t%s\t%s\t%llu\t%llu\n", argv[i], grid->getName().c_str(), grid->type().c_str(),
                    static_cast<unsigned long long>(grid->activeVoxelCount()), bytes);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "VdbTreeMemory: %s: %s\n", argv[i], e.what());
      return 1;
    }
  }
  std::printf("total %llu\n", total);
  return 0;
}
