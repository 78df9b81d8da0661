// The encoding direction of the entropy coder: run folding and Encode.
#include <algorithm>
#include <climits>

#include "compress/EntropyCoder.h"
#include "ostutils/Allocation.h"
#include "zutils/Report.h"

namespace OSTUtils {

int64_t FoldRuns(int* values, int64_t length, int threshold) {
  if (length <= 0) return 0;
  if (threshold < 1) return length;
  int64_t written = 1;
  int64_t repeats = 0;
  int64_t runStart = 0;
  for (int64_t i = 1; i < length; ++i) {
    const int b = values[i];
    if (repeats < threshold) {
      if (b == values[written - 1]) {
        if (++repeats == 1) runStart = written;
        values[written++] = b;
        if (repeats == threshold) {
          values[runStart] = -threshold;
          written = runStart + 1;
        }
      } else {
        repeats = 0;
        values[written++] = b;
      }
    } else if (b == values[written - 2] && values[written - 1] != INT_MIN) {
      --values[written - 1];
    } else {
      // A different value, or a run entry that cannot grow further: the next repeats start
      // over from this value.
      repeats = 0;
      values[written++] = b;
    }
  }
  return written;
}

namespace {

int significantBits(uint64_t v) {
  int bits = 0;
  while (v) {
    ++bits;
    v >>= 1;
  }
  return bits;
}

// Collects bits into 32-bit words and appends each complete word, lowest byte first.
class WordWriter {
 public:
  WordWriter(OstArray<char, int64_t>& out, int64_t limit) : out_(out), limit_(limit) {}

  // Appends the low `bits` bits of v (bits <= 64), first bit first.
  void put(uint64_t v, int bits) {
    while (bits > 0) {
      const int take = std::min(bits, 32 - count_);
      const uint64_t part = take >= 64 ? v : (v & ((uint64_t(1) << take) - 1));
      buffer_ |= static_cast<uint32_t>(part << count_);
      count_ += take;
      v = take >= 64 ? 0 : (v >> take);
      bits -= take;
      if (count_ == 32) flushWord();
    }
  }
  void finish() {
    if (count_ > 0) flushWord();
  }
  void restart(int64_t size) {
    buffer_ = 0;
    count_ = 0;
    limit_ = INT64_MAX;
    limitReached_ = false;
    out_.SetSize(size);
  }
  bool limitReached() const { return limitReached_; }
  bool failed() const { return failed_; }

 private:
  void flushWord() {
    const int64_t at = out_.size;
    if (failed_ || !out_.SetSize(at + 4)) {
      failed_ = true;
    } else {
      unsigned char* p = reinterpret_cast<unsigned char*>(out_.data + at);
      p[0] = static_cast<unsigned char>(buffer_);
      p[1] = static_cast<unsigned char>(buffer_ >> 8);
      p[2] = static_cast<unsigned char>(buffer_ >> 16);
      p[3] = static_cast<unsigned char>(buffer_ >> 24);
      if (out_.size >= limit_) limitReached_ = true;
    }
    buffer_ = 0;
    count_ = 0;
  }

