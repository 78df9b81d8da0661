// One zlib stream inflated piece by piece, for outputs too large to hold at once (the packed
// colour record of a large grid inflates to 4 bytes per cell), and the zlib inflate of the
// whole-buffer InflateBlock (compress/ZipBlock.h), so both reach one verdict: the stream
// must end within the capacity, output past its end reads as 0, and a failure reports
// "[ERROR] Decompressing Zip (%d)\n" with the zlib code a single inflate call over the
// whole buffers would end with: Z_DATA_ERROR (-3) for damaged data, Z_OK (0) for a stream
// that is cut short or does not end within the capacity, Z_BUF_ERROR (-5) when not a byte
// could be inflated. Lengths are not limited to zlib's 32-bit counts.
#pragma once

#include <cstdint>
#include <functional>

namespace OSTUtils {

class InflateStream {
 public:
  // Gives `count` bytes of the compressed stream from `offset`, or null when they cannot be read.
  typedef std::function<const unsigned char*(int64_t offset, int64_t count)> Source;

  InflateStream();
  ~InflateStream();
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  // A stream of compressedLength bytes (from `source`) that inflates to at most `capacity`.
  bool open(Source source, int64_t compressedLength, int64_t capacity);

  // The next `count` output bytes into `out`. False (reported) when the stream turns out
  // damaged, ends wrongly, or would run past the capacity; the stream is then done.
  bool read(void* out, int64_t count);

  // The rest of the stream into `out`, which has room for the rest of the capacity; *made
  // gets the bytes written. Bytes past the stream's end are not written. False (reported)
  // as for read(); the stream is done either way.
  bool readRest(void* out, int64_t* made);

  int64_t produced() const { return position_; }

 private:
  bool fail(int code);
  int step(unsigned char* to, int64_t room, int64_t* made);
  bool inflateUpTo(unsigned char* to, int64_t count, int64_t* made);
  bool finish();

  struct State;
  State* state_;
  Source source_;
  int64_t compressedLength_ = 0, capacity_ = 0;
  int64_t fed_ = 0;       // compressed bytes handed to zlib
  int64_t position_ = 0;  // output bytes delivered
  bool ended_ = false;    // the stream reached its end
  bool failed_ = false;
  bool progress_ = false;  // zlib consumed or produced something
};

}  // namespace OSTUtils
