#include "tools/neb2vdb/VdbFileMetadata.h"

#include <cstdio>
#include <cstring>

#include "zutils/platform/File.h"

namespace Neb2Vdb {

namespace {

constexpr uint64_t kMagic = 0x56444220;
constexpr uint32_t kFirstKnownVersion = 222;  // per-grid compression: the header above
constexpr size_t kUuidBytes = 36;
constexpr uint32_t kMaxEntries = 4096;
constexpr size_t kMaxKeptBytes = size_t(1) << 20;

class Reader {
 public:
  explicit Reader(FILE* f) : f_(f) {}

  bool bytes(void* out, size_t n) { return n == 0 || std::fread(out, 1, n, f_) == n; }

  bool u32(uint32_t& v) {
    unsigned char b[4];
    if (!bytes(b, 4)) return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
  }

  bool u64(uint64_t& v) {
    uint32_t lo = 0, hi = 0;
    if (!u32(lo) || !u32(hi)) return false;
    v = uint64_t(hi) << 32 | lo;
    return true;
  }

  // `n` bytes into `out`, counted against the bound of what is kept.
  bool kept(std::string& out, uint32_t n) {
    if (n > kMaxKeptBytes - keptBytes_) return false;
    keptBytes_ += n;
    out.assign(n, '\0');
    return bytes(&out[0], n);
  }

  bool string(std::string& out) {
    uint32_t n = 0;
    return u32(n) && kept(out, n);
  }

  bool skip(uint32_t n) { return ZUtils::platform::seekFile(f_, n, SEEK_CUR); }

 private:
  FILE* f_;
  size_t keptBytes_ = 0;
};

// Little-endian two's complement of `n` (4 or 8) bytes.
int64_t integerOf(const std::string& value) {
  uint64_t v = 0;
  for (size_t i = value.size(); i-- > 0;) v = v << 8 | static_cast<unsigned char>(value[i]);
  if (value.size() == 4) return int64_t(int32_t(uint32_t(v)));
  int64_t s;
  std::memcpy(&s, &v, sizeof s);
  return s;
}

bool read(Reader& in, VdbFileMetadata& metadata) {
  uint64_t magic = 0;
  uint32_t version = 0, major = 0, minor = 0, count = 0;
  unsigned char offsets = 0;
  char uuid[kUuidBytes];
  if (!in.u64(magic) || magic != kMagic || !in.u32(version) || version < kFirstKnownVersion || !in.u32(major) ||
      !in.u32(minor) || !in.bytes(&offsets, 1) || !in.bytes(uuid, kUuidBytes) || !in.u32(count) || count > kMaxEntries)
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name, type, value;
    uint32_t size = 0;
    if (!in.string(name) || !in.string(type) || !in.u32(size)) return false;
    const bool text = type == "string";
    const bool integer = (type == "int32" && size == 4) || (type == "int64" && size == 8);
    if (!text && !integer) {
      if (!in.skip(size)) return false;
      continue;
    }
    if (!in.kept(value, size)) return false;
    if (text) metadata.strings[name] = value;
    else metadata.integers[name] = integerOf(value);
  }
  return true;
}

}  // namespace

bool readVdbFileMetadata(const std::string& path, VdbFileMetadata& metadata) {
  FILE* f = ZUtils::platform::openFile(path.c_str(), "rb");
  if (!f) return false;
  Reader in(f);
  const bool ok = read(in, metadata);
  std::fclose(f);
  return ok;
}

}  // namespace Neb2Vdb
