// Little-endian loads from byte buffers, whatever the host's byte order.
#pragma once

#include <cstdint>
#include <cstring>

namespace F3dPort {

inline uint16_t loadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t loadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t loadU64(const uint8_t* p) { return uint64_t(loadU32(p)) | uint64_t(loadU32(p + 4)) << 32; }

inline float loadF32(const uint8_t* p) {
  const uint32_t bits = loadU32(p);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

inline double loadF64(const uint8_t* p) {
  const uint64_t bits = loadU64(p);
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

}  // namespace F3dPort
