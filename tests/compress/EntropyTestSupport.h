// Test helpers for the entropy coder: an LSB-first bit writer for hand-made streams and a
// plain reference decoder (recursive tree build, one bit per step) to compare the table
// decoder against.
#pragma once

#include <cstdint>
#include <vector>

namespace enttest {

class BitWriter {
 public:
  void put(uint64_t v, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (count_ % 8 == 0) bytes.push_back(0);
      if ((v >> i) & 1) bytes.back() |= static_cast<unsigned char>(1u << (count_ % 8));
      ++count_;
    }
  }
  std::vector<unsigned char> bytes;

 private:
  int64_t count_ = 0;
};

class RefReader {
 public:
  RefReader(const unsigned char* d, int64_t bytes) : d_(d), bits_(bytes * 8) {}
  bool bit(int& b) {
    if (pos_ >= bits_) return false;
    b = (d_[pos_ >> 3] >> (pos_ & 7)) & 1;
    ++pos_;
    return true;
  }
  bool get(int w, uint64_t& v) {
    v = 0;
    for (int i = 0; i < w; ++i) {
      int b;
      if (!bit(b)) return false;
      v |= static_cast<uint64_t>(b) << i;
    }
    return true;
  }

 private:
  const unsigned char* d_;
  int64_t bits_;
  int64_t pos_ = 0;
};

struct RefNode {
  int symbol = 0;
  int c0 = -1;
  int c1 = -1;
};

struct RefEntry {
  int symbol;
  uint64_t rate;
};

// The split as a straightforward recursion.
inline bool refBuild(std::vector<RefNode>& tree, int node, const std::vector<RefEntry>& srt, int first, int count,
                     uint64_t total) {
  if (count == 1) {
    tree[node].symbol = srt[first].symbol;
    return true;
  }
  const uint64_t half = total / 2;
  uint64_t s = 0;
  int k = 0;
  while (k < count) {
    const uint64_t r = srt[first + k].rate;
    if (s + r >= half) {
      if (s + r - half <= half - s) {
        s += r;
        ++k;
      }
      break;
    }
    s += r;
    ++k;
  }
  if (k == 0 || k == count) return false;
  const int c0 = static_cast<int>(tree.size());
  tree.push_back(RefNode());
  tree.push_back(RefNode());
  tree[node].c0 = c0;
  tree[node].c1 = c0 + 1;
  return refBuild(tree, c0, srt, first, k, s) && refBuild(tree, c0 + 1, srt, first + k, count - k, total - s);
}

// Decodes n values with runs the way the coder's documentation states. Returns false when
// the stream is invalid or runs out before n values (out holds what was produced).
inline bool refDecodeAndExpand(const unsigned char* d, int64_t bytes, int64_t n, int base, std::vector<int>& out) {
  out.assign(static_cast<size_t>(n), 0);
  RefReader r(d, bytes);
  uint64_t w, x;
  if (!r.get(8, w) || !r.get(32, x)) return false;
  std::vector<RefNode> tree;
  uint32_t offset = static_cast<uint32_t>(x);
  if (w == 0) {
    uint64_t off, rb, sb;
    if (!r.get(32, off) || !r.get(6, rb) || !r.get(6, sb)) return false;
    if (x == 0 || rb > 32 || sb > 32) return false;
    offset = static_cast<uint32_t>(off);
    std::vector<RefEntry> srt;
    uint64_t rate = 0, total = 0;
    for (uint64_t i = 0; i < x; ++i) {
      uint64_t flag, sym;
      if (!r.get(1, flag)) return false;
      if (flag) {
        uint64_t nr;
        if (!r.get(static_cast<int>(rb), nr)) return false;
        if (nr == 0 || (i > 0 && nr > rate) || nr > 0x7FFFFFFF) return false;
        rate = nr;
      } else if (i == 0) {
        return false;
      }
      if (!r.get(static_cast<int>(sb), sym)) return false;
      srt.push_back(RefEntry{static_cast<int>(static_cast<uint32_t>(sym)), rate});
      total += rate;
    }
    tree.push_back(RefNode());
    if (!refBuild(tree, 0, srt, 0, static_cast<int>(srt.size()), total)) return false;
  } else if (w > 32) {
    return false;
  }
  int64_t i = 0;
  while (i < n) {
    int32_t v;
    if (w != 0) {
      uint64_t f;
      if (!r.get(static_cast<int>(w), f)) return false;
      v = static_cast<int32_t>(static_cast<uint32_t>(f) + offset);
    } else {
      int node = 0;
      while (tree[node].c0 >= 0) {
        int b;
        if (!r.bit(b)) return false;
        node = b ? tree[node].c1 : tree[node].c0;
      }
      v = static_cast<int32_t>(static_cast<uint32_t>(tree[node].symbol) + offset);
    }
    if (v >= 0) {
      out[i++] = static_cast<int>(static_cast<uint32_t>(base) + static_cast<uint32_t>(v));
    } else {
      if (i == 0) return false;
      const int prev = out[i - 1];
      for (int64_t k = 0; k < -static_cast<int64_t>(v) && i < n; ++k) out[i++] = prev;
    }
  }
  return true;
}

}  // namespace enttest
