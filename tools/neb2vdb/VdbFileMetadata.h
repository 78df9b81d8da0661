// The file metadata of an OpenVDB file, read without its grids and within fixed bounds.
//
// OpenVDB's own reader (io::File::open) also reads every grid descriptor, and sizes each
// string it reads from the four bytes before it: one damaged length asks for 4 GiB. This
// reads only the header and the file's metadata, the first kilobytes of the file, keeps
// the string and integer entries, and gives up (false) on anything it does not expect.
//
// Layout (little-endian, as OpenVDB writes on the machines it runs on), file version 222
// and later (OpenVDB 3 on):
//   int64  magic 0x56444220 (" BDV")
//   uint32 file version
//   uint32 library major version, uint32 library minor version
//   uint8  grid offsets flag
//   char[36] the file's UUID, as text
//   uint32 count of metadata entries, then per entry:
//     string name, string type name ("string", "int32", "int64", ...),
//     uint32 byte count, the value's bytes
// where a string is a uint32 byte count and the bytes. The grid descriptors follow.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace Neb2Vdb {

struct VdbFileMetadata {
  std::map<std::string, std::string> strings;  // "string" entries
  std::map<std::string, int64_t> integers;     // "int32" and "int64" entries
};

// False, with `metadata` partly filled, when the file cannot be read, is no OpenVDB file
// of a known layout, ends early, or holds more than 4096 entries or 1 MiB of names and
// kept values (far above what any converter writes); entries of other types are skipped.
bool readVdbFileMetadata(const std::string& path, VdbFileMetadata& metadata);

}  // namespace Neb2Vdb
