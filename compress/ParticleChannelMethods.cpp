#include "compress/ParticleChannelMethods.h"

#include <cstring>
#include <limits>

#include "compress/GridBlockWriter.h"
#include "compress/SGCompressor.h"
#include "compress/ZipBlock.h"
#include "ostutils/Allocation.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

void zeroFill(OstArray<char, int64_t>& a) {
  if (a.size > 0) std::memset(a.data, 0, static_cast<size_t>(a.size));
}

// Method 3: the block holds all words 0, then all words 1, ...; the channel wants them
// particle after particle: channel[p * words + c] = planar[c * n + p].
bool expandPlanar(const char* stored, int64_t storedLength, int64_t n, int words, float* channel,
                  SGCompressor<1>* compressor) {
  const int64_t count = n * words;
  float* planar = nullptr;
  if (!newZeroedArray(planar, static_cast<uint64_t>(count))) return false;
  const bool ok = compressor && compressor->DecompressBlock(stored, storedLength, planar, count);
  // The interleave runs whatever the decode gave: values no zone wrote stay zero.
  for (int64_t p = 0; p < n; ++p) {
    for (int c = 0; c < words; ++c) channel[p * words + c] = planar[c * n + p];
  }
  releaseArray(planar);
  return ok;
}

bool expandBitPlanes(const char* stored, int64_t storedLength, int64_t n, int words, uint32_t* channel,
                     BitPlaneAssembler* assembler) {
  const int64_t planeWords = BitPlaneWordCount(n, words);
  if (planeWords < 0 || planeWords > std::numeric_limits<int64_t>::max() / 4) return false;
  uint32_t* planes = nullptr;
  if (!newZeroedArray(planes, static_cast<uint64_t>(planeWords))) return false;
  const bool ok = InflateBlock(stored, storedLength, planes, planeWords * 4);
  // As with method 3 the words are rebuilt whatever the inflate gave (missing planes are 0).
  if (assembler) {
    assembler->assemble(planes, n, words, channel);
  } else {
    AssembleFromBitPlanes(planes, n, words, 0, n, channel);
  }
  releaseArray(planes);
  return ok;
}

bool writeGridBlock(const float* values, int64_t count, OstArray<char, int64_t>& stored,
                    const GridBlockOptions* options) {
  return WriteGridBlock1D(values, count, options ? *options : defaultGridBlockOptions(), stored);
}

}  // namespace

int64_t ParticleChannelLength(int64_t particleCount, int words) {
  if (particleCount < 0 || words < 0) return -1;
  if (words > 0 && particleCount > std::numeric_limits<int64_t>::max() / (4 * static_cast<int64_t>(words))) return -1;
  return particleCount * words * 4;
}

bool ExpandChannelBytes(int method, const char* stored, int64_t storedLength, int particleCount, int words,
                        OstArray<char, int64_t>& expanded, SGCompressor<1>* compressor, BitPlaneAssembler* assembler) {
  if (!IsParticleChannelMethod(method)) return false;
  if (storedLength < 0 || (!stored && storedLength > 0)) return false;
  if (method == kChannelRaw) {
    // The channel takes the stored length, whatever the particle count says; readers bound
    // their accesses by this length.
    if (!expanded.SetSize(storedLength, nullptr, true)) return false;
    if (storedLength > 0) std::memcpy(expanded.data, stored, static_cast<size_t>(storedLength));
    return true;
  }
  const int64_t length = ParticleChannelLength(particleCount, words);
  if (length < 0) return false;
  if (expanded.size != length && !expanded.SetSize(length, nullptr, true)) return false;
  switch (method) {
    case kChannelZip:
      zeroFill(expanded);
      return InflateBlock(stored, storedLength, expanded.data, length);
    case kChannelGridBlock:
      if (!compressor) return false;
      zeroFill(expanded);
      return compressor->DecompressBlock(stored, storedLength, reinterpret_cast<float*>(expanded.data), length / 4);
    case kChannelGridBlockPlanar:
      return expandPlanar(stored, storedLength, particleCount, words, reinterpret_cast<float*>(expanded.data),
                          compressor);
    case kChannelZipBitPlanes:
      return expandBitPlanes(stored, storedLength, particleCount, words, reinterpret_cast<uint32_t*>(expanded.data),
                             assembler);
    default:
      return false;
  }
}

bool EncodeChannelBytes(int method, const void* channel, int particleCount, int words,
                        OstArray<char, int64_t>& stored, const GridBlockOptions* gridOptions) {
  const int64_t length = ParticleChannelLength(particleCount, words);
  if (length < 0 || (!channel && length > 0)) {
    ZUtils::logReport("[ERROR] Encoding particle channel: bad particle count %d or words %d\n", particleCount, words);
    return false;
  }
  stored.SetSize(0);
  const int64_t n = particleCount;
  switch (method) {
    case kChannelRaw:
      if (!stored.SetSize(length, nullptr, true)) {
        ZUtils::logReport("[ERROR] Encoding particle channel: cannot allocate %lld bytes\n",
                          static_cast<long long>(length));
        return false;
      }
      if (length > 0) std::memcpy(stored.data, channel, static_cast<size_t>(length));
      return true;
    case kChannelZip:
      return DeflateBlock(channel, length, stored);
    case kChannelGridBlock:
      return writeGridBlock(static_cast<const float*>(channel), length / 4, stored, gridOptions);
    case kChannelGridBlockPlanar: {
      const float* source = static_cast<const float*>(channel);
      float* planar = nullptr;
      if (!newArray(planar, static_cast<uint64_t>(length / 4))) {
        ZUtils::logReport("[ERROR] Encoding particle channel: cannot allocate %lld bytes\n",
                          static_cast<long long>(length));
        return false;
      }
      for (int64_t p = 0; p < n; ++p) {
        for (int c = 0; c < words; ++c) planar[c * n + p] = source[p * words + c];
      }
      const bool ok = writeGridBlock(planar, length / 4, stored, gridOptions);
      releaseArray(planar);
      return ok;
    }
    case kChannelZipBitPlanes: {
      const int64_t planeWords = BitPlaneWordCount(n, words);
      uint32_t* planes = nullptr;
      if (planeWords < 0 || planeWords > std::numeric_limits<int64_t>::max() / 4 ||
          !newZeroedArray(planes, static_cast<uint64_t>(planeWords))) {
        ZUtils::logReport("[ERROR] Encoding particle channel: cannot allocate the bit planes of %d particles\n",
                          particleCount);
        return false;
      }
      SplitIntoBitPlanes(static_cast<const uint32_t*>(channel), n, words, planes);
      const bool ok = DeflateBlock(planes, planeWords * 4, stored);
      releaseArray(planes);
      return ok;
    }
    default:
      ZUtils::logReport("[ERROR] Encoding particle channel: unknown method %d\n", method);
      return false;
  }
}

}  // namespace OSTUtils
