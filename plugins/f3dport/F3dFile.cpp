#include "plugins/f3dport/F3dFile.h"

#include <cstring>

#include "plugins/f3dport/CappedReader.h"
#include "plugins/f3dport/Hdf5Superblock.h"
#include "plugins/f3dport/OgawaArchive.h"
#include "plugins/f3dport/OgawaF3dFile.h"
#include "zutils/Report.h"

#if defined(NEB_F3D_HDF5)
#include "plugins/f3dport/Hdf5F3dFile.h"
#endif

namespace F3dPort {

namespace {

int opened(const char* path, std::unique_ptr<F3dFile>& out) {
  if (!out) return 4;
  if (out->layout().partitions.empty()) ZUtils::logReport("f3dport: %s holds no Field3D partition\n", path);
  return 0;
}

}  // namespace

int openF3dFile(const char* path, std::unique_ptr<F3dFile>& out) {
  out.reset();
  std::unique_ptr<CappedReader> source = CappedReader::openFile(path);
  if (!source) {
    ZUtils::logReport("f3dport: cannot open %s\n", path ? path : "(null)");
    return 3;
  }
  uint8_t head[kHdf5SuperblockBytes] = {};
  const uint64_t headSize = source->size() < sizeof head ? source->size() : sizeof head;
  if (!source->read(0, head, headSize)) {
    ZUtils::logReport("f3dport: cannot read %s\n", path);
    return 3;
  }
  if (OgawaArchive::hasMagic(head, static_cast<size_t>(headSize))) {
    out = OgawaF3dFile::open(std::move(source), path);
    return opened(path, out);
  }
  static const uint8_t kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  if (headSize >= 8 && std::memcmp(head, kHdf5, 8) == 0) {
#if defined(NEB_F3D_HDF5)
    const std::string problem = checkHdf5Superblock(head, static_cast<size_t>(headSize), source->size());
    if (!problem.empty()) {
      ZUtils::logReport("f3dport: %s is not a readable HDF5 file: %s\n", path, problem.c_str());
      return 4;
    }
    source.reset();  // libhdf5 opens the file itself
    out = Hdf5F3dFile::open(path);
    return opened(path, out);
#else
    ZUtils::logReport("f3dport: %s: HDF5-encoded .f3d files are not supported by this build\n", path);
    return 4;
#endif
  }
  ZUtils::logReport("f3dport: %s is not a Field3D file (it starts neither with the HDF5 signature nor with \"Ogawa\")\n",
                    path);
  return 4;
}

}  // namespace F3dPort
