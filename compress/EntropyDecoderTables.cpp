// The entropy decoder's reading of a stream's header and table, and the decoding tables
// built from it (InitDecoder); the coder state's release.
#include <climits>
#include <cstring>

#include "compress/EntropyDecoderParts.h"
#include "ostutils/Allocation.h"

namespace OSTUtils {

using namespace entropy;

namespace {

bool fail(EntropyCoder& st) {
  st.release();
  st.failed = true;
  return false;
}

// A table the decoder could not allocate says nothing about the stream: callers must not
// take it for a damaged one.
bool failForMemory(EntropyCoder& st) {
  fail(st);
  st.noMemory = true;
  return false;
}

// Entry i's rate: a new one when its flag bit is set, else the previous entry's (entry 0
// must set one). Rates are positive and falling; anything else cannot split into a usable
// tree, and is reported.
inline bool nextRate(uint64_t flag, uint64_t next, int i, uint64_t& rate) {
  if (flag) {
    if (next != 0 && (i == 0 || next <= rate) && next <= static_cast<uint64_t>(INT_MAX)) {
      rate = next;
      return true;
    }
  } else if (i > 0) {
    return true;
  }
  ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
  return false;
}

}  // namespace

EntropyCoder::~EntropyCoder() { release(); }

void EntropyCoder::release() {
  releaseArray(val2code);
  releaseArray(srt);
  releaseArray(tree);
  releaseArray(lengths);
  releaseArray(table);
  releaseArray(values);
  primaryBits = 0;
  longestWord = 0;
  tableEntries = 0;
  nextFree = 0;
  ready = false;
}

bool InitDecoder(EntropyCoder& st, const unsigned char* data, int64_t availableBytes) {
  st.release();
  st.failed = false;
  st.noMemory = false;
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
    return failForMemory(st);
  }
  // The entries are thousands per dense zone: each is read from one peek (two when the
  // rate and symbol widths together pass what a peek holds) with the position checked once,
  // after the entry. Bits past the end peek as zero, so a cut entry is judged on the same
  // values, and in the same order, as when read field by field.
  uint64_t total = 0;
  uint64_t rate = 0;
  {
    const unsigned char* bytes = st.start;
    const int64_t byteCount = st.availableBytes;
    const int64_t fastEnd = fastPeekEnd(byteCount);
    const int64_t limit = st.bitLimit;
    const uint64_t rateMask = (uint64_t(1) << rateBits) - 1;
    const uint64_t symMask = (uint64_t(1) << symBits) - 1;
    const bool onePeek = 1 + rateBits + symBits <= 57;
    int64_t pos = st.bitPos;
    CodeEntry* srt = st.srt;
    int i = 0;
    // While 8 bytes can be loaded, from a bit buffer holding at least a whole entry after
    // each refill: the serial chain from one entry to the next is then shifts, not loads.
    // The checks are the same, in the same order; an entry here never passes the end.
    const int64_t lastLoad = byteCount - 8;
    if (1 + rateBits + symBits <= 56 && (pos >> 3) <= lastLoad) {
      BitLane r;
      r.start(bytes, pos);
      for (; i < n && r.next <= lastLoad; ++i) {
        r.refill(bytes);
        uint64_t w = r.buf;
        unsigned used = 1;
        if (!nextRate(w & 1, (w >> 1) & rateMask, i, rate)) return fail(st);
        if (w & 1) used += static_cast<unsigned>(rateBits);
        w >>= used;
        srt[i].rate = static_cast<int>(rate);
        srt[i].symbol = static_cast<int>(static_cast<uint32_t>(w & symMask));
        total += rate;
        used += static_cast<unsigned>(symBits);
        r.buf >>= used;
        r.left -= used;
      }
      pos = r.position();
    }
    for (; i < n; ++i) {
      uint64_t w = peekBits(bytes, byteCount, fastEnd, pos);
      if (!nextRate(w & 1, (w >> 1) & rateMask, i, rate)) return fail(st);
      if (w & 1) {
        pos += 1 + rateBits;
        w = onePeek ? w >> (1 + rateBits) : peekBits(bytes, byteCount, fastEnd, pos);
      } else {
        pos += 1;
        w >>= 1;
      }
      srt[i].rate = static_cast<int>(rate);
      srt[i].symbol = static_cast<int>(static_cast<uint32_t>(w & symMask));
      total += rate;
      pos += symBits;
      if (pos > limit) {
        st.bitPos = pos;
        ZUtils::logReport("InitDecoder: table runs past the end of the stream\n");
        return fail(st);
      }
    }
    st.bitPos = pos;
  }

  {
    // Usually no word is longer than two lookups: the table comes straight from the split.
    const uint64_t cap = (uint64_t(1) << kPrimaryBits) + 128 * static_cast<uint64_t>(n) + 65536;
    DecodeTableLayout layout;
    if (BuildTwoLevelDecodeTable(st.srt, n, total, st.offset, kPrimaryBits, kSubtableBits, cap, st.lengths,
                                 st.values, layout) == 1) {
      st.primaryBits = layout.primaryBits;
      st.longestWord = layout.longestWord;
      st.tableEntries = layout.entries;
      st.ready = true;
      return true;
    }
    releaseArray(st.lengths);
    releaseArray(st.values);
  }
  if (!newArray(st.tree, 2 * static_cast<uint64_t>(n))) {
    ZUtils::logReport("Encode InitDecoder tree failed!\n");
    return failForMemory(st);
  }
  int maxDepth = 0;
  bool splitScratchRefused = false;
  if (!BuildCodeTree(st.srt, n, total, st.tree, st.nextFree, nullptr, maxDepth, &splitScratchRefused)) {
    if (splitScratchRefused) {
      ZUtils::logReport("Encode InitDecoder tree failed!\n");
      return failForMemory(st);
    }
    ZUtils::logReport("InitDecoder: table without a usable split\n");
    return fail(st);
  }
  // The decoding table is bounded by the number of tree nodes before it is allocated: at
  // most 64 entries per node beyond the primary table (narrower subtables are chosen when
  // wider ones would pass that), so a hostile tree cannot ask for more.
  const int nodes = st.nextFree;
  const uint64_t cap = (uint64_t(1) << kPrimaryBits) + 64 * static_cast<uint64_t>(nodes) + 65536;
  int* heights = nullptr;
  DecodeTableLayout layout;
  const bool heightsHeld = newArray(heights, static_cast<uint64_t>(nodes));
  const bool planned =
      heightsHeld && PlanDecodeTable(st.tree, nodes, maxDepth, kPrimaryBits, kSubtableBits, cap, heights, layout);
  if (!planned || !newArray(st.table, layout.entries) || !newArray(st.values, static_cast<uint64_t>(nodes))) {
    releaseArray(heights);
    ZUtils::logReport("Encode InitDecoder lookup table failed!\n");
    // A plan refused by its bound is a hostile tree; anything else was an allocation.
    return heightsHeld && !planned ? fail(st) : failForMemory(st);
  }
  BuildDecodeTable(st.tree, heights, st.offset, layout, st.table, st.values);
  releaseArray(heights);
  st.primaryBits = layout.primaryBits;
  st.tableEntries = layout.entries;
  st.ready = true;
  return true;
}

}  // namespace OSTUtils
