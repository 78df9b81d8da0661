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

namespace {

// Widths tried for the subtables, widest first.
const int kSubtableWidths[] = {16, 12, 8, 6, 4, 2, 1};

// A table still to be filled: the tree below `node`, `width` bits wide, at `start`.
struct TableRegion {
  int node;
  int width;
  uint64_t start;
};

struct TableVisit {
  int node;
  int depth;
  uint32_t code;
};

}  // namespace

bool PlanDecodeTable(const CodeNode* tree, int nodes, int maxDepth, int primaryLimit, uint64_t entryCap,
                     int* heights, DecodeTableLayout& layout) {
  // Children always come after their parent in the node array, so one backward sweep
  // gives every height.
  for (int k = nodes - 1; k >= 0; --k) {
    const CodeNode& node = tree[k];
    if (node.child0 == 0) {
      heights[k] = 0;
    } else {
      const int a = heights[node.child0], b = heights[node.child1];
      heights[k] = 1 + (a > b ? a : b);
    }
  }
  const int primary = maxDepth < primaryLimit ? maxDepth : primaryLimit;
  std::vector<TableVisit> stack;
  for (const int sub : kSubtableWidths) {
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
      layout.primaryBits = primary;
      layout.subtableBits = sub;
      layout.entries = total;
      return true;
    }
  }
  return false;
}

void BuildDecodeTable(const CodeNode* tree, const int* heights, int offset, const DecodeTableLayout& layout,
                      uint64_t* table) {
  std::vector<TableRegion> regions;
  std::vector<TableVisit> stack;
  regions.push_back(TableRegion{0, layout.primaryBits, 0});
  uint64_t nextFree = uint64_t(1) << layout.primaryBits;
  while (!regions.empty()) {
    const TableRegion r = regions.back();
    regions.pop_back();
    const uint32_t size = uint32_t(1) << r.width;
    uint64_t* t = table + r.start;
    stack.clear();
    stack.push_back(TableVisit{r.node, 0, 0});
    while (!stack.empty()) {
      const TableVisit v = stack.back();
      stack.pop_back();
      const CodeNode& node = tree[v.node];
      if (node.child0 == 0) {
        const uint64_t e =
            decodeLeaf(static_cast<int32_t>(static_cast<uint32_t>(node.symbol) + static_cast<uint32_t>(offset)), v.depth);
        // Every index whose low `depth` bits equal the word leads here.
        for (uint32_t i = v.code; i < size; i += uint32_t(1) << v.depth) t[i] = e;
        continue;
      }
      if (v.depth == r.width) {
        const int width = heights[v.node] < layout.subtableBits ? heights[v.node] : layout.subtableBits;
        t[v.code] = kDecodeLink | nextFree | (static_cast<uint64_t>(r.width) << 32) |
                    (static_cast<uint64_t>(width) << 40);
        regions.push_back(TableRegion{v.node, width, nextFree});
        nextFree += uint64_t(1) << width;
        continue;
      }
      stack.push_back(TableVisit{node.child0, v.depth + 1, v.code});
      stack.push_back(TableVisit{node.child1, v.depth + 1, v.code | (uint32_t(1) << v.depth)});
    }
  }
}

}  // namespace OSTUtils
