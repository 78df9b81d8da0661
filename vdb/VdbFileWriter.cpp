#include "vdb/VdbFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <vector>

#include <tbb/task_arena.h>

#include <openvdb/io/GridDescriptor.h>
#include <openvdb/io/io.h>

#include "vdb/ChunkPipeline.h"
#include "vdb/GridBytes.h"
#include "vdb/StreamBuffers.h"
#include "vdb/VdbArchive.h"
#include "zutils/platform/File.h"

namespace NebVdb {

namespace {

namespace io = openvdb::io;

[[noreturn]] void fail(const char* what, const std::string& path, int why) {
  OPENVDB_THROW(openvdb::IoError, what << " " << path << (why ? std::string(": ") + std::strerror(why) : std::string()));
}

// One grid of the file, with the descriptor Archive::write gives it.
struct Entry {
  openvdb::GridBase::ConstPtr grid;
  io::GridDescriptor descriptor;
  bool instance = false;
  std::unique_ptr<GridBytes> bytes;  // null: OpenVDB writes it whole
  size_t chunked = 0;                // its index among the chunked grids
};

// Archive::write's descriptors: a name that is empty or shared by several grids gets the
// suffix [0], then [1], [2], ... until it is unique; a grid whose tree a grid before it
// wrote (with the same half-float choice) is written as an instance of that grid.
std::vector<Entry> describe(const openvdb::GridCPtrVec& grids, const VdbArchive& archive) {
  std::map<std::string, int> count;
  for (const openvdb::GridBase::ConstPtr& grid : grids)
    if (grid) ++count[grid->getName()];
  std::set<std::string> unique;
  std::map<const openvdb::TreeBase*, io::GridDescriptor> written;
  std::vector<Entry> entries;
  for (const openvdb::GridBase::ConstPtr& grid : grids) {
    if (!grid) continue;
    std::string name = grid->getName();
    if (name.empty() || count[name] > 1) name = io::GridDescriptor::addSuffix(name, 0);
    for (int n = 1; unique.count(name); ++n) name = io::GridDescriptor::addSuffix(grid->getName(), n);
    unique.insert(name);
    Entry e;
    e.grid = grid;
    e.descriptor = io::GridDescriptor(name, grid->type(), grid->saveFloatAsHalf());
    const auto before = written.find(&grid->baseTree());
    if (archive.isInstancingEnabled() && before != written.end() &&
        before->second.saveFloatAsHalf() == e.descriptor.saveFloatAsHalf()) {
      e.descriptor.setInstanceParentName(before->second.uniqueName());
      e.instance = true;
    } else {
      written[&grid->baseTree()] = e.descriptor;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace

void writeVdbFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                  uint32_t compression, uint64_t heldBytes) {
  VdbArchive archive;
  if (compression != kLibraryCompression) archive.setCompression(compression);
  std::vector<Entry> entries = describe(grids, archive);
  std::vector<GridBytes*> chunked;
  // The caller's own TBB work (leaf lists, statistics) runs isolated: waiting for it, this
  // thread takes none of the helpers' tasks.
  tbb::this_task_arena::isolate([&] {
    for (Entry& e : entries) {
      if (!e.instance) e.bytes = GridBytes::create(archive, e.grid);
      if (!e.bytes) continue;
      e.chunked = chunked.size();
      chunked.push_back(e.bytes.get());
    }
  });

  errno = 0;
  FILE* file = ZUtils::platform::openFile(path.c_str(), "wb");
  if (!file) fail("could not open", path, errno);
  struct Closer {
    FILE* f;
    ~Closer() {
      if (f) std::fclose(f);
    }
  } closer{file};
  FileStreamBuf buffer(file);
  std::ostream os(&buffer);
  const io::StreamMetadata::Ptr streamMetadata = archive.prepareStream(os);
  archive.writeFileHeader(os);
  metadata.writeMeta(os);
  const int32_t gridCount = int32_t(entries.size());
  os.write(reinterpret_cast<const char*>(&gridCount), sizeof gridCount);

  {
    ChunkPipeline pipeline(chunked, heldBytes, ChunkPipeline::helperThreads());
    std::vector<char> bytes;
    for (Entry& e : entries) {
      if (!os.good()) break;
      if (e.instance) {
        archive.writeInstance(e.descriptor, e.grid, os);
      } else if (!e.bytes) {
        tbb::this_task_arena::isolate([&] { archive.writeWholeGrid(e.descriptor, e.grid, os); });
      } else {
        const int64_t bufferBytes = pipeline.complete(e.chunked);
        tbb::this_task_arena::isolate(
            [&] { bytes = e.bytes->head(archive, e.descriptor, int64_t(os.tellp()), bufferBytes); });
        os.write(bytes.data(), std::streamsize(bytes.size()));
        for (size_t c = 0; c < e.bytes->chunkCount() && os.good(); ++c) {
          pipeline.take(e.chunked, c, bytes);
          os.write(bytes.data(), std::streamsize(bytes.size()));
        }
      }
      // Some compression flags are the grid's own: the archive's again for the next.
      io::setDataCompression(os, archive.compression());
    }
  }

  errno = 0;
  const bool written = buffer.flushBuffer() && os.good();
  const int why = errno;
  closer.f = nullptr;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) fail("could not write", path, written ? errno : why);
}

}  // namespace NebVdb
