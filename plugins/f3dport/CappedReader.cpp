#include "plugins/f3dport/CappedReader.h"

#include <cstdio>
#include <cstring>

#include "zutils/platform/File.h"

namespace F3dPort {

CappedReader::CappedReader(std::unique_ptr<::ByteSource> source, uint64_t size, bool windowed)
    : source_(std::move(source)), size_(size) {
  const uint64_t extra = uint64_t(1) << 20;
  allowance_ = size > (UINT64_MAX - extra) / 4 ? UINT64_MAX : size * 4 + extra;
  if (windowed) window_.reset(new uint8_t[kWindowBytes]);
}

std::unique_ptr<CappedReader> CappedReader::openFile(const char* path) {
  FILE* file = path ? ZUtils::platform::openFile(path, "rb") : nullptr;
  if (!file) return nullptr;
  std::unique_ptr<::ByteSource> source(new FileByteSource(file, true));
  const int64_t size = source->length();
  if (size < 0) return nullptr;
  return std::unique_ptr<CappedReader>(new CappedReader(std::move(source), static_cast<uint64_t>(size), true));
}

std::unique_ptr<CappedReader> CappedReader::inMemory(const uint8_t* data, size_t size) {
  std::unique_ptr<::ByteSource> source(new MemoryByteSource(data, static_cast<int64_t>(size)));
  return std::unique_ptr<CappedReader>(new CappedReader(std::move(source), data ? size : 0, false));
}

bool CappedReader::read(uint64_t offset, void* dst, uint64_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n > allowance_) {
    allowance_ = 0;
    exhausted_ = true;
    return false;
  }
  allowance_ -= n;
  if (n == 0) return true;
  // Voxel data and everything in memory: straight through.
  if (!window_ || n > kWindowBytes / 2) return source_->readAt(static_cast<int64_t>(offset), dst, static_cast<int64_t>(n));
  return readWindowed(offset, dst, n);
}

bool CappedReader::readWindowed(uint64_t offset, void* dst, uint64_t n) {
  if (offset < windowStart_ || offset + n > windowStart_ + windowBytes_) {
    // The window starting at the read, as far as the file goes.
    const uint64_t left = size_ - offset;
    const uint64_t bytes = left < kWindowBytes ? left : kWindowBytes;
    windowBytes_ = 0;
    if (!source_->readAt(static_cast<int64_t>(offset), window_.get(), static_cast<int64_t>(bytes))) return false;
    windowStart_ = offset;
    windowBytes_ = bytes;
  }
  std::memcpy(dst, window_.get() + (offset - windowStart_), static_cast<size_t>(n));
  return true;
}

}  // namespace F3dPort
