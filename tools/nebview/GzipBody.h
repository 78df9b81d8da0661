// Binary answers are kept and sent gzip-compressed (zlib's fastest level): volumes of
// smoke are mostly empty and shrink about tenfold, so more frames fit the cache and a
// frame crosses a slow link (a port forwarded from a farm node) in a tenth of the time;
// browsers inflate them natively. A client that does not take gzip gets the answer
// inflated again.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace NebView {

// A gzip stream written piece by piece.
class GzipWriter {
 public:
  GzipWriter();
  ~GzipWriter();
  GzipWriter(const GzipWriter&) = delete;
  GzipWriter& operator=(const GzipWriter&) = delete;

  // False once zlib has failed (out of memory).
  bool write(const char* data, size_t size);
  // The whole stream; false (and `out` empty) when anything failed.
  bool finish(std::string& out);

 private:
  bool deflateSome(const char* data, size_t size, bool last);

  struct Stream;
  std::unique_ptr<Stream> z_;
  std::string out_;
  bool ok_ = false;
};

// False when the text is not a whole gzip stream (or memory runs out); `out` is then empty.
bool gzipInflate(const std::string& in, std::string& out);

// Whether an Accept-Encoding header value takes gzip (a "gzip" entry without q=0).
bool acceptsGzip(const std::string& acceptEncoding);

}  // namespace NebView
