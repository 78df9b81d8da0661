// The grid channels of a loaded frame in slabs of z-layers, in memory bounded by the slab
// and the zones it touches rather than by the grid: for tools that convert or check frames
// of any size. The frame's own decode cache (getChannel) is not used; its records come from
// a GridRecordBytes (the frame's comprData, or its file after ImportNebGridInFile).
//
// A channel reads as the frame's getChannel gives it, bit for bit, through the same grid
// channel decoder (cache/ChannelDecoder.h), here over slabs: stored channels from their
// record, speed (3) derived per slab from 4, 5 and 6 when it has no decodable record of
// its own, colour (7, 8, 9) unpacked per slab from the packed colour record (18), whose
// zlib stream is inflated as the slabs go. Failures report as the frame's decode reports
// them ("Invalid cache file!!!" and the decoders' messages).
//
// Use: open() every channel wanted, then read() slabs in ascending order of z; the colour
// channels share one stream, and speed shares the velocity with 4, 5 and 6: read all the
// channels of one slab before the next slab.
#pragma once

#include <cstdint>
#include <memory>

class GridRecordBytes;
class OstraneFrameData;

class FrameSlabReader {
 public:
  // `frame` gives the grid size, version and channel mask; both must outlive the reader.
  FrameSlabReader(const OstraneFrameData& frame, const GridRecordBytes& bytes);
  ~FrameSlabReader();
  FrameSlabReader(const FrameSlabReader&) = delete;
  FrameSlabReader& operator=(const FrameSlabReader&) = delete;

  // Readies `channel` (0..31). False when the frame's getChannel would give null for it
  // (absent, or refused with the decode's reports); 18 itself is never readable. Opening a
  // refused channel again tries again and reports again, as getChannel does.
  bool open(int channel);

  // What an opened channel is read from: its own record (the channel), the velocity (4)
  // for derived speed, the packed colour (18) for unpacked colour; -1 when not opened.
  int sourceOf(int channel) const;

  // Layers [z0, z1) of an opened channel into out[0 .. (z1 - z0) * nx * ny - 1], x fastest.
  // False (reported) for a slab that goes back or lies outside the grid, a channel not
  // opened, unreadable bytes, or a packed colour stream found damaged on the way.
  bool read(int channel, int z0, int z1, float* out);

  // Cells of an opened channel that may hold other values than their neighbours (see
  // GridSlabDecoder::variedCells): every cell for colour, the velocity's for derived
  // speed, 0 for a channel not opened. A bound for planning memory, from the zone tables.
  int64_t variedCells(int channel) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
