// NebWriter: writes one frame as a nebu2 file.
//
// Build the frame with the setters, then write() to a path or writeToMemory(). Everything
// added is copied; the writer can be reused after a write (it keeps its contents).
//
//   NebWriter w;                       // container version 5 by default
//   w.setGridSize(64, 64, 64);
//   w.addChannel(2, smoke);            // 64*64*64 floats, x fastest
//   int g = w.addGroup("Sparks", n);
//   w.setGroupChannel(g, 0, positions);  // n * 3 floats
//   w.write("/tmp/frame_0001.neb");
//
// File layout written (all little-endian):
//   "NEBU", tagged records (1 mask, 2 transform, 4 frame, 5, 6, 8..11, 12, 3 grid data,
//   then the old-style particle block 7 or 13 if asked for), end tag 0;
//   4 uninterpreted bytes at the data offset, then the chunk list: 1000 group table,
//   1001 text, 1002 group data, 1003 value ranges, 1004 64-bit values, raw chunks, and the
//   end id 9999999; then the footer: for version >= 4 int64 data offset, int32 version,
//   "NEBU2OST"; for older versions int32 data offset, int32 version, "NEBU2OST".
// Tags and chunks are written only when something was set for them. The writer does not
// check that a combination makes sense to a reader (tests use that to build odd files);
// grid channel data must match the grid size.
#pragma once

#include <cstdint>
#include <memory>

#include "ostutils/OstArray.h"

namespace OSTUtils {
struct GridBlockOptions;
}

class NebWriter {
 public:
  NebWriter();
  ~NebWriter();
  NebWriter(const NebWriter&) = delete;
  NebWriter& operator=(const NebWriter&) = delete;

  // Container version of the footer; default 5. Versions below 4 write 32-bit data offset
  // and chunk sizes, and a reader stops the chunk list of a version-2 file after chunk 1000.
  void setVersion(int version);

  // ---- Grid (tags 1, 2, 3) ----
  void setGridSize(int nx, int ny, int nz);
  // 3x3 matrix by rows, then the offset. Default identity, zero offset. Tag 2 is always
  // written.
  void setTransform(const float transform[12]);
  // Replaces the channel mask computed from the channels added (bit c per channel c, bit 18
  // for packed colour). Tag 1 is always written.
  void setChannelMask(int32_t mask);
  // Grid codec: 1 or 3 for the one- or three-dimensional compressor, 0 (default) to follow
  // the version as a reader does (1 for versions 5 .. 2147483646, else 3).
  void setGridCompressor(int dimension);
  // Options for the grid blocks of channels added afterwards (default: the grid-block
  // writer's defaults, lossy).
  void setGridBlockOptions(const OSTUtils::GridBlockOptions& options);
  // Options for the blocks of a tag-13 particle block (default as above).
  void setParticleBlockOptions(const OSTUtils::GridBlockOptions& options);
  // Adds stored channel `channel` (0..31 except 18) from nx*ny*nz floats. The channel is
  // encoded at once, so set the version, grid size, compressor and options first. False
  // when the grid size is not set, the channel number is bad or the block cannot be
  // written.
  bool addChannel(int channel, const float* values);
  // Adds the packed colour channel 18: one 0x00RRGGBB word per cell, zlib-compressed
  // (set the grid size first).
  bool addPackedColour(const uint32_t* rgb);
  // Appends a grid-data record with the given payload as is (padded with zero bytes to
  // whole int32s) and its length field set to `lengthInts` (-1: the padded payload
  // length). Does not touch the channel mask. For hand-made test files.
  bool addRawGridRecord(int channel, const void* payload, int64_t bytes, int64_t lengthInts = -1);
  // Writes tag 3 with no records (and a data count of 0) even when nothing was added.
  void forceGridTag(bool on);

  // ---- Frame scalars and properties ----
  void setFrameNumber(int frameNumber);  // tag 4
  void setTag5(float value);              // tag 5
  void setAuxTransform(const float t[12]);  // tag 6: first auxiliary transform
  void setPropsValueFloat(float value);   // tag 8
  void setTag9(int32_t propsWord, float value);  // tag 9: props bytes 348..351, tag-9 float
  void setTag10(double propsValue, const unsigned char bytes16to23[8]);  // tag 10
  void setTag11(const float aux[3][12], const unsigned char bytes384to391[8]);  // tag 11
  // Tag 12: n bytes of properties (n may exceed the 392 a reader keeps).
  void setPropsBlock(const void* bytes, int n);

  // ---- Chunks ----
  void setChunkText(const char* text);                   // 1001
  void addChannelRange(int channel, float minimum, float maximum);  // 1003 (channel as given)
  void addChannelValue64(int channel, int64_t value);    // 1004 (channel as given)
  // An extra chunk with any id, written after the known ones. `declaredSize` -1 writes the
  // payload length.
  void addRawChunk(int32_t id, const void* payload, int64_t bytes, int64_t declaredSize = -1);

  // ---- Particle groups ----
  // Adds a group; returns its index.
  int addGroup(const char* name, int particleCount, int groupType = 0);
  // Channel `slot` (0..31) of a group: particleCount * words * 4 bytes as laid out in memory
  // (slot 0/1/4: 3 floats per particle, 10: int64 ids, slots 6-8 have no data, others one
  // word). `method` 0..4 is the chunk-1002 storage method; old-style blocks ignore it.
  // Slot 10 in an old-style block is written as the identifier sub-record instead.
  bool setGroupChannel(int group, int slot, const void* data, int method = 0);
  // Chunk 1002 only: the slot's stored record exactly as given (method and bytes), for
  // records no encoder would write.
  bool setGroupChannelStored(int group, int slot, int method, const void* bytes, int64_t count);
  void setGroupExtra(int group, const unsigned char extra[8]);
  // Where groups go: chunk 1000 table, chunk 1002 data, and an old-style block with tag 7
  // (raw words) or 13 (compressed), or 0 for none. Default: table + data, no block.
  void setParticleLayout(bool groupTable, bool groupData, int blockTag);
  // Bounding box written into chunk 1000; default: the box of all slot-0 positions.
  void setGroupTableBox(const float minimum[3], const float maximum[3]);

  // Writes the file. False (with a message) when the file cannot be written or a codec
  // fails.
  bool write(const char* path);
  // Replaces `out` with the bytes of the file.
  bool writeToMemory(OSTUtils::OstArray<char, int64_t>& out);

 private:
  struct State;
  std::unique_ptr<State> state;
};
