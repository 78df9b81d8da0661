#include "compress/CodeTree.h"

#include "ostutils/Allocation.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace OSTUtils {

namespace {

// A part of the table still to be split, hanging under `node`.
struct PendingPart {
  int node;
  int first;
  int count;
  int depth;
  uint64_t total;
  uint64_t code;
};

enum SplitResult { kSplitDone, kSplitInvalid, kSplitTooDeep, kSplitNoMemory };

// Splits srt[0 .. n-1] (rates summing to `total`) as the code tree does, calling
// inner(node, depth) for every part that splits, which returns the node of its child 0
// (child 1 is that plus one), and leaf(node, entry, depth, code) for every single entry.
// No part at depth depthLimit or deeper is split.
template <class Inner, class Leaf>
SplitResult splitTable(const CodeEntry* srt, int n, uint64_t total, int depthLimit, Inner&& inner, Leaf&& leaf) {
  // Running sums of the rates: the split point of a part is found by binary search instead
  // of a walk over the part, which on a table of thousands of entries was most of the work.
  // Every pending part is a left part waiting for its own split, pushed on the way down
  // from its parent, so the pending parts have distinct depths below depthLimit (a part at
  // depthLimit is not split): at most min(n, depthLimit + 1) are pending. Both arrays go
  // through the checked allocator like the table itself.
  uint64_t* prefix = nullptr;
  PendingPart* stack = nullptr;
  const uint64_t pendingMax =
      depthLimit < n ? static_cast<uint64_t>(depthLimit) + 1 : static_cast<uint64_t>(n);
  if (!newArray(prefix, static_cast<uint64_t>(n) + 1) || !newArray(stack, pendingMax)) {
    releaseArray(prefix);
    return kSplitNoMemory;
  }
  struct Release {
    uint64_t*& prefix;
    PendingPart*& stack;
    ~Release() {
      releaseArray(prefix);
      releaseArray(stack);
    }
  } release{prefix, stack};
  prefix[0] = 0;
  for (int k = 0; k < n; ++k) prefix[k + 1] = prefix[k] + static_cast<uint32_t>(srt[k].rate);
  // Fields are stored one by one into place: building the record on the side and copying
  // it stalled on store forwarding.
  size_t top = 0;
  stack[top++] = PendingPart{0, 0, n, 0, total, 0};
  while (top > 0) {
    PendingPart p = stack[--top];
    while (p.count > 1) {
      const uint64_t half = p.total / 2;
      const uint64_t* part = prefix + p.first;
      const uint64_t firstRate = part[1] - part[0];
      int k;
      uint64_t sum;
      if (firstRate > 0 && firstRate == part[p.count] - part[p.count - 1] && p.total == part[p.count] - part[0]) {
        // All rates of the part equal (they fall): with c entries of rate r, half is c*r/2
        // rounded down and the rule below takes c/2 entries for even c; for odd c it takes
        // (c+1)/2 when r is even (the overshoot r/2 ties with the shortfall) and (c-1)/2
        // when r is odd. The long tails of dense tables are such parts all the way down.
        k = (p.count + static_cast<int>((firstRate & 1) ^ 1)) >> 1;
        sum = static_cast<uint64_t>(k) * firstRate;
      } else {
        // k: the first entry whose inclusion brings the running sum to half; it joins the
        // left part when that overshoots half by no more than stopping before it falls short.
        const uint64_t target = part[0] + half;
        // Branch-free lower bound over part[1 .. count]: the halving steps depend on the
        // length only, so they do not mispredict.
        const uint64_t* b = part + 1;
        for (int len = p.count; len > 1;) {
          const int step = len / 2;
          b = b[step - 1] < target ? b + step : b;
          len -= step;
        }
        const int k0 = static_cast<int>(b - (part + 1)) + (*b < target ? 1 : 0);
        k = k0;
        if (k0 < p.count) {
          sum = part[k0] - part[0];
          const uint64_t rate = part[k0 + 1] - part[k0];
          if ((sum + rate) - half <= half - sum) {
            sum += rate;
            ++k;
          }
        } else {
          sum = part[p.count] - part[0];
        }
      }
      if (k == 0 || k >= p.count) return kSplitInvalid;  // no usable split
      if (p.depth >= depthLimit) return kSplitTooDeep;
      const int c0 = inner(p.node, p.depth);
      PendingPart& left = stack[top++];
      left.node = c0;
      left.first = p.first;
      left.count = k;
      left.depth = p.depth + 1;
      left.total = sum;
      left.code = p.code;
      if (p.depth < 64) p.code |= uint64_t(1) << p.depth;
      p.node = c0 + 1;
      p.first += k;
      p.count -= k;
      p.total -= sum;
      p.depth += 1;
    }
    leaf(p.node, p.first, p.depth, p.code);
  }
  return kSplitDone;
}

}  // namespace

