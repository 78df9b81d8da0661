#include "loader/CHostSource.h"

#include <cstring>

HostByteSource::~HostByteSource() {
  if (release_) release_(user_);
}

bool HostByteSource::readFromHost(int64_t offset, unsigned char* out, int64_t bytes) {
  int64_t got = 0;
  while (got < bytes) {
    const long long n = read_(user_, offset + got, out + got, bytes - got);
    if (n <= 0 || n > bytes - got) return false;
    got += n;
  }
  return true;
}

bool HostByteSource::readAt(int64_t offset, void* out, int64_t bytes) {
  if (offset < 0 || bytes < 0 || offset > bytes_ || bytes > bytes_ - offset) return false;
  if (bytes == 0) return true;
  unsigned char* o = static_cast<unsigned char*>(out);
  if (!read_) {
    if (!data_) return false;
    std::memcpy(o, data_ + offset, static_cast<size_t>(bytes));
    return true;
  }
  std::lock_guard<std::mutex> lock(lock_);
  if (offset >= windowStart_ && offset + bytes <= windowStart_ + windowBytes_) {
    std::memcpy(o, window_.data() + (offset - windowStart_), static_cast<size_t>(bytes));
    return true;
  }
  if (bytes * 8 > kWindowBytes) return readFromHost(offset, o, bytes);
  try {
    window_.resize(static_cast<size_t>(kWindowBytes));
  } catch (...) {
    return readFromHost(offset, o, bytes);
  }
  const int64_t fill = bytes_ - offset < kWindowBytes ? bytes_ - offset : kWindowBytes;
  windowBytes_ = 0;
  if (!readFromHost(offset, window_.data(), fill)) return false;
  windowStart_ = offset;
  windowBytes_ = fill;
  std::memcpy(o, window_.data(), static_cast<size_t>(bytes));
  return true;
}
