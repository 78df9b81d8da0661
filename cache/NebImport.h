// Pieces of the nebu2 reader (internal). Each throws IOErrException after reporting the
// failing read; ImportNeb (NebReader.cpp) catches it.
#pragma once

#include <cstdint>

#include "cache/NebFileReader.h"
#include "cache/OstraneFrameData.h"

struct GridDataLocation;

struct NebImportContext {
  OstraneFrameData& frame;
  NebFileReader& in;
  bool headerOnly;
  bool groupTableSeen;
  // Non-null: the grid records are left in the file and their place recorded here.
  GridDataLocation* gridInFile = nullptr;
};

// ImportNeb with the grid records left in the file when `gridInFile` is given.
int ImportNebFile(OstraneFrameData& frame, const char* path, bool openOnce, bool headerOnly,
                  GridDataLocation* gridInFile);
// What follows the opening: footer, chunk list and tag stream from `source` into a frame
// reset for loading. `name` names the source in reports.
int ImportNebBytes(OstraneFrameData& frame, ByteSource& source, const char* name, bool headerOnly,
                   GridDataLocation* gridInFile);

// Chunk ids and the end-of-stream tags of the container.
enum : int32_t {
  kChunkGroupTable = 1000,
  kChunkText = 1001,
  kChunkGroupData = 1002,
  kChunkValueRanges = 1003,
  kChunkValues64 = 1004,
  kChunkListEnd = 9999999
};

// The chunk list from the data offset to the end id (or after chunk 1000 for version < 3).
void ReadNebChunkList(NebImportContext& ctx, int64_t dataOffset);
// The tagged records after "NEBU", up to the first tag outside 1..13.
void ReadNebTagStream(NebImportContext& ctx);
// An old-style particle block, tag 7 (raw words) or 13 (compressed).
void ReadNebParticleBlock(NebImportContext& ctx, int tag);
// Sub-record 2 of a particle block: `bytes` of entropy-coded identifier differences.
void ReadNebParticleIds(NebImportContext& ctx, PGroup& group, int64_t bytes);
