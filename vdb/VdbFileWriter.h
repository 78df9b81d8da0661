// Writing grids and file metadata to an OpenVDB file, for both converters.
//
// The bytes are those openvdb::io::File::write gives (a seekable archive: grid offsets
// recorded, so readers load grids and leaves lazily), apart from the file's random UUID.
// What differs from writing through io::File:
//   - the leaf buffers of float, double, integer and vector grids are compressed once each
//     and on every thread TBB allows (GridBytes, ChunkPipeline): io::File compresses each
//     leaf twice (once for the leaf sizes of the grid's metadata) and writes them on one
//     thread. Grids of other types (point data grids) are written by OpenVDB whole, in
//     turn, while the helpers compress the grids after them;
//   - compressed bytes wait in memory for their turn within `heldBytes` (and the library's
//     memory budget); a grid larger than that has what did not fit compressed once more
//     when its turn comes;
//   - every write goes through a 4 MiB buffer (StreamBuffers.h), not one system call per
//     leaf;
//   - the stream's state is checked once everything is written and the file closed.
//     io::File does not look: a write that failed (a full disk, a quota, a lost network
//     share) left a cut-short file that passed for a written one.
#pragma once

#include <cstdint>
#include <string>

#include <openvdb/openvdb.h>

namespace NebVdb {

// `compression`: OpenVDB's io::COMPRESS_* flags, or kLibraryCompression for the library's
// default (what io::File uses unless told otherwise). Throws openvdb::IoError, naming the
// path and the system's reason, when the file cannot be opened or a write fails; OpenVDB's
// own exceptions pass through. guardedVdbWrite maps them to export results.
constexpr uint32_t kLibraryCompression = ~uint32_t(0);
// Compressed leaf bytes held at once by default: a 512^3 frame's largest grid (530 MB
// compressed) does not fit, its first half does.
constexpr uint64_t kDefaultHeldBytes = uint64_t(256) << 20;
void writeVdbFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                  uint32_t compression = kLibraryCompression, uint64_t heldBytes = kDefaultHeldBytes);

}  // namespace NebVdb
