#include "compress/CodeTree.h"

#include <cstddef>
#include <vector>

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

}  // namespace

bool BuildCodeTree(const CodeEntry* srt, int n, uint64_t total, CodeNode* tree, int& nextFree, CodeWord* words,
                   int& maxDepth) {
  maxDepth = 0;
  if (n <= 0) return false;
  tree[0] = CodeNode{0, 0, 0};
  nextFree = 1;
  // An explicit stack instead of recursion: a hostile table may be thousands of levels deep.
  std::vector<PendingPart> stack;
  stack.push_back(PendingPart{0, 0, n, 0, total, 0});
  while (!stack.empty()) {
    PendingPart p = stack.back();
    stack.pop_back();
    while (p.count > 1) {
      const uint64_t half = p.total / 2;
      uint64_t sum = 0;
      int k = 0;
      for (; k < p.count; ++k) {
        const uint64_t rate = static_cast<uint64_t>(static_cast<uint32_t>(srt[p.first + k].rate));
        if (sum + rate >= half) {
          if ((sum + rate) - half <= half - sum) {
            sum += rate;
            ++k;
          }
          break;
        }
        sum += rate;
      }
      if (k == 0 || k >= p.count) return false;  // no usable split
      if (words && p.depth >= 64) return false;  // the word would not fit 64 bits
      const int c0 = nextFree;
      const int c1 = nextFree + 1;
      nextFree += 2;
      tree[p.node].child0 = c0;
      tree[p.node].child1 = c1;
      tree[c0] = CodeNode{0, 0, 0};
      tree[c1] = CodeNode{0, 0, 0};
      stack.push_back(PendingPart{c0, p.first, k, p.depth + 1, sum, p.code});
      if (p.depth < 64) p.code |= uint64_t(1) << p.depth;
      p.node = c1;
      p.first += k;
      p.count -= k;
      p.total -= sum;
      p.depth += 1;
    }
    const CodeEntry& e = srt[p.first];
    tree[p.node].symbol = e.symbol;
    if (p.depth > maxDepth) maxDepth = p.depth;
    if (words) words[e.symbol] = CodeWord{p.code, p.depth};
  }
  return true;
}

void BuildLookupTable(const CodeNode* tree, int offset, int bits, LutEntry* lut) {
  struct Visit {
    int node;
    int depth;
    uint32_t code;
  };
  std::vector<Visit> stack;
  stack.push_back(Visit{0, 0, 0});
  const uint32_t size = uint32_t(1) << bits;
  while (!stack.empty()) {
    const Visit v = stack.back();
    stack.pop_back();
    const CodeNode& node = tree[v.node];
    if (node.child0 == 0 || v.depth == bits) {
      LutEntry e;
      if (node.child0 == 0) {
        e.value = static_cast<int32_t>(static_cast<uint32_t>(node.symbol) + static_cast<uint32_t>(offset));
        e.length = v.depth;
      } else {
        e.value = v.node;
        e.length = -1;
      }
      // Every table index whose low `depth` bits equal the code word leads here.
      for (uint32_t i = v.code; i < size; i += uint32_t(1) << v.depth) lut[i] = e;
      continue;
    }
    stack.push_back(Visit{node.child0, v.depth + 1, v.code});
    stack.push_back(Visit{node.child1, v.depth + 1, v.code | (uint32_t(1) << v.depth)});
  }
}

}  // namespace OSTUtils
