// How the channels of a loaded frame are stored, read from the stored form the frame keeps
// for lazy decoding: the grid records of comprData and the particle slots' stored bytes.
// Nothing is decoded. Describe particle channels before reading them: a slot drops its
// stored bytes once expanded.
#pragma once

#include <cstdint>
#include <vector>

#include "compress/GridBlockHeader.h"

class GridRecordBytes;

using GridBlockZones = OSTUtils::GridBlockZones;
class OstraneFrameData;
class PGroup;

struct GridChannelStorage {
  int channel = 0;
  int64_t storedBytes = 0;  // the record's payload
  bool zip = false;         // channel 18: one zlib stream of packed colour words
  GridBlockZones zones;     // every other channel: one grid-compressor block
};

// The first record of each channel in comprData, in file order, as the decoder finds them
// (a record of length < 1 ends the walk). A record whose payload would run past the data
// ends the walk too and sets *overrun. Empty for frames without grid data.
std::vector<GridChannelStorage> DescribeGridChannels(const OstraneFrameData& frame, bool* overrun = nullptr);
// The same for the records of a frame of container `version` wherever they are (a frame
// loaded with its grid left in the file): zone tables and headers are fetched, zone
// streams are not read.
std::vector<GridChannelStorage> DescribeGridChannels(int32_t version, const GridRecordBytes& records,
                                                     bool* overrun = nullptr);

struct ParticleChannelStorage {
  int slot = 0;
  // Storage method of the stored bytes (compress/ParticleChannelMethods.h), or -1 when the
  // slot holds no stored bytes but expanded ones (old-style particle blocks are expanded
  // while the file is read, and every slot once it has been accessed).
  int method = -1;
  int64_t storedBytes = 0;  // stored bytes, or the expanded bytes for method -1
  GridBlockZones zones;     // methods 2 and 3: the block inside the stored bytes
};

// Every slot of the group that holds data, in slot order.
std::vector<ParticleChannelStorage> DescribeParticleChannels(const PGroup& group);
