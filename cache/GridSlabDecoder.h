// Streams one grid-compressor block (one stored grid channel) in ascending runs of cells,
// holding only the zones a run touches: the slab side of the grid channel decoder
// (cache/ChannelDecoder.h), for readers of frames larger than memory.
//
// Every zone of a block is a contiguous run of output values (a three-dimensional zone's
// box is written X fastest from its valueStart), so the cells [first, first + count) come
// from the zones whose runs overlap them. A zone inside the run decodes straight into the
// caller's array; a zone crossing either end decodes into a buffer of its own, and the one
// crossing the end is kept for the next run. Cells that no zone writes are 0, a failing
// zone leaves its cells 0 and reports as the whole-block decoder does: every cell comes out
// bit for bit as a whole-channel decode gives it (outCount = cells + 4, as there).
#pragma once

#include <cstdint>
#include <memory>

#include "compress/GridBlockHeader.h"
#include "ostutils/OstArray.h"

class GridRecordBytes;

class GridSlabDecoder {
 public:
  // dimension: 1 (files of version 5 on) or 3 (older files).
  explicit GridSlabDecoder(int dimension);
  ~GridSlabDecoder();
  GridSlabDecoder(const GridSlabDecoder&) = delete;
  GridSlabDecoder& operator=(const GridSlabDecoder&) = delete;

  // The block at bytes [offset, offset + length) of `bytes` (which must outlive the
  // decoder), decoding to `cells` values. False (reported) when the whole-block decoder
  // refuses it: unknown magic, invalid zone table, or a single-zone block whose zone fails
  // (decoded here, at once, for that reason).
  bool open(const GridRecordBytes& bytes, int64_t offset, int64_t length, int64_t cells);

  // Cells [first, first + count) into out[0 .. count-1]. Runs must not go back: first is at
  // least the end of the previous run. False (reported) only for a run that goes back or
  // lies outside the cells, or bytes that cannot be read.
  bool read(int64_t first, int64_t count, float* out);

  // Cells of the opened block that may vary: those of zones whose streams are longer than
  // a constant zone's (method, count, value: 9 bytes after the zone's magic). A constant
  // region costs a tree next to nothing (tiles), so this bounds what a sparse tree of the
  // channel holds, from the zone table alone.
  int64_t variedCells() const;

 private:
  struct Buffered;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
