// Bit-plane layout of particle channel method 4.
//
// A channel of n particles with w 32-bit words each is stored as 32*w planes; plane k holds
// bit (k % 32) of word (k / 32) of every particle. One plane is s = ceil(n / 32) little-endian
// words, particle i being bit (i % 32) of plane word (i / 32); plane k starts at word k*s.
// The whole buffer is 32*w*s words (s*w*128 bytes). Slowly varying integers (ids, counters)
// have long runs of equal bits in their high planes, which zlib squeezes well.
#pragma once

#include <cstdint>

namespace OSTUtils {

// Number of 32-bit words of the plane buffer for n particles of w words, or -1 when n or w
// is negative or the size does not fit in 63 bits.
int64_t BitPlaneWordCount(int64_t particleCount, int words);

// Rebuilds words of particles first .. last-1 (clamped to 0 .. particleCount) of `target`
// (particle after particle, `words` words each) from the plane buffer. Disjoint particle
// ranges may run concurrently on the same buffers.
void AssembleFromBitPlanes(const uint32_t* planes, int64_t particleCount, int words, int64_t first, int64_t last,
                           uint32_t* target);

// The inverse: writes the planes of all particles of `source` into `planes`, which must
// hold BitPlaneWordCount(particleCount, words) words. Padding bits past the last particle
// are zero.
void SplitIntoBitPlanes(const uint32_t* source, int64_t particleCount, int words, uint32_t* planes);

// Rebuilds a whole channel from its planes. The default runs on the calling thread; the
// particle layer supplies a parallel one.
class BitPlaneAssembler {
 public:
  virtual ~BitPlaneAssembler() {}
  virtual void assemble(const uint32_t* planes, int64_t particleCount, int words, uint32_t* target) = 0;
};

}  // namespace OSTUtils
