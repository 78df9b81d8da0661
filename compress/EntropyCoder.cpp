// Coder state and the decoding direction of the entropy coder.
#include "compress/EntropyCoder.h"

#include <climits>

#include "compress/BitReader.h"
#include "ostutils/Allocation.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

// Width of the primary decoding table. Frequent values have short words, so almost every
// value is decoded by one lookup; longer words continue bit by bit from the table's node.
const int kLutBits = 11;

inline uint64_t lowBits(uint64_t v, int bits) { return bits >= 64 ? v : (v & ((uint64_t(1) << bits) - 1)); }

// Reads `bits` (at most 57) bits; failure when they run past the stream.
inline uint64_t readBits(EntropyCoder& st, int bits) {
  const uint64_t w = peekBits(st.start, st.availableBytes, fastPeekEnd(st.availableBytes), st.bitPos);
  st.bitPos += bits;
  if (st.bitPos > st.bitLimit) st.failed = true;
  return lowBits(w, bits);
}

// Continues a word longer than the lookup table from `node`, one bit per step.
inline bool walkTree(EntropyCoder& st, int node, int64_t& pos, int32_t& value) {
  const CodeNode* tree = st.tree;
  while (tree[node].child0 != 0) {
    if (pos >= st.bitLimit) return false;
    const int bit = static_cast<int>((st.start[pos >> 3] >> (pos & 7)) & 1);
    ++pos;
    node = bit ? tree[node].child1 : tree[node].child0;
  }
  value = static_cast<int32_t>(static_cast<uint32_t>(tree[node].symbol) + static_cast<uint32_t>(st.offset));
  return true;
}

bool fail(EntropyCoder& st) {
  st.release();
  st.failed = true;
  return false;
}

}  // namespace

EntropyCoder::~EntropyCoder() { release(); }

void EntropyCoder::release() {
  releaseArray(val2code);
  releaseArray(srt);
  releaseArray(tree);
  releaseArray(lut);
  lutBits = 0;
  nextFree = 0;
  ready = false;
}

bool InitDecoder(EntropyCoder& st, const unsigned char* data, int64_t availableBytes) {
  st.release();
  st.failed = false;
  st.tableMode = false;
  st.count = 0;
  st.offset = 0;
  st.start = data;
  st.availableBytes = data ? (availableBytes > 0 ? availableBytes : 0) : 0;
  // A stream longer than the bit counter can address is cut to what it can.
  if (st.availableBytes > (INT64_MAX >> 4)) st.availableBytes = INT64_MAX >> 4;
  st.bitPos = 0;
  st.bitLimit = st.availableBytes * 8;

  if (st.bitLimit < 40) {
    ZUtils::logReport("InitDecoder: stream of %lld bytes is too short\n", static_cast<long long>(st.availableBytes));
    return fail(st);
  }
  const int w = static_cast<int>(readBits(st, 8));
  const uint32_t x = static_cast<uint32_t>(readBits(st, 32));
  if (w != 0) {
    if (w > 32) {
      ZUtils::logReport("InitDecoder: value width %d above 32\n", w);
      return fail(st);
    }
    st.count = w;
    st.offset = static_cast<int>(x);
    st.ready = true;
    return true;
  }

  st.tableMode = true;
  if (st.bitLimit < 84) {
    ZUtils::logReport("InitDecoder: stream of %lld bytes is too short\n", static_cast<long long>(st.availableBytes));
    return fail(st);
  }
  st.offset = static_cast<int>(static_cast<uint32_t>(readBits(st, 32)));
  const int rateBits = static_cast<int>(readBits(st, 6));
  const int symBits = static_cast<int>(readBits(st, 6));
  // Every entry takes at least its flag bit: a count the stream cannot hold is refused
  // before anything is allocated for it.
  const int64_t bitsLeft = st.bitLimit - st.bitPos;
  if (x == 0 || x > static_cast<uint32_t>(INT_MAX / 2) || static_cast<int64_t>(x) > bitsLeft) {
    ZUtils::logReport("InitDecoder: table of %u entries does not fit the stream\n", x);
    return fail(st);
  }
  if (rateBits > 32 || symBits > 32) {
    ZUtils::logReport("InitDecoder: rate width %d or symbol width %d above 32\n", rateBits, symBits);
    return fail(st);
  }
  const int n = static_cast<int>(x);
  st.count = n;

  if (!newArray(st.srt, static_cast<uint64_t>(n))) {
    ZUtils::logReport("Encode InitDecoder srt failed!\n");
    return fail(st);
  }
  uint64_t total = 0;
  uint64_t rate = 0;
  for (int i = 0; i < n; ++i) {
    const uint64_t flag = readBits(st, 1);
    if (flag) {
      const uint64_t next = readBits(st, rateBits);
      // Rates are positive and falling; anything else cannot split into a usable tree.
      if (next == 0 || (i > 0 && next > rate) || next > static_cast<uint64_t>(INT_MAX)) {
        ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
        return fail(st);
      }
      rate = next;
    } else if (i == 0) {
      ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
      return fail(st);
    }
    st.srt[i].rate = static_cast<int>(rate);
    st.srt[i].symbol = static_cast<int>(static_cast<uint32_t>(readBits(st, symBits)));
    total += rate;
    if (st.failed) {
      ZUtils::logReport("InitDecoder: table runs past the end of the stream\n");
      return fail(st);
    }
  }

  if (!newArray(st.tree, 2 * static_cast<uint64_t>(n))) {
    ZUtils::logReport("Encode InitDecoder tree failed!\n");
    return fail(st);
  }
  int maxDepth = 0;
  if (!BuildCodeTree(st.srt, n, total, st.tree, st.nextFree, nullptr, maxDepth)) {
    ZUtils::logReport("InitDecoder: table without a usable split\n");
    return fail(st);
  }
  st.lutBits = maxDepth < kLutBits ? maxDepth : kLutBits;
  if (!newArray(st.lut, uint64_t(1) << st.lutBits)) {
    ZUtils::logReport("Encode InitDecoder lookup table failed!\n");
    return fail(st);
  }
  BuildLookupTable(st.tree, st.offset, st.lutBits, st.lut);
  st.ready = true;
  return true;
}

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
  const uint64_t w = peekBits(st.start, st.availableBytes, fastPeekEnd(st.availableBytes), st.bitPos);
  const LutEntry& e = st.lut[lowBits(w, st.lutBits)];
  int64_t pos = st.bitPos + (e.length >= 0 ? e.length : st.lutBits);
  int32_t value = e.value;
  if ((e.length < 0 && !walkTree(st, e.value, pos, value)) || pos > st.bitLimit) {
    st.failed = true;
    st.bitPos = st.bitLimit + 1;
    return 0;
  }
  st.bitPos = pos;
  return value;
}

