// The decoder of a frame's grid channels from its grid records, behind both readers of
// them: the frame's getChannel (the whole grid at once, cache/GridChannels.cpp) and the
// slab reader (ascending slabs of z-layers, cache/FrameSlabReader.h). One walk finds the
// records, one set of checks judges them, and one derivation gives speed and colour, so a
// channel reads the same, with the same reports, through either.
//
// Grid records (comprData, an int32 array): { int32 channel; int32 L; int32 payload[L] }
// from int 0 on; a record with L < 1, or the last int, ends them. The first record of a
// channel is its record; a later one is never read. Channel 18's payload is { int64 Z; Z
// bytes of a zlib stream } inflating to one 0x00RRGGBB word per cell; every other payload
// is one grid-compressor block of L * 4 bytes (compress/SGCompressor.h) of the codec the
// container version selects (compress/NebFormat.h).
//
// A record is refused, with "Invalid cache file!!!", when its payload runs past the
// records, the packed colour's Z does not fit its payload, the block's header is invalid
// or a single-zone block's zone fails, or the zlib stream fails; a damaged zone of a zoned
// block reads as zeros (reported by the block decoder) and the channel still decodes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class GridRecordBytes;
class OstraneFrameData;
namespace OSTUtils {
template <int D>
class SGCompressor;
}

// The first record of each grid channel, found in one walk over the records (the one walk
// there is: GridRecordBytes::walkRecords).
class GridRecordIndex {
 public:
  struct Record {
    int32_t channel;
    int64_t payload;  // int index of the payload in the records
    int64_t length;   // payload ints, L
    bool overruns;    // the payload runs past the records (such a record ends the walk)
  };
  explicit GridRecordIndex(const GridRecordBytes& records);

  // The first record of `channel`, or null.
  const Record* find(int channel) const;
  // The first record of each channel in file order (numbers outside 0..31 count as one
  // channel), the one that ends the walk by running past the records included.
  const std::vector<Record>& firstRecords() const { return first_; }
  // The walk ended on a record whose payload runs past the records.
  bool overran() const { return overran_; }

 private:
  std::vector<Record> first_;
  bool overran_ = false;
  int slot_[33];  // index into first_ by channel (32: every number outside 0..31), or -1
};

// Where a channel's values come from when it has no decodable record of its own: speed (3)
// from the velocity (4, 5, 6), colour (7, 8, 9) from the packed colour (18); -1 for the
// others.
int DerivedSourceOf(int channel);
// Speed of n cells: the length of the velocity vector, cell by cell, on the job threads.
void SpeedFromVelocity(const float* x, const float* y, const float* z, float* out, int64_t n);
// Colour of n cells from packed words: red = ((w >> 16) & 0xFF) * (1/255), green from
// bits 8..15, blue from bits 0..7; each a single-precision product with the float 1/255
// (0x3B808081). Null outputs are skipped.
void ColourFromPacked(const uint32_t* words, int64_t n, float* red, float* green, float* blue);

// One stored record of a channel, read over the whole grid or in ascending slabs.
class ChannelDecoder {
 public:
  // The grid decoder may write up to this many values past the cells: a whole-grid read
  // needs room for them.
  static const int kSlack = 4;

  enum Range {
    kWholeGrid,  // one read of layers [0, nz): in memory, the whole block or zlib stream at
                 // once, on the job threads
    kSlabs       // ascending slabs, holding only the zones and stream a slab needs
  };

  // The record of `channel` in `records` (indexed by `index`), of `frame`'s grid size and
  // container version; all three must outlive the decoder.
  ChannelDecoder(const OstraneFrameData& frame, const GridRecordBytes& records, const GridRecordIndex& index,
                 int channel);
  ~ChannelDecoder();
  ChannelDecoder(const ChannelDecoder&) = delete;
  ChannelDecoder& operator=(const ChannelDecoder&) = delete;

  // The channel has a record (a valid grid size given).
  bool found() const { return record_ != nullptr; }
  bool isPackedColour() const;

  // Readies the record for reads over `range`. False, reported, when it is refused: the
  // record's checks for both; for slabs also the block header and a single-zone block's
  // zone (decoded now for that reason) or the stream's start. A whole-grid read judges
  // the rest when it decodes.
  bool open(Range range);

  // The grid compressor a whole-grid read of a block runs, instead of one of its own: the
  // frame keeps one per codec for all its channels.
  void useCompressor(OSTUtils::SGCompressor<1>* linear, OSTUtils::SGCompressor<3>* boxed);

  // Layers [z0, z1) of a block's channel into out[0 .. (z1 - z0) * nx * ny - 1], x fastest;
  // opened for the whole grid, layers [0, nz) into out[0 .. cells + kSlack - 1]. False when
  // the block is refused ("Invalid cache file!!!"), a slab goes back or its bytes cannot be
  // read (reported).
  bool read(int z0, int z1, float* out);
  // The same for the packed colour's words; a whole-grid read writes cells + kSlack words.
  bool readWords(int z0, int z1, uint32_t* out);

  // Bytes of the packed colour's stream delivered so far (slabs).
  int64_t wordBytesRead() const;
  // Cells of an opened block that may hold other values than their neighbours (see
  // GridSlabDecoder::variedCells); every cell for the packed colour.
  int64_t variedCells() const;

 private:
  bool refuse();
  bool plausible();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  const GridRecordIndex::Record* record_ = nullptr;
};
