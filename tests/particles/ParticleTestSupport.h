// Helpers for particle tests: groups filled the way the container reader fills them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "compress/GridBlockWriter.h"
#include "compress/ParticleChannelMethods.h"
#include "particles/PGroup.h"

// Encodes `values` (particleCount x words of the slot) with `method` and stores the bytes
// in the slot, as the reader does for a chunk-1002 channel record.
inline void storeChannel(PGroup& g, int slot, int method, const void* values) {
  OSTUtils::GridBlockOptions lossless = OSTUtils::defaultGridBlockOptions();
  lossless.lossless = true;
  lossless.zoneLength = 16;
  OSTUtils::OstArray<char, int64_t> bytes;
  ASSERT_TRUE(OSTUtils::EncodeChannelBytes(method, values, g.particleCount, PGroup::wordsPerParticle(slot), bytes,
                                           &lossless));
  g.channels[slot].method = method;
  ASSERT_TRUE(g.channels[slot].stored.SetSize(bytes.size, nullptr, true));
  std::memcpy(g.channels[slot].stored.data, bytes.data, static_cast<size_t>(bytes.size));
}

inline void storeRaw(PGroup& g, int slot, int method, const std::vector<char>& bytes) {
  g.channels[slot].method = method;
  ASSERT_TRUE(g.channels[slot].stored.SetSize(static_cast<int64_t>(bytes.size()), nullptr, true));
  if (!bytes.empty()) std::memcpy(g.channels[slot].stored.data, bytes.data(), bytes.size());
}

inline std::vector<float> positionsOf(int n) {
  std::vector<float> p(static_cast<size_t>(n) * 3);
  for (int i = 0; i < n; ++i) {
    p[3 * i] = 0.5f * i;
    p[3 * i + 1] = -0.25f * i;
    p[3 * i + 2] = 1.0f + i;
  }
  return p;
}
