#include "tools/nebview/GzipBody.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace NebView {

namespace {

const int kGzipWindow = 15 + 16;  // a gzip header and trailer around the deflate stream
const size_t kPiece = 1 << 20;    // zlib counts in 32 bits: the input is given in pieces

}  // namespace

struct GzipWriter::Stream {
  z_stream z;
};

GzipWriter::GzipWriter() : z_(new Stream) {
  std::memset(&z_->z, 0, sizeof z_->z);
  ok_ = deflateInit2(&z_->z, 1, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

GzipWriter::~GzipWriter() {
  if (ok_) deflateEnd(&z_->z);
}

bool GzipWriter::deflateSome(const char* data, size_t size, bool last) {
  z_stream& z = z_->z;
  char buffer[65536];
  try {
    do {
      const size_t take = std::min(kPiece, size);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      z.avail_in = static_cast<uInt>(take);
      data += take;
      size -= take;
      const int flush = last && size == 0 ? Z_FINISH : Z_NO_FLUSH;
      int status;
      do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = deflate(&z, flush);
        if (status == Z_STREAM_ERROR) return false;
        out_.append(buffer, sizeof buffer - z.avail_out);
      } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    } while (size > 0);
  } catch (...) {
    return false;
  }
  return true;
}

bool GzipWriter::write(const char* data, size_t size) {
  if (ok_ && size > 0) ok_ = deflateSome(data, size, false);
  return ok_;
}

bool GzipWriter::finish(std::string& out) {
  out.clear();
  if (ok_) ok_ = deflateSome("", 0, true);
  if (ok_) out.swap(out_);
  return ok_;
}

bool gzipInflate(const std::string& in, std::string& out) {
  out.clear();
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, kGzipWindow) != Z_OK) return false;
  std::string buffer(kPiece, '\0');
  size_t at = 0;
  int status = Z_OK;
  try {
    while (status == Z_OK) {
      if (z.avail_in == 0 && at < in.size()) {
        const size_t take = std::min(kPiece, in.size() - at);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + at));
        z.avail_in = static_cast<uInt>(take);
        at += take;
      }
      z.next_out = reinterpret_cast<Bytef*>(&buffer[0]);
      z.avail_out = static_cast<uInt>(buffer.size());
      status = inflate(&z, Z_NO_FLUSH);
      out.append(buffer.data(), buffer.size() - z.avail_out);
      if (status == Z_BUF_ERROR && (z.avail_in > 0 || at < in.size())) status = Z_OK;
    }
  } catch (...) {
    status = Z_MEM_ERROR;
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) out.clear();
  return status == Z_STREAM_END;
}

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "q=0", "q=0.", "q=0.000": a weight of zero refuses the coding.
bool zeroWeight(const std::string& p) {
  if (p.size() < 3 || (p[0] != 'q' && p[0] != 'Q') || p[1] != '=' || p[2] != '0') return false;
  if (p.size() == 3) return true;
  return p[3] == '.' && p.find_first_not_of('0', 4) == std::string::npos;
}

}  // namespace

bool acceptsGzip(const std::string& header) {
  // Entries separated by ',': a coding name, then ';'-separated parameters, blanks around
  // each of them.
  size_t start = 0;
  while (start <= header.size()) {
    size_t end = header.find(',', start);
    if (end == std::string::npos) end = header.size();
    const std::string entry = header.substr(start, end - start);
    const size_t semi = entry.find(';');
    const std::string name = trimmed(entry.substr(0, semi));
    bool refused = false;
    for (size_t p = semi; p != std::string::npos;) {
      const size_t next = entry.find(';', p + 1);
      refused = refused || zeroWeight(trimmed(entry.substr(p + 1, next == std::string::npos ? std::string::npos : next - p - 1)));
      p = next;
    }
    if ((name == "gzip" || name == "*") && !refused) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace NebView
