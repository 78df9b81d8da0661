// The particle channel storage methods: the leading byte selects the method (values
// outside 0..4 included), then the words per particle and the particle count, then the
// stored bytes. A decoded channel has exactly the channel's length, both ends readable.
#include "FuzzTarget.h"
#include "compress/ParticleChannelMethods.h"
#include "compress/SGCompressor.h"

namespace {
volatile char gSink;
}

NEB_FUZZ_TARGET(particle_methods) {
  nebfuzz::Input in{data, size};
  const int method = static_cast<int>(in.take(1) % 7);  // 5 and 6 are not methods
  const int words = static_cast<int>(in.take(1) & 7);
  const int particles = static_cast<int>(in.take(2) & 0xfff);  // small channels keep runs fast
  OSTUtils::OstArray<char, int64_t> expanded;
  OSTUtils::SGCompressor<1> compressor(1);
  const bool ok = OSTUtils::ExpandChannelBytes(method, reinterpret_cast<const char*>(in.data),
                                               static_cast<int64_t>(in.size), particles, words, expanded,
                                               &compressor);
  if (ok && method != OSTUtils::kChannelRaw &&
      expanded.size != OSTUtils::ParticleChannelLength(particles, words)) {
    __builtin_trap();  // a decoded channel is exactly particles x words words
  }
  if (expanded.size > 0) gSink = static_cast<char>(expanded.data[0] ^ expanded.data[expanded.size - 1]);
  return 0;
}