bool BuildCodeTree(const CodeEntry* srt, int n, uint64_t total, CodeNode* tree, int& nextFree, CodeWord* words,
                   int& maxDepth, bool* noMemory) {
  maxDepth = 0;
  if (noMemory) *noMemory = false;
  if (n <= 0) return false;
  tree[0] = CodeNode{0, 0, 0};
  nextFree = 1;
  const SplitResult r = splitTable(
      srt, n, total, words ? 64 : INT_MAX,
      [&](int node, int) {
        const int c0 = nextFree;
        nextFree += 2;
        tree[node].child0 = c0;
        tree[node].child1 = c0 + 1;
        tree[c0] = CodeNode{0, 0, 0};
        tree[c0 + 1] = CodeNode{0, 0, 0};
        return c0;
      },
      [&](int node, int entry, int depth, uint64_t code) {
        const CodeEntry& e = srt[entry];
        tree[node].symbol = e.symbol;
        if (depth > maxDepth) maxDepth = depth;
        if (words) words[e.symbol] = CodeWord{code, depth};
      });
  if (noMemory) *noMemory = r == kSplitNoMemory;
  return r == kSplitDone;
}

namespace {

// A table still to be filled: the tree below `node`, `width` bits wide, at `start`; `level`
// 1 is the primary table.
struct TableRegion {
  int node;
  int width;
  int level;
  uint64_t start;
};

struct TableVisit {
  int node;
  int depth;
  uint32_t code;
};

}  // namespace

namespace {

inline uint32_t leafEntry(int node, int32_t value, int length, int32_t* values) {
  values[node] = value;
  if (value >= -(1 << 23) && value < (1 << 23)) {
    return (static_cast<uint32_t>(value) << kDecodeIndexShift) | static_cast<uint32_t>(length);
  }
  return (static_cast<uint32_t>(node) << kDecodeIndexShift) | kDecodeFarValue | static_cast<uint32_t>(length);
}

inline uint32_t linkEntry(uint64_t start, int width) {
  return (static_cast<uint32_t>(start) << kDecodeIndexShift) | kDecodeLink | static_cast<uint32_t>(width);
}

}  // namespace

bool PlanDecodeTable(const CodeNode* tree, int nodes, int maxDepth, int primaryLimit, int subtableLimit,
                     uint64_t entryCap, int* heights, DecodeTableLayout& layout) {
  if (nodes <= 0 || static_cast<uint64_t>(nodes) > kDecodeMaxIndex) return false;
  // Children always come after their parent in the node array: one backward sweep gives
  // every height.
  for (int k = nodes - 1; k >= 0; --k) {
    const CodeNode& node = tree[k];
    if (node.child0 == 0) {
      heights[k] = 0;
    } else {
      const int a = heights[node.child0], b = heights[node.child1];
      heights[k] = 1 + (a > b ? a : b);
    }
  }
  if (entryCap > kDecodeMaxIndex + 1) entryCap = kDecodeMaxIndex + 1;
  const int primary = maxDepth < primaryLimit ? maxDepth : primaryLimit;
  layout.primaryBits = primary;
  std::vector<TableVisit> stack;
  for (int sub = subtableLimit; sub >= 1; sub = sub > 8 ? sub - 4 : sub - 2 > 0 ? sub - 2 : sub - 1) {
    uint64_t total = uint64_t(1) << primary;
    stack.clear();
    stack.push_back(TableVisit{0, 0, static_cast<uint32_t>(primary)});  // code holds the width here
    while (!stack.empty() && total <= entryCap) {
      const TableVisit v = stack.back();
      stack.pop_back();
      const CodeNode& node = tree[v.node];
      if (node.child0 == 0) continue;
      int width = static_cast<int>(v.code);
      int depth = v.depth;
      if (depth == width) {
        width = heights[v.node] < sub ? heights[v.node] : sub;
        total += uint64_t(1) << width;
        depth = 0;
      }
      stack.push_back(TableVisit{node.child0, depth + 1, static_cast<uint32_t>(width)});
      stack.push_back(TableVisit{node.child1, depth + 1, static_cast<uint32_t>(width)});
    }
    if (total <= entryCap) {
      layout.subtableBits = sub;
      layout.entries = total;
      return true;
    }
  }
  return false;
}

