// Helpers of the cache tests: temporary nebu2 files and frames loaded from them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "cache/OstraneFrameData.h"
#include "compress/GridBlockWriter.h"
#include "ostutils/OstArray.h"
#include "support/TempPaths.h"

// A file in the temporary folder removed when the object goes away.
class TempNebFile {
 public:
  TempNebFile() {
    path_ = testsupport::freshTempFile("neb_cache_test_", ".neb");
  }
  ~TempNebFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

  bool writeBytes(const std::vector<char>& bytes) const { return writeBytes(bytes.data(), bytes.size()); }
  bool writeBytes(const char* data, size_t size) const {
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
  }

 private:
  std::string path_;
};

inline std::vector<char> writerBytes(NebWriter& w) {
  OSTUtils::OstArray<char, int64_t> out;
  if (!w.writeToMemory(out)) return {};
  return std::vector<char>(out.data, out.data + out.size);
}

inline OSTUtils::GridBlockOptions losslessOptions() {
  OSTUtils::GridBlockOptions o = OSTUtils::defaultGridBlockOptions();
  o.lossless = true;
  return o;
}

// Loads `bytes` into a fresh frame through a temporary file; returns the status.
inline int loadBytes(OstraneFrameData& frame, const std::vector<char>& bytes, bool headerOnly = false) {
  TempNebFile file;
  if (!file.writeBytes(bytes)) return -1;
  return frame.ImportNeb(file.path(), true, headerOnly);
}

// A smooth test field of n values.
inline std::vector<float> testField(size_t n, float phase) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = phase + 0.25f * static_cast<float>(i % 17) - 0.5f * static_cast<float>(i % 5);
  return v;
}

inline int32_t readInt32At(const std::vector<char>& bytes, size_t at) {
  int32_t v;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}
inline void writeInt32At(std::vector<char>& bytes, size_t at, int32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
