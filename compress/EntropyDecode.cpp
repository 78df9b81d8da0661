// The decode forms of the entropy decoder: one value (DecodeValue), and a sequence with
// its runs expanded (DecodeAndExpand), in fixed-width mode here and in table mode through
// the lane loops (EntropyLanes.cpp).
#include "compress/EntropyDecoderParts.h"

namespace OSTUtils {

using namespace entropy;

int DecodeValue(EntropyCoder& st) {
  if (!st.ready || st.failed) {
    st.failed = true;
    return 0;
  }
  if (!st.tableMode) {
    const uint32_t field = static_cast<uint32_t>(readBits(st, st.count));
    if (st.failed) return 0;
    return static_cast<int>(field + static_cast<uint32_t>(st.offset));
  }
  int64_t pos = st.bitPos;
  const int64_t fastEnd = fastPeekEnd(st.availableBytes);
  const int32_t value = st.lengths ? decodeSplitAt(st, fastEnd, pos) : decodeAt(st, fastEnd, pos);
  if (pos > st.bitLimit) {
    st.failed = true;
    st.bitPos = st.bitLimit + 1;
    return 0;
  }
  st.bitPos = pos;
  return value;
}

bool DecodeAndExpand(EntropyCoder& st, int* out, int64_t n, int base, int64_t* produced, int* spare,
                     int64_t spareInts) {
  if (produced) *produced = 0;
  if (n <= 0) return n == 0 && !st.failed;
  if (!st.ready || st.failed || !out) {
    st.failed = true;
    return false;
  }
  const uint32_t ubase = static_cast<uint32_t>(base);
  const unsigned char* data = st.start;
  const int64_t bytes = st.availableBytes;
  const int64_t fastEnd = fastPeekEnd(bytes);
  const int64_t limit = st.bitLimit;
  int64_t pos = st.bitPos;
  int64_t i = 0;
  bool ok = true;

  if (!st.tableMode) {
    const int width = st.count;
    const uint32_t x = static_cast<uint32_t>(st.offset);
    const uint64_t mask = (uint64_t(1) << width) - 1;  // width <= 32
    // Below fastEnd a peek loads 8 bytes and a field (at most 32 bits) ends inside the
    // stream, so only the tail needs the end check.
    while (i < n && pos < fastEnd) {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(peekBits(data, bytes, fastEnd, pos) & mask) + x);
      pos += width;
      if (v >= 0) {
        out[i++] = static_cast<int>(ubase + static_cast<uint32_t>(v));
      } else if (!storeValue(v, out, i, n, ubase, ok)) {
        break;
      }
    }
    while (ok && i < n) {
      const uint64_t w = peekBits(data, bytes, fastEnd, pos);
      pos += width;
      if (pos > limit) {
        ok = false;
        break;
      }
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(lowBits(w, width)) + x);
      if (!storeValue(v, out, i, n, ubase, ok)) break;
    }
  } else {
    pos = DecodeTableMode(st, out, i, n, ubase, ok, spare, spareInts);
  }
  if (produced) *produced = i;
  if (!ok) {
    st.failed = true;
    st.bitPos = limit + 1;
    return false;
  }
  st.bitPos = pos;
  return true;
}

}  // namespace OSTUtils
