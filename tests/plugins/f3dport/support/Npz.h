// Reading numpy .npz archives (the expected values beside the sample files): a zip of .npy
// arrays, stored or deflated. Little-endian float16, float32 and float64 arrays in C order.
#pragma once

#include <zlib.h>

#include <cmath>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace f3dtest {

struct NpyArray {
  std::vector<int64_t> shape;
  std::vector<double> values;  // every element widened to double, C order
};

inline float halfBits(uint16_t h) {
  const int e = (h >> 10) & 0x1f, m = h & 0x3ff;
  const double sign = h & 0x8000 ? -1.0 : 1.0;
  if (e == 0) return static_cast<float>(sign * m * (1.0 / (1 << 24)));
  if (e == 31) return m ? NAN : static_cast<float>(sign * INFINITY);
  return static_cast<float>(sign * (1.0 + m / 1024.0) * std::ldexp(1.0, e - 15));
}

inline NpyArray parseNpy(const std::vector<uint8_t>& b) {
  if (b.size() < 10 || std::memcmp(b.data(), "\x93NUMPY", 6) != 0) throw std::runtime_error("not an .npy array");
  const bool v1 = b[6] == 1;
  const size_t headerLen = v1 ? (b[8] | b[9] << 8) : (b[8] | b[9] << 8 | b[10] << 16 | size_t(b[11]) << 24);
  const size_t start = v1 ? 10 : 12;
  const std::string header(b.begin() + start, b.begin() + start + headerLen);
  const size_t d = header.find("'descr': '") + 10;
  const std::string descr = header.substr(d, header.find('\'', d) - d);
  if (header.find("'fortran_order': False") == std::string::npos) throw std::runtime_error("Fortran order");
  NpyArray a;
  size_t p = header.find('(', header.find("'shape'")) + 1;
  const size_t end = header.find(')', p);
  int64_t count = 1;
  while (p < end) {
    const size_t comma = header.find(',', p);
    const std::string item = header.substr(p, std::min(comma, end) - p);
    if (item.find_first_of("0123456789") != std::string::npos) {
      a.shape.push_back(std::stoll(item));
      count *= a.shape.back();
    }
    if (comma == std::string::npos || comma > end) break;
    p = comma + 1;
  }
  const uint8_t* data = b.data() + start + headerLen;
  const int size = descr == "<f2" ? 2 : descr == "<f4" ? 4 : descr == "<f8" ? 8 : 0;
  if (!size || b.size() < start + headerLen + size_t(count) * size) throw std::runtime_error("dtype " + descr);
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t* e = data + i * size;
    if (size == 2) {
      a.values.push_back(halfBits(static_cast<uint16_t>(e[0] | e[1] << 8)));
    } else if (size == 4) {
      float f;
      std::memcpy(&f, e, 4);
      a.values.push_back(f);
    } else {
      double v;
      std::memcpy(&v, e, 8);
      a.values.push_back(v);
    }
  }
  return a;
}

// Every array of the archive, by its key (the member name without ".npy").
inline std::map<std::string, NpyArray> readNpz(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> z((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto u16 = [&](size_t at) { return uint32_t(z[at] | z[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::map<std::string, NpyArray> out;
  size_t at = 0;
  while (at + 30 <= z.size() && u32(at) == 0x04034b50) {
    const uint32_t method = u16(at + 8), packed = u32(at + 18), size = u32(at + 22);
    const uint32_t nameLen = u16(at + 26), extraLen = u16(at + 28);
    std::string name(z.begin() + at + 30, z.begin() + at + 30 + nameLen);
    const uint8_t* data = z.data() + at + 30 + nameLen + extraLen;
    std::vector<uint8_t> raw(size);
    if (method == 0) {
      std::memcpy(raw.data(), data, size);
    } else {
      z_stream s = {};
      inflateInit2(&s, -15);
      s.next_in = const_cast<uint8_t*>(data);
      s.avail_in = packed;
      s.next_out = raw.data();
      s.avail_out = size;
      const int rc = inflate(&s, Z_FINISH);
      inflateEnd(&s);
      if (rc != Z_STREAM_END) throw std::runtime_error("cannot inflate " + name);
    }
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".npy") == 0) name.resize(name.size() - 4);
    out[name] = parseNpy(raw);
    at = static_cast<size_t>(data - z.data()) + packed;
  }
  if (out.empty()) throw std::runtime_error("no arrays in " + path);
  return out;
}

}  // namespace f3dtest