void BuildDecodeTable(const CodeNode* tree, const int* heights, int offset, const DecodeTableLayout& layout,
                      uint32_t* table, int32_t* values) {
  std::vector<TableRegion> regions;
  std::vector<TableVisit> stack;
  regions.push_back(TableRegion{0, layout.primaryBits, 1, 0});
  uint64_t nextFree = uint64_t(1) << layout.primaryBits;
  while (!regions.empty()) {
    const TableRegion r = regions.back();
    regions.pop_back();
    const uint32_t size = uint32_t(1) << r.width;
    // Leaves of the first two levels count the whole word (the second level's table starts
    // after the primary bits); deeper ones count from their own table's start.
    const int lengthBase = r.level == 2 ? layout.primaryBits : 0;
    uint32_t* t = table + r.start;
    stack.clear();
    stack.push_back(TableVisit{r.node, 0, 0});
    while (!stack.empty()) {
      const TableVisit v = stack.back();
      stack.pop_back();
      const CodeNode& node = tree[v.node];
      if (node.child0 == 0) {
        const int32_t value = static_cast<int32_t>(static_cast<uint32_t>(node.symbol) + static_cast<uint32_t>(offset));
        const uint32_t e = leafEntry(v.node, value, lengthBase + v.depth, values);
        // Every index whose low `depth` bits equal the word leads here.
        for (uint32_t i = v.code; i < size; i += uint32_t(1) << v.depth) t[i] = e;
        continue;
      }
      if (v.depth == r.width) {
        const int h = heights[v.node];
        const int width = h < layout.subtableBits ? h : layout.subtableBits;
        t[v.code] = linkEntry(nextFree, width);
        regions.push_back(TableRegion{v.node, width, r.level + 1, nextFree});
        nextFree += uint64_t(1) << width;
        continue;
      }
      stack.push_back(TableVisit{node.child0, v.depth + 1, v.code});
      stack.push_back(TableVisit{node.child1, v.depth + 1, v.code | (uint32_t(1) << v.depth)});
    }
  }
}

namespace {

// Completes one table of 2^width entries in which every leaf has been written only at the
// index equal to its word (its bits past the word zero) and every other entry has length
// 0. An index j in [2^h, 2^(h+1)) that no word equals belongs to the same leaf as
// j - 2^h: the leaf's word is shorter than h + 1 bits (a word of h + 1 bits or more that
// matches j's low bits would equal j), so it matches j - 2^h too. Going up in h, every
// source is final before it is copied.
void spreadLeaves(uint8_t* __restrict lengths, int32_t* __restrict values, int width) {
  for (int h = 0; h < width; ++h) {
    const uint32_t half = uint32_t(1) << h;
    // The copied half [0, half) and the completed half [half, 2 half) do not overlap.
    uint8_t* __restrict dl = lengths + half;
    int32_t* __restrict dv = values + half;
    uint32_t j = 0;
#if defined(__SSE2__)
    // 16 entries at a time: a zero length takes the copied length (OR into zero) and
    // the copied value (blend by the widened zero mask).
    const __m128i zero = _mm_setzero_si128();
    for (; j + 16 <= half; j += 16) {
      const __m128i own = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dl + j));
      const __m128i empty = _mm_cmpeq_epi8(own, zero);
      const __m128i from = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lengths + j));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dl + j), _mm_or_si128(own, _mm_and_si128(empty, from)));
      const __m128i e16lo = _mm_unpacklo_epi8(empty, empty);
      const __m128i e16hi = _mm_unpackhi_epi8(empty, empty);
      const __m128i masks[4] = {_mm_unpacklo_epi16(e16lo, e16lo), _mm_unpackhi_epi16(e16lo, e16lo),
                                _mm_unpacklo_epi16(e16hi, e16hi), _mm_unpackhi_epi16(e16hi, e16hi)};
      for (int q = 0; q < 4; ++q) {
        __m128i* d = reinterpret_cast<__m128i*>(dv + j + 4 * q);
        const __m128i v = _mm_loadu_si128(d);
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + j + 4 * q));
        _mm_storeu_si128(d, _mm_or_si128(_mm_andnot_si128(masks[q], v), _mm_and_si128(masks[q], c)));
      }
    }
#endif
    for (; j < half; ++j) {
      const bool own = dl[j] != 0;
      dv[j] = own ? dv[j] : values[j];
      dl[j] = own ? dl[j] : lengths[j];
    }
  }
}

}  // namespace

