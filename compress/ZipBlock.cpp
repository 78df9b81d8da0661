#include "compress/ZipBlock.h"

#include <zlib.h>
#ifdef NEB_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstring>
#include <limits>

#include "zutils/Report.h"

namespace OSTUtils {

namespace {

const int64_t kMaxZlibCount = std::numeric_limits<int32_t>::max();

bool fitsZlibCount(int64_t n) { return n >= 0 && n <= kMaxZlibCount; }

}  // namespace

bool InflateBlock(const void* compressed, int64_t compressedLength, void* output, int64_t outputCapacity) {
  if (!fitsZlibCount(compressedLength) || !fitsZlibCount(outputCapacity) || (!compressed && compressedLength > 0) ||
      (!output && outputCapacity > 0)) {
    ZUtils::logReport("[ERROR] Decompressing Zip (%d)\n", Z_BUF_ERROR);
    return false;
  }
#ifdef NEB_HAVE_LIBDEFLATE
  // libdeflate inflates a whole buffer in one call, several times faster than zlib. It
  // accepts exactly the complete, valid streams that zlib ends with Z_STREAM_END (same
  // bytes, same trailing-input tolerance); anything it refuses is handed to zlib below,
  // which then decides and reports with its own code.
  if (compressedLength > 0 && outputCapacity > 0) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (d) {
      size_t produced = 0;
      const libdeflate_result r = libdeflate_zlib_decompress(d, compressed, static_cast<size_t>(compressedLength), output,
                                                             static_cast<size_t>(outputCapacity), &produced);
      libdeflate_free_decompressor(d);
      if (r == LIBDEFLATE_SUCCESS) return true;
    }
  }
#endif
  // zlib refuses a null next_out even when nothing is to be written; a stream that expands
  // to nothing must still be able to end.
  unsigned char unused = 0;
  z_stream zs;
  std::memset(&zs, 0, sizeof(zs));
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(compressed));
  zs.avail_in = static_cast<uInt>(compressedLength);
  zs.next_out = output ? static_cast<Bytef*>(output) : &unused;
  zs.avail_out = static_cast<uInt>(outputCapacity);
  int rc = inflateInit(&zs);
  if (rc == Z_OK) {
    rc = inflate(&zs, Z_SYNC_FLUSH);
  }
  // inflateEnd is harmless after a failed init, and needed after every other path.
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) {
    ZUtils::logReport("[ERROR] Decompressing Zip (%d)\n", rc);
    return false;
  }
  return true;
}

bool DeflateBlock(const void* data, int64_t length, OstArray<char, int64_t>& out, int level) {
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
