// openvdb::io::Archive with the steps of its seekable write made callable: io::File::write
// is Archive::write on a std::ofstream, and Archive keeps the steps protected. The file
// writer (VdbFileWriter) makes the same calls in the same order, on its own streams.
#pragma once

#include <ostream>

#include <openvdb/io/Archive.h>
#include <openvdb/io/GridDescriptor.h>
#include <openvdb/io/io.h>

namespace NebVdb {

class VdbArchive : public openvdb::io::Archive {
 public:
  // Gives `os` the state Archive::write gives its stream: stream metadata (returned; keep
  // it for as long as the stream writes), the archive's compression flags and whether
  // grid statistics are written.
  openvdb::io::StreamMetadata::Ptr prepareStream(std::ostream& os) const {
    openvdb::io::StreamMetadata::Ptr metadata(new openvdb::io::StreamMetadata);
    openvdb::io::setStreamMetadataPtr(os, metadata, /*transfer=*/false);
    openvdb::io::setDataCompression(os, compression());
    openvdb::io::setWriteGridStatsMetadata(os, isGridStatsMetadataEnabled());
    return metadata;
  }
  // Magic, file and library versions, the grid-offsets flag (set) and a new random UUID.
  void writeFileHeader(std::ostream& os) const { writeHeader(os, /*seekable=*/true); }
  // The grid's compression flags (the archive's, without zip for level sets and fog
  // volumes): written as 4 bytes and set as the stream's data compression.
  void writeGridFlags(std::ostream& os, const openvdb::GridBase& grid) const { setGridCompression(os, grid); }
  // A whole grid as Archive::write writes it; the descriptor's offsets are positions of `os`.
  void writeWholeGrid(openvdb::io::GridDescriptor& gd, const openvdb::GridBase::ConstPtr& grid, std::ostream& os) const {
    writeGrid(gd, grid, os, /*seekable=*/true);
  }
  // A grid sharing the tree of a grid written before it: descriptor, metadata, transform.
  void writeInstance(openvdb::io::GridDescriptor& gd, const openvdb::GridBase::ConstPtr& grid, std::ostream& os) const {
    writeGridInstance(gd, grid, os, /*seekable=*/true);
  }
};

}  // namespace NebVdb