int BuildTwoLevelDecodeTable(const CodeEntry* srt, int n, uint64_t total, int offset, int primaryLimit,
                             int subtableLimit, uint64_t entryCap, uint8_t*& lengths, int32_t*& values,
                             DecodeTableLayout& layout) {
  if (n <= 0 || static_cast<uint64_t>(n) > kDecodeMaxIndex || primaryLimit < 0 || primaryLimit > 24) return -1;
  uint32_t* codes = nullptr;  // word of each entry's leaf
  uint8_t* depths = nullptr;  // its length
  uint8_t* slotWidth = nullptr;  // per slot of a primaryLimit-wide table: its subtable's width
  uint32_t* linked = nullptr;    // the slots with a subtable, in the order first met
  struct Release {
    uint32_t*& codes;
    uint8_t*& depths;
    uint8_t*& slotWidth;
    uint32_t*& linked;
    ~Release() {
      releaseArray(codes);
      releaseArray(depths);
      releaseArray(slotWidth);
      releaseArray(linked);
    }
  } release{codes, depths, slotWidth, linked};
  const uint32_t limitMask = (uint32_t(1) << primaryLimit) - 1;
  if (!newArray(codes, static_cast<uint64_t>(n)) || !newArray(depths, static_cast<uint64_t>(n)) ||
      !newZeroedArray(slotWidth, uint64_t(limitMask) + 1) || !newArray(linked, static_cast<uint64_t>(n))) {
    return -1;
  }
  // Subtables are only needed when some word is longer than primaryLimit, and then the
  // primary table is primaryLimit wide: the slots are known while splitting.
  int maxDepth = 0;
  uint32_t linkCount = 0;
  const SplitResult r = splitTable(
      srt, n, total, primaryLimit + subtableLimit, [](int, int) { return 0; },
      [&](int, int entry, int depth, uint64_t code) {
        codes[entry] = static_cast<uint32_t>(code);
        depths[entry] = static_cast<uint8_t>(depth);
        if (depth > maxDepth) maxDepth = depth;
        if (depth > primaryLimit) {
          const uint32_t slot = static_cast<uint32_t>(code) & limitMask;
          const uint8_t extra = static_cast<uint8_t>(depth - primaryLimit);
          const uint8_t w = slotWidth[slot];
          if (w == 0) linked[linkCount++] = slot;
          if (extra > w) slotWidth[slot] = extra;
        }
      });
  if (r == kSplitTooDeep) return 0;
  if (r != kSplitDone) return -1;

  const int primary = maxDepth < primaryLimit ? maxDepth : primaryLimit;
  const uint32_t slots = uint32_t(1) << primary;
  const uint32_t slotMask = slots - 1;
  uint64_t entries = slots;
  for (uint32_t k = 0; k < linkCount; ++k) entries += uint64_t(1) << slotWidth[linked[k]];
  if (entries > entryCap || entries > kDecodeMaxIndex + 1) return 0;
  if (!newArray(lengths, entries) || !newArray(values, entries)) return -1;
  // Local copies: stores through the byte pointer could otherwise alias the caller's
  // pointers and force a reload of both on every store.
  uint8_t* const lens = lengths;
  int32_t* const vals = values;
  std::memset(lens, 0, static_cast<size_t>(entries));
  uint64_t next = slots;
  for (uint32_t k = 0; k < linkCount; ++k) {
    const uint32_t s = linked[k];
    lens[s] = static_cast<uint8_t>(kSplitLink | slotWidth[s]);
    vals[s] = static_cast<int32_t>(next);
    next += uint64_t(1) << slotWidth[s];
  }
  // Each leaf once, at its word; spreadLeaves fills in the rest. Leaves of a subtable hold
  // the whole word length as well.
  const uint32_t uoffset = static_cast<uint32_t>(offset);
  for (int k = 0; k < n; ++k) {
    const int d = depths[k];
    const uint32_t code = codes[k];
    const uint32_t at = d <= primary ? code : static_cast<uint32_t>(vals[code & slotMask]) + (code >> primary);
    lens[at] = static_cast<uint8_t>(d);
    vals[at] = static_cast<int32_t>(static_cast<uint32_t>(srt[k].symbol) + uoffset);
  }
  spreadLeaves(lens, vals, primary);
  for (uint32_t k = 0; k < linkCount; ++k) {
    const uint32_t s = linked[k];
    spreadLeaves(lens + vals[s], vals + vals[s], slotWidth[s]);
  }
  layout.primaryBits = primary;
  layout.subtableBits = subtableLimit;
  layout.longestWord = maxDepth;
  layout.entries = entries;
  return 1;
}

}  // namespace OSTUtils
