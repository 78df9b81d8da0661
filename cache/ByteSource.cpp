#include "cache/ByteSource.h"

#include <cstring>

#include "zutils/platform/File.h"

bool MemoryByteSource::readAt(int64_t offset, void* out, int64_t bytes) {
  if (offset < 0 || bytes < 0 || offset > bytes_ || bytes > bytes_ - offset) return false;
  if (bytes > 0) std::memcpy(out, data_ + offset, static_cast<size_t>(bytes));
  return true;
}

FileByteSource::~FileByteSource() {
  if (owned_ && file_) std::fclose(file_);
}

int64_t FileByteSource::length() {
  std::lock_guard<std::mutex> lock(lock_);
  at_ = -1;
  if (!file_ || !ZUtils::platform::seekFile(file_, 0, SEEK_END)) return -1;
  return ZUtils::platform::tellFile(file_);
}

bool FileByteSource::readAt(int64_t offset, void* out, int64_t bytes) {
  if (offset < 0 || bytes < 0) return false;
  std::lock_guard<std::mutex> lock(lock_);
  if (!file_) return false;
  if (offset != at_) {
    at_ = -1;
    if (!ZUtils::platform::seekFile(file_, offset, SEEK_SET)) return false;
  }
  if (bytes == 0) {
    at_ = offset;
    return true;
  }
  const size_t got = std::fread(out, 1, static_cast<size_t>(bytes), file_);
  at_ = got == static_cast<size_t>(bytes) ? offset + bytes : -1;
  return got == static_cast<size_t>(bytes);
}
