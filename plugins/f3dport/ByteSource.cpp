#include "plugins/f3dport/ByteSource.h"

#include "zutils/platform/File.h"

namespace F3dPort {

void ByteSource::setSize(uint64_t size) {
  size_ = size;
  const uint64_t extra = uint64_t(1) << 20;
  allowance_ = size > (UINT64_MAX - extra) / 4 ? UINT64_MAX : size * 4 + extra;
}

bool ByteSource::read(uint64_t offset, void* dst, uint64_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n > allowance_) {
    allowance_ = 0;
    exhausted_ = true;
    return false;
  }
  allowance_ -= n;
  return n == 0 || readAt(offset, dst, n);
}

MemoryByteSource::MemoryByteSource(const uint8_t* data, size_t size) : data_(data) { setSize(size); }

bool MemoryByteSource::readAt(uint64_t offset, void* dst, uint64_t n) {
  std::memcpy(dst, data_ + offset, static_cast<size_t>(n));
  return true;
}

FileByteSource::~FileByteSource() {
  if (file_) std::fclose(file_);
}

bool FileByteSource::open(const char* path) {
  file_ = ZUtils::platform::openFile(path, "rb");
  if (!file_) return false;
  if (!ZUtils::platform::seekFile(file_, 0, SEEK_END)) return false;
  const int64_t size = ZUtils::platform::tellFile(file_);
  if (size < 0) return false;
  setSize(static_cast<uint64_t>(size));
  return true;
}

bool FileByteSource::readFile(uint64_t offset, void* dst, uint64_t n) {
  if (offset > static_cast<uint64_t>(INT64_MAX) || !ZUtils::platform::seekFile(file_, static_cast<int64_t>(offset), SEEK_SET))
    return false;
  return std::fread(dst, 1, static_cast<size_t>(n), file_) == n;
}

bool FileByteSource::readAt(uint64_t offset, void* dst, uint64_t n) {
  if (n > kWindowBytes / 2) return readFile(offset, dst, n);  // voxel data: straight through
  if (offset < windowStart_ || offset + n > windowStart_ + windowBytes_) {
    // The window starting at the read, as far as the file goes.
    const uint64_t left = size() - offset;
    windowBytes_ = 0;
    if (!readFile(offset, window_, left < kWindowBytes ? left : kWindowBytes)) return false;
    windowStart_ = offset;
    windowBytes_ = left < kWindowBytes ? left : kWindowBytes;
  }
  std::memcpy(dst, window_ + (offset - windowStart_), static_cast<size_t>(n));
  return true;
}

}  // namespace F3dPort
