#include "compress/ZipBlock.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "compress/InflateStream.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

const int64_t kMaxZlibCount = std::numeric_limits<int32_t>::max();

bool fitsZlibCount(int64_t n) { return n >= 0 && n <= kMaxZlibCount; }

}  // namespace

bool InflateBlock(const void* compressed, int64_t compressedLength, void* output, int64_t outputCapacity,
                  int64_t* produced) {
  int64_t made = 0;
  if (!produced) produced = &made;
  *produced = 0;
  if (compressedLength < 0 || outputCapacity < 0 || (!compressed && compressedLength > 0) ||
      (!output && outputCapacity > 0)) {
    ZUtils::logReport("[ERROR] Decompressing Zip (%d)\n", Z_BUF_ERROR);
    return false;
  }
  // The stream inflater, so that whole blocks and streamed ones reach one verdict with one code.
  const unsigned char* in = static_cast<const unsigned char*>(compressed);
  InflateStream stream;
  return stream.open([in](int64_t offset, int64_t) { return in + offset; }, compressedLength, outputCapacity) &&
         stream.readRest(output, produced);
}

namespace {

// compress2 for inputs beyond zlib's 32-bit counts: the same deflate stream fed and drained
// in pieces of at most 1 GiB. Appends to `out` from `start`; false with `out` cut back.
bool deflatePieces(const unsigned char* data, int64_t length, OstArray<char, int64_t>& out, int64_t start, int level) {
  const int64_t piece = int64_t(1) << 30;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  int rc = deflateInit(&zs, level);
  if (rc != Z_OK) {
    ZUtils::logReport("[ERROR] Compressing Zip (%d)\n", rc);
    return false;
  }
  // deflateBound of the whole input: stored blocks cost 5 bytes per 16 KiB at worst.
  const int64_t bound = length + length / 16384 * 5 + 64 + 11;
  if (!out.SetSize(start + bound)) {
    deflateEnd(&zs);
    ZUtils::logReport("[ERROR] Compressing Zip: cannot allocate %lld bytes\n", static_cast<long long>(bound));
    return false;
  }
  int64_t fed = 0, made = 0;
  do {
    if (zs.avail_in == 0 && fed < length) {
      zs.next_in = const_cast<Bytef*>(data + fed);
      zs.avail_in = static_cast<uInt>(std::min(piece, length - fed));
      fed += zs.avail_in;
    }
    if (zs.avail_out == 0) {
      zs.next_out = reinterpret_cast<Bytef*>(out.data + start + made);
      zs.avail_out = static_cast<uInt>(std::min(piece, bound - made));
      made += zs.avail_out;
    }
    rc = deflate(&zs, fed == length && zs.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
  } while (rc == Z_OK || (rc == Z_BUF_ERROR && zs.avail_out == 0 && made < bound));
  const int64_t written = made - zs.avail_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) {
    out.SetSize(start);
    ZUtils::logReport("[ERROR] Compressing Zip (%d)\n", rc);
    return false;
  }
  out.SetSize(start + written);
  return true;
}

}  // namespace

bool DeflateBlock(const void* data, int64_t length, OstArray<char, int64_t>& out, int level) {
  if (length > kMaxZlibCount && data) return deflatePieces(static_cast<const unsigned char*>(data), length, out, out.size, level);
  if (!fitsZlibCount(length) || (!data && length > 0)) {
    ZUtils::logReport("[ERROR] Compressing Zip: bad input length %lld\n", static_cast<long long>(length));
    return false;
  }
  const uLong bound = compressBound(static_cast<uLong>(length));
  const int64_t start = out.size;
  if (static_cast<uint64_t>(bound) > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - start) ||
      !out.SetSize(start + static_cast<int64_t>(bound))) {
    ZUtils::logReport("[ERROR] Compressing Zip: cannot allocate %lld bytes\n", static_cast<long long>(bound));
    return false;
  }
  uLongf written = bound;
  const int rc = compress2(reinterpret_cast<Bytef*>(out.data + start), &written,
                           static_cast<const Bytef*>(data), static_cast<uLong>(length), level);
  if (rc != Z_OK) {
    out.SetSize(start);
    ZUtils::logReport("[ERROR] Compressing Zip (%d)\n", rc);
    return false;
  }
  out.SetSize(start + static_cast<int64_t>(written));
  return true;
}

}  // namespace OSTUtils