namespace {

// Stores a decoded value at out[i] and advances i, or expands a run. Returns false when
// decoding must stop (`ok` tells whether the stop is a failure).
inline bool storeValue(int32_t v, int* out, int64_t& i, int64_t n, uint32_t base, bool& ok) {
  if (v >= 0) {
    out[i++] = static_cast<int>(base + static_cast<uint32_t>(v));
    return true;
  }
  if (i == 0) {
    ZUtils::logReport("DecodeAndExpand - run with no value before it\n");
    ok = false;
    return false;
  }
  const int64_t run = -static_cast<int64_t>(v);
  const int prev = out[i - 1];
  if (run > n - i) {
    for (; i < n; ++i) out[i] = prev;
    ZUtils::logReport("DecodeAndExpand - constant sequence longer than expected\n");
    ok = true;
    return false;
  }
  const int64_t stop = i + run;
  for (; i < stop; ++i) out[i] = prev;
  return true;
}

}  // namespace

bool DecodeAndExpand(EntropyCoder& st, int* out, int64_t n, int base) {
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
    while (i < n) {
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
    const LutEntry* lut = st.lut;
    const uint64_t mask = (uint64_t(1) << st.lutBits) - 1;
    while (i < n) {
      const uint64_t w = peekBits(data, bytes, fastEnd, pos);
      const LutEntry e = lut[w & mask];
      int32_t v = e.value;
      if (e.length >= 0) {
        pos += e.length;
      } else {
        pos += st.lutBits;
        if (!walkTree(st, e.value, pos, v)) {
          ok = false;
          break;
        }
      }
      if (pos > limit) {
        ok = false;
        break;
      }
      if (v >= 0) {
        out[i++] = static_cast<int>(ubase + static_cast<uint32_t>(v));
        continue;
      }
      if (!storeValue(v, out, i, n, ubase, ok)) break;
    }
  }
  if (!ok) {
    st.failed = true;
    st.bitPos = limit + 1;
    return false;
  }
  st.bitPos = pos;
  return true;
}

}  // namespace OSTUtils
