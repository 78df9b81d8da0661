#include "tools/nebview/WireFormat.h"

#include <cmath>
#include <cstring>

namespace NebView {

namespace {

const uint32_t kVolumeMagic = 0x4C4F564E;    // "NVOL"
const uint32_t kSliceMagic = 0x434C534E;     // "NSLC"
const uint32_t kParticleMagic = 0x5452504E;  // "NPRT"

void putU32(std::string& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff), static_cast<char>((v >> 16) & 0xff),
                     static_cast<char>((v >> 24) & 0xff)};
  out.append(b, 4);
}

void putF32(std::string& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  putU32(out, bits);
}

void putI64(std::string& out, int64_t v) {
  const uint64_t u = static_cast<uint64_t>(v);
  putU32(out, static_cast<uint32_t>(u & 0xffffffffu));
  putU32(out, static_cast<uint32_t>(u >> 32));
}

void pad4(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}

// The smallest and largest finite values; false when there is none.
bool finiteRange(const float* v, size_t n, float& low, float& high) {
  bool any = false;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) continue;
    if (!any) low = high = v[i];
    low = v[i] < low ? v[i] : low;
    high = v[i] > high ? v[i] : high;
    any = true;
  }
  return any;
}

void putQuantised(std::string& out, const std::vector<float>& values, int bits, float low, float high) {
  const double top = bits == 16 ? 65535.0 : 255.0;
  const double scale = high > low ? top / (static_cast<double>(high) - low) : 0.0;
  const size_t start = out.size();
  out.resize(start + values.size() * static_cast<size_t>(bits / 8));
  char* p = &out[start];
  for (float v : values) {
    double q = std::isfinite(v) ? (static_cast<double>(v) - low) * scale : 0.0;
    q = q < 0.0 ? 0.0 : (q > top ? top : q);
    const uint32_t u = static_cast<uint32_t>(std::lround(q));
    *p++ = static_cast<char>(u & 0xff);
    if (bits == 16) *p++ = static_cast<char>(u >> 8);
  }
}

}  // namespace

std::string encodeVolume(const FrameSource::Volume& volume, int bits) {
  std::string out;
  putU32(out, kVolumeMagic);
  putU32(out, 1);
  putU32(out, static_cast<uint32_t>(volume.channels.size()));
  for (int v : volume.size) putU32(out, static_cast<uint32_t>(v));
  for (int v : volume.fullSize) putU32(out, static_cast<uint32_t>(v));
  putU32(out, static_cast<uint32_t>(volume.factor));
  for (float t : volume.transform) putF32(out, t);
  for (const FrameSource::VolumeChannel& c : volume.channels) {
    const bool ok = c.status == FrameSource::ChannelStatus::Ok;
    float low = 0.0f, high = 0.0f;
    if (ok) finiteRange(c.values.data(), c.values.size(), low, high);
    putU32(out, static_cast<uint32_t>(c.channel));
    putU32(out, static_cast<uint32_t>(c.status));
    putU32(out, ok ? static_cast<uint32_t>(bits) : 0);
    putF32(out, low);
    putF32(out, high);
    const std::string reason = ok ? std::string() : c.failure;
    const size_t dataBytes = ok ? c.values.size() * static_cast<size_t>(bits / 8) : 0;
    putU32(out, static_cast<uint32_t>(reason.size()));
    putU32(out, static_cast<uint32_t>(dataBytes));
    out += reason;
    pad4(out);
    if (ok) putQuantised(out, c.values, bits, low, high);
    pad4(out);
  }
  return out;
}

std::string encodeSlice(const FrameSource::Slice& slice, int channel, int axis, int64_t index) {
  std::string out;
  putU32(out, kSliceMagic);
  putU32(out, 1);
  putU32(out, static_cast<uint32_t>(channel));
  putU32(out, static_cast<uint32_t>(axis));
  putU32(out, static_cast<uint32_t>(index));
  putU32(out, static_cast<uint32_t>(slice.width));
  putU32(out, static_cast<uint32_t>(slice.height));
  for (int v : slice.fullSize) putU32(out, static_cast<uint32_t>(v));
  float low = 0.0f, high = 0.0f;
  finiteRange(slice.values.data(), slice.values.size(), low, high);
  putF32(out, low);
  putF32(out, high);
  out.reserve(out.size() + slice.values.size() * 4);
  for (float v : slice.values) putF32(out, v);
  return out;
}

std::string encodeParticles(const FrameSource::Particles& p) {
  std::string out;
  const size_t sent = p.positions.size() / 3;
  putU32(out, kParticleMagic);
  putU32(out, 1);
  putI64(out, p.count);
  putU32(out, static_cast<uint32_t>(sent));
  putU32(out, static_cast<uint32_t>(p.stride));
  putU32(out, (p.hasVelocity ? 1u : 0u) | (p.hasIds ? 2u : 0u));
  putU32(out, static_cast<uint32_t>(p.name.size()));
  out += p.name;
  pad4(out);
  out.reserve(out.size() + sent * (24 + 8));
  for (float v : p.positions) putF32(out, v);
  if (p.hasVelocity)
    for (float v : p.velocities) putF32(out, v);
  if (p.hasIds)
    for (int64_t id : p.ids) putI64(out, id);
  return out;
}

}  // namespace NebView
