// The bytes of a frame's grid records (the int32 array comprData: { channel, L, payload[L] }
// records, little-endian), wherever they are: in the frame's memory, or left in its file by
// a load that skips them (ImportNebGridInFile) so that a reader can stream a frame far
// larger than memory, zone by zone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "cache/ByteSource.h"
#include "ostutils/OstArray.h"

class OstraneFrameData;

// Where a load that left the grid records in the file found them.
struct GridDataLocation {
  std::string path;       // UTF-8
  int64_t offset = -1;    // file offset of comprData[0]; -1: the file has no grid records
  int64_t ints = 0;       // comprDataSzInts
  int64_t fileBytes = 0;  // the file's length when it was read
  // A frame loaded from memory or a host's read function (ImportNebSource): the records
  // are read from that source, which lives as long as this location does; `path` is only
  // a name then.
  std::shared_ptr<ByteSource> source;
};

class GridRecordBytes {
 public:
  // The records of a frame in memory (its comprData); they must outlive this object.
  GridRecordBytes(const int32_t* data, int64_t ints);
  GridRecordBytes() = default;
  ~GridRecordBytes();
  GridRecordBytes(const GridRecordBytes&) = delete;
  GridRecordBytes& operator=(const GridRecordBytes&) = delete;

  // The records left in the file (or the source). False (reported) when the file cannot be
  // opened or is no longer the length it had when it was read.
  bool openFile(const GridDataLocation& where);

  int64_t ints() const { return ints_; }
  int64_t bytes() const { return 4 * ints_; }

  // Bytes [offset, offset + count) of the records: in memory a pointer into them, from a
  // file read into `scratch` (grown as needed, its storage in the memory budget). Null
  // (reported) when the range lies outside the records or the read fails. Safe on several
  // threads at once with different scratch arrays.
  const unsigned char* fetch(int64_t offset, int64_t count, OSTUtils::OstArray<unsigned char, int64_t>& scratch) const;

  // Walks the records as the frame's decode walks them: from int 0 while an index below
  // ints() - 1 is left; a length below 1 ends the walk, and so does a piece that cannot be
  // read. visit(channel, payload int index, length) returns false to stop. The records are
  // read in pieces of 1 MiB: a file of many tiny records costs one pass.
  void walkRecords(const std::function<bool(int32_t channel, int64_t payload, int64_t length)>& visit) const;

 private:
  const unsigned char* memory_ = nullptr;
  int64_t ints_ = 0;
  std::shared_ptr<ByteSource> source_;
  int64_t fileOffset_ = 0;
};

// Loads the nebu2 file `path` into `frame` like ImportNeb (same statuses and reports), but
// leaves the grid records in the file: the frame gets the one-element placeholder comprData
// of a header-only load (no grid channel decodes through it) and everything else as a full
// load; `where` tells where the records are.
int ImportNebGridInFile(OstraneFrameData& frame, const char* path, GridDataLocation& where);

// Loads a nebu2 frame from `source` (memory, a host's read function) like ImportNeb from a
// file: same statuses and reports, `name` naming the source in them. With `gridInFile` the
// grid records stay in the source as ImportNebGridInFile leaves them in the file, and
// gridInFile->source keeps the source for reading them.
int ImportNebSource(OstraneFrameData& frame, const std::shared_ptr<ByteSource>& source, const char* name,
                    bool headerOnly, GridDataLocation* gridInFile);
