// Writing grids and file metadata to an OpenVDB file, for both converters.
//
// The bytes are those openvdb::io::File::write gives (a seekable archive: grid offsets
// recorded, so readers load grids and leaves lazily), apart from the file's random UUID.
// Two things differ from writing through io::File:
//   - every write goes through a 4 MiB buffer. io::File writes through a std::ofstream,
//     which hands each leaf (any write of 1 KiB or more) to the system on its own: 43,000
//     write calls for the 122 MB file of a 256^3 frame, about 0.15 s of system time on a
//     virtual machine;
//   - the stream's state is checked once everything is written and the file closed.
//     io::File does not look: a write that failed (a full disk, a quota, a lost network
//     share) left a cut-short file that passed for a written one.
#pragma once

#include <cstdint>
#include <string>

#include <openvdb/openvdb.h>

namespace VolConvert {

// `compression`: OpenVDB's io::COMPRESS_* flags, or kLibraryCompression for the library's
// default (what io::File uses unless told otherwise). Throws openvdb::IoError, naming the
// path and the system's reason, when the file cannot be opened or a write fails; OpenVDB's
// own exceptions pass through. guardedVdbWrite maps them to export results.
constexpr uint32_t kLibraryCompression = ~uint32_t(0);
void writeVdbFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                  uint32_t compression = kLibraryCompression);

}  // namespace VolConvert
