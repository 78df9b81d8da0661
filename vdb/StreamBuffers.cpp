#include "vdb/StreamBuffers.h"

#include <cstring>

#include "zutils/platform/File.h"

namespace NebVdb {

namespace {

constexpr size_t kFileBufferBytes = size_t(4) << 20;

}  // namespace

FileStreamBuf::FileStreamBuf(FILE* file) : file_(file), buffer_(kFileBufferBytes) {
  std::setvbuf(file_, nullptr, _IONBF, 0);  // this buffer is the only one
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

bool FileStreamBuf::flushBuffer() {
  const size_t n = static_cast<size_t>(pptr() - pbase());
  if (n > 0 && !failed && std::fwrite(pbase(), 1, n, file_) != n) failed = true;
  at_ += static_cast<int64_t>(n);
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return !failed;
}

FileStreamBuf::int_type FileStreamBuf::overflow(int_type c) {
  if (!flushBuffer()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize FileStreamBuf::xsputn(const char* s, std::streamsize n) {
  // A write as large as the buffer goes to the file as it is, after what is buffered.
  if (size_t(n) >= buffer_.size()) {
    if (!flushBuffer()) return 0;
    if (std::fwrite(s, 1, size_t(n), file_) != size_t(n)) {
      failed = true;
      return 0;
    }
    at_ += int64_t(n);
    return n;
  }
  std::streamsize done = 0;
  while (done < n) {
    if (pptr() == epptr() && !flushBuffer()) break;
    const std::streamsize room = epptr() - pptr();
    const std::streamsize part = n - done < room ? n - done : room;
    std::memcpy(pptr(), s + done, static_cast<size_t>(part));
    pbump(static_cast<int>(part));  // at most the buffer's 4 MiB
    done += part;
  }
  return done;
}

int FileStreamBuf::sync() { return flushBuffer() ? 0 : -1; }

FileStreamBuf::pos_type FileStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) {
  if (failed) return pos_type(off_type(-1));
  if (dir == std::ios_base::cur && off == 0) return pos_type(at_ + (pptr() - pbase()));
  if (!flushBuffer()) return pos_type(off_type(-1));
  const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  if (!ZUtils::platform::seekFile(file_, off, whence) || (at_ = ZUtils::platform::tellFile(file_)) < 0) {
    failed = true;
    return pos_type(off_type(-1));
  }
  return pos_type(at_);
}

FileStreamBuf::pos_type FileStreamBuf::seekpos(pos_type pos, std::ios_base::openmode mode) {
  return seekoff(off_type(pos), std::ios_base::beg, mode);
}

MemoryStreamBuf::int_type MemoryStreamBuf::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) bytes_.push_back(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

std::streamsize MemoryStreamBuf::xsputn(const char* s, std::streamsize n) {
  bytes_.insert(bytes_.end(), s, s + n);
  return n;
}

MemoryStreamBuf::pos_type MemoryStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) {
  if (dir == std::ios_base::cur && off == 0) return pos_type(off_type(bytes_.size()));
  return pos_type(off_type(-1));
}

}  // namespace NebVdb
