// Bounded little-endian bit peeking for the entropy decoder.
//
// peekBits gives at least 57 stream bits starting at bit `pos` (first stream bit in bit 0).
// Bytes at or past the end read as zero, so a peek never touches memory outside the
// stream; callers detect running out by comparing their position with the stream's bit
// count after consuming.
#pragma once

#include <cstdint>
#include <cstring>

namespace OSTUtils {

inline uint64_t peekBitsSlow(const unsigned char* data, int64_t bytes, int64_t pos) {
  const int64_t byte = pos >> 3;
  uint64_t w = 0;
  for (int i = 0; i < 8 && byte + i < bytes; ++i) w |= static_cast<uint64_t>(data[byte + i]) << (8 * i);
  return w >> (pos & 7);
}

// fastEnd: positions below it have 8 readable bytes from their byte on ((bytes - 7) * 8).
inline uint64_t peekBits(const unsigned char* data, int64_t bytes, int64_t fastEnd, int64_t pos) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (pos < fastEnd) {
    uint64_t w;
    std::memcpy(&w, data + (pos >> 3), sizeof(w));
    return w >> (pos & 7);
  }
#else
  (void)fastEnd;
#endif
  return peekBitsSlow(data, bytes, pos);
}

inline int64_t fastPeekEnd(int64_t bytes) { return bytes >= 8 ? (bytes - 7) * 8 : 0; }

}  // namespace OSTUtils