  OstArray<char, int64_t>& out_;
  int64_t limit_;
  uint32_t buffer_ = 0;
  int count_ = 0;
  bool limitReached_ = false;
  bool failed_ = false;
};

struct EncodeScratch {
  uint32_t* rates = nullptr;
  ~EncodeScratch() { releaseArray(rates); }
};

void writeFixedWidth(WordWriter& writer, const int* values, int64_t count, int t, int64_t lo) {
  writer.put(static_cast<uint64_t>(t), 8);
  writer.put(static_cast<uint64_t>(static_cast<uint32_t>(lo)), 32);
  for (int64_t i = 0; i < count; ++i) writer.put(static_cast<uint64_t>(static_cast<int64_t>(values[i]) - lo), t);
}

}  // namespace

int64_t Encode(EntropyCoder& st, const int* values, int64_t count, OstArray<char, int64_t>& out) {
  st.release();
  const int64_t start = out.size;
  if (count < 0 || (count > 0 && !values)) return 0;

  int64_t lo = 0;
  int64_t hi = 0;
  if (count > 0) {
    lo = hi = values[0];
    for (int64_t i = 1; i < count; ++i) {
      const int64_t v = values[i];
      lo = v < lo ? v : lo;
      hi = v > hi ? v : hi;
    }
  }
  const uint64_t range = static_cast<uint64_t>(hi - lo) + 1;
  // All 2^32 values spread over the full range still fit 32-bit fields.
  const int t = std::min(significantBits(range), 32);
  const int64_t rawBytes = static_cast<int64_t>((static_cast<unsigned __int128>(count) * t) / 8);
  st.outputLimit = start + 8 + rawBytes;
  // Room for the longest output up front (the table form stops at the limit, one word
  // past it at most; the fixed-width form is 5 bytes of header and rawBytes + 1 of values,
  // padded to a word), so the words are appended without regrowth.
  if (out.capacity < st.outputLimit + 8) {
    if (!out.SetSize(st.outputLimit + 8, nullptr, true)) {
      ZUtils::logReport("Encode output buffer failed!\n");
      return 0;
    }
    out.SetSize(start);
  }
  st.output = &out;
  WordWriter writer(out, st.outputLimit);

  bool fixedWidth = count == 0 || count > INT_MAX;  // rates are 32-bit counters
  // Symbols (value - lo) present, ascending, when the range is too wide for per-value
  // counters: the table is then counted from a sorted copy. Both ways give the same table.
  uint32_t* present = nullptr;
  int64_t wordCount = static_cast<int64_t>(range);
  if (!fixedWidth) {
    int n = 0;
    const bool dense = range <= std::max<uint64_t>(uint64_t(1) << 16, 4 * static_cast<uint64_t>(count));
    if (dense) {
      EncodeScratch scratch;
      if (!newZeroedArray(scratch.rates, range)) {
        ZUtils::logReport("Encode newZeroedArray rates failed!\n");
        return 0;
      }
      for (int64_t i = 0; i < count; ++i) ++scratch.rates[static_cast<int64_t>(values[i]) - lo];
      for (uint64_t k = 0; k < range; ++k) n += scratch.rates[k] != 0;
      if (!newArray(st.srt, static_cast<uint64_t>(n))) {
        ZUtils::logReport("Encode newArray srt failed!\n");
        return 0;
      }
      int at = 0;
      for (uint64_t k = 0; k < range; ++k) {
        if (scratch.rates[k]) st.srt[at++] = CodeEntry{static_cast<int>(k), static_cast<int>(scratch.rates[k])};
      }
    } else {
      if (!newArray(present, static_cast<uint64_t>(count))) {
        ZUtils::logReport("Encode newZeroedArray rates failed!\n");
        return 0;
      }
      for (int64_t i = 0; i < count; ++i) present[i] = static_cast<uint32_t>(static_cast<int64_t>(values[i]) - lo);
      std::sort(present, present + count);
      for (int64_t i = 0; i < count; ++i) n += i == 0 || present[i] != present[i - 1];
      if (!newArray(st.srt, static_cast<uint64_t>(n))) {
        ZUtils::logReport("Encode newArray srt failed!\n");
        releaseArray(present);
        return 0;
      }
      // srt symbols are positions in `present` (compacted below); the real symbol is
      // written to the table from there.
      int at = -1;
      for (int64_t i = 0; i < count; ++i) {
        if (i == 0 || present[i] != present[i - 1]) {
          ++at;
          present[at] = present[i];
          st.srt[at] = CodeEntry{at, 0};
        }
        ++st.srt[at].rate;
      }
      wordCount = n;
    }
    st.count = n;
    // Highest rate first; equal rates by ascending symbol so the output is reproducible.
    std::sort(st.srt, st.srt + n, [](const CodeEntry& a, const CodeEntry& b) {
      return a.rate != b.rate ? a.rate > b.rate : a.symbol < b.symbol;
    });
    if (!newZeroedArray(st.val2code, static_cast<uint64_t>(wordCount))) {
      ZUtils::logReport("Encode newZeroedArray val2code failed!\n");
      st.release();
      releaseArray(present);
      return 0;
    }
    if (!newArray(st.tree, 2 * static_cast<uint64_t>(n))) {
      ZUtils::logReport("Encode newArray tree failed!\n");
      st.release();
      releaseArray(present);
      return 0;
    }
    // Code word of a value: by symbol, or by its position among the present symbols.
    auto wordOf = [&](int v) -> const CodeWord& {
      const uint32_t sym = static_cast<uint32_t>(static_cast<int64_t>(v) - lo);
      if (!present) return st.val2code[sym];
      return st.val2code[std::lower_bound(present, present + n, sym) - present];
    };
    int maxDepth = 0;
    if (!BuildCodeTree(st.srt, n, static_cast<uint64_t>(count), st.tree, st.nextFree, st.val2code, maxDepth)) {
      fixedWidth = true;  // words beyond 64 bits: store the values as they are
    } else {
      uint64_t codedBits = 0;
      for (int64_t i = 0; i < count; ++i) codedBits += wordOf(values[i]).length;
      fixedWidth = rawBytes < static_cast<int64_t>(n / 4) + static_cast<int64_t>(codedBits / 8) + 10;
    }
    if (!fixedWidth) {
      writer.put(0, 8);
      writer.put(static_cast<uint32_t>(n), 32);
      writer.put(static_cast<uint32_t>(lo), 32);
      const int rateBits = significantBits(static_cast<uint32_t>(st.srt[0].rate));
      writer.put(static_cast<uint64_t>(rateBits), 6);
      writer.put(static_cast<uint64_t>(t), 6);
      int previous = 0;
      for (int k = 0; k < n && !writer.limitReached(); ++k) {
        if (k > 0 && st.srt[k].rate == previous) {
          writer.put(0, 1);
        } else {
          writer.put(1, 1);
          writer.put(static_cast<uint32_t>(st.srt[k].rate), rateBits);
        }
        previous = st.srt[k].rate;
        const int symbol = st.srt[k].symbol;
        writer.put(present ? present[symbol] : static_cast<uint32_t>(symbol), t);
      }
      for (int64_t i = 0; i < count && !writer.limitReached(); ++i) {
        const CodeWord& w = wordOf(values[i]);
        writer.put(w.code, w.length);
      }
      // The coded form reached the size of the fixed-width form: store that instead.
      fixedWidth = writer.limitReached();
    }
  }
  releaseArray(present);
  if (fixedWidth) {
    writer.restart(start);
    st.count = t;
    writeFixedWidth(writer, values, count, t, lo);
  }
  writer.finish();
  st.release();
  st.output = nullptr;
  if (writer.failed()) {
    ZUtils::logReport("Encode output buffer failed!\n");
    return 0;
  }
  return out.size - start;
}

}  // namespace OSTUtils
