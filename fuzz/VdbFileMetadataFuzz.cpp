// neb2vdb's reader of an output's own metadata (tools/neb2vdb/VdbFileMetadata): the input
// is the file. Any bytes give a result without reading past what they hold, and what a
// successful read keeps stays within the reader's bounds (4096 entries, 1 MiB of names and
// values) whatever the lengths the file claims.
#include <string>

#include "FuzzTarget.h"
#include "tools/neb2vdb/VdbFileMetadata.h"

NEB_FUZZ_TARGET(vdb_file_metadata) {
  const char* path = nebfuzz::writeTempFile("output.vdb", data, size);
  if (!path) return 0;
  Neb2Vdb::VdbFileMetadata metadata;
  if (!Neb2Vdb::readVdbFileMetadata(path, metadata)) return 0;
  size_t kept = 0;
  for (const auto& e : metadata.strings) kept += e.first.size() + e.second.size();
  for (const auto& e : metadata.integers) kept += e.first.size();
  if (metadata.strings.size() + metadata.integers.size() > 4096 || kept > (size_t(1) << 20) || kept > size)
    __builtin_trap();
  return 0;
}
