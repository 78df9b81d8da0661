// The numbers of the nebu2 format, named once: the reader, the writer and the code that
// describes stored channels all take them from here. Byte layouts are described where
// they are read (cache/NebReader.cpp footer, cache/NebTagStream.cpp tags,
// cache/NebChunkList.cpp chunks, cache/NebParticleBlock.cpp particle blocks,
// cache/GridChannels.cpp grid records, compress/GridBlockHeader.h and compress/SGCompressor.h
// grid blocks).
#pragma once

#include <cstdint>

namespace NebFormat {

// The first 4 bytes of a file, and its last 8.
const char kHeaderMagic[4] = {'N', 'E', 'B', 'U'};
const char kFooterMagic[8] = {'N', 'E', 'B', 'U', '2', 'O', 'S', 'T'};

// Tags of the tag stream after the header magic. A tag outside 1..13 ends the stream; the
// writer ends it with 0.
enum Tag : int32_t {
  kTagEnd = 0,
  kTagChannelMask = 1,          // int32 grid channel mask
  kTagTransform = 2,            // 12 floats
  kTagGrid = 3,                 // 3 int32 cell counts, int32 n, n int32 of grid records
  kTagFrameNumber = 4,          // int32
  kTagFloat5 = 5,               // float
  kTagAuxTransform = 6,         // 12 floats: the first auxiliary transform
  kTagRawParticles = 7,         // particle block, channels as raw words
  kTagPropsValue = 8,           // float: the property value, widened to double
  kTagPropsWord = 9,            // int32 into the property block; float
  kTagPropsDouble = 10,         // double property value; 8 bytes into the property block
  kTagAuxTransforms = 11,       // 3 x 12 floats; 8 bytes into the property block
  kTagPropsBlock = 12,          // int32 n; n bytes of the property block
  kTagCompressedParticles = 13  // particle block, channels as grid-compressor blocks
};
const int32_t kLastTag = kTagCompressedParticles;

// Sub-records of a group in a particle block; 0 ends the group.
enum ParticleSubTag : int32_t {
  kSubTagEnd = 0,
  kSubTagGroupType = 1,  // int32
  kSubTagIds = 2,        // int32 B; B bytes of entropy-coded identifier differences
  kSubTagExtra = 3       // 8 bytes
};

// Chunk ids of the chunk list; kChunkListEnd ends it and carries no size.
enum ChunkId : int32_t {
  kChunkGroupTable = 1000,
  kChunkText = 1001,
  kChunkGroupData = 1002,
  kChunkValueRanges = 1003,
  kChunkValues64 = 1004,
  kChunkListEnd = 9999999
};

// Grid channels with a role of their own; every other number up to 31 is a stored scalar.
enum GridChannel : int {
  kGridSpeed = 3,        // stored, or derived from the velocity
  kGridVelocityX = 4,    // stored velocity components
  kGridVelocityY = 5,
  kGridVelocityZ = 6,
  kGridColourRed = 7,    // colour components, derived from the packed colour
  kGridColourGreen = 8,
  kGridColourBlue = 9,
  kGridPackedColour = 18 // one zlib stream of 0x00RRGGBB words, never read as it is
};
const int kGridChannelCount = 32;

// Grid blocks of frames of a container version decode with the one-dimensional grid
// compressor from version 5 on (the constructor's default 2147483647 counts as old).
inline int GridCodecDimension(int32_t version) { return version >= 5 && version <= 2147483646 ? 1 : 3; }

// Grid-compressor blocks: the u16 at their start, and the method byte of a zone stream.
const uint16_t kSingleZoneMagic = 0xFC01;  // the block is one zone stream; also every zone's own magic
const uint16_t kZonedMagic = 0xFC02;       // zone table follows
const uint16_t kZonedMagicAlt = 0xFC03;    // read as kZonedMagic
enum ZoneMethod : uint8_t { kZoneRaw = 0, kZoneConstant = 1, kZoneQuantized = 2 };

}  // namespace NebFormat
