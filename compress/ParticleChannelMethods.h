// Storage methods of particle channels.
//
// A particle channel in memory is particleCount x words 32-bit words, particle after
// particle. In the file it is stored with one of five methods, an int32 kept next to the
// bytes:
//   0  the channel bytes themselves (the channel takes the stored length, whatever it is)
//   1  one zlib stream of the channel bytes
//   2  one SGCompressor<1> block of the channel as floats, in memory order
//   3  one SGCompressor<1> block holding the channel component by component (all words 0,
//      then all words 1, ...): each component alone varies smoothly, which suits the
//      differencing of the grid codec
//   4  one zlib stream of the channel's bit planes (compress/BitPlanes.h)
// Any other number is not a method.
#pragma once

#include <cstdint>

#include "compress/BitPlanes.h"
#include "ostutils/OstArray.h"

namespace OSTUtils {

template <int D>
class SGCompressor;
struct GridBlockOptions;

enum ParticleChannelMethod {
  kChannelRaw = 0,
  kChannelZip = 1,
  kChannelGridBlock = 2,
  kChannelGridBlockPlanar = 3,
  kChannelZipBitPlanes = 4
};

inline bool IsParticleChannelMethod(int method) { return method >= kChannelRaw && method <= kChannelZipBitPlanes; }

// particleCount x words x 4, or -1 for a negative count or word number.
int64_t ParticleChannelLength(int64_t particleCount, int words);

// Turns stored channel bytes back into the channel. `expanded` is the channel buffer; for
// methods 1 to 4 it is sized to ParticleChannelLength(particleCount, words) here unless the
// caller already did, for method 0 to the stored length. Parts of the channel the stored
// data does not cover read as zero.
//   - methods 2 and 3 decode with `compressor` (null makes them fail);
//   - method 4 rebuilds the words with `assembler`, or on the calling thread without one;
//   - zlib failures report "[ERROR] Decompressing Zip (%d)\n"; other failures are silent
//     (the particle group reports them); a method outside 0..4 fails without touching
//     `expanded`.
// Methods 3 and 4 run their re-assembly even when the decode before it failed (the result
// is still false), so the channel never holds uninitialised bytes.
bool ExpandChannelBytes(int method, const char* stored, int64_t storedLength, int particleCount, int words,
                        OstArray<char, int64_t>& expanded, SGCompressor<1>* compressor,
                        BitPlaneAssembler* assembler = nullptr);

// Writes a channel of particleCount x words words in the given method, replacing the
// contents of `stored`. Methods 2 and 3 go through the grid-block writer with
// `gridOptions`, or its default (lossy) options when null. False with a message on
// failure, or for an unknown method.
bool EncodeChannelBytes(int method, const void* channel, int particleCount, int words,
                        OstArray<char, int64_t>& stored, const GridBlockOptions* gridOptions = nullptr);

}  // namespace OSTUtils
