#include "tools/nebview/WireFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace NebView {

namespace {

const uint32_t kVolumeMagic = 0x4C4F564E;    // "NVOL"
const uint32_t kSliceMagic = 0x434C534E;     // "NSLC"
const uint32_t kParticleMagic = 0x5452504E;  // "NPRT"

// Bytes gathered into pieces for the sink.
bool littleEndian() {
  const uint32_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

class Writer {
 public:
  explicit Writer(const ByteSink& sink) : sink_(sink) {}

  void u32(uint32_t v) {
    room(4);
    for (int i = 0; i < 4; ++i) buffer_[used_++] = static_cast<char>((v >> (8 * i)) & 0xff);
  }
  void f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    u32(bits);
  }
  void i64(int64_t v) {
    const uint64_t u = static_cast<uint64_t>(v);
    u32(static_cast<uint32_t>(u & 0xffffffffu));
    u32(static_cast<uint32_t>(u >> 32));
  }
  void text(const std::string& t) {
    for (char c : t) {
      room(1);
      buffer_[used_++] = c;
    }
    pad4();
  }
  void pad4() {
    while ((written_ + used_) % 4 != 0) {
      room(1);
      buffer_[used_++] = '\0';
    }
  }
  void f32s(const float* v, size_t n) {
    if (!littleEndian()) {
      for (size_t i = 0; i < n; ++i) f32(v[i]);
      return;
    }
    // The host's floats are the answer's bytes: copied in pieces.
    const char* bytes = reinterpret_cast<const char*>(v);
    size_t left = n * 4;
    while (left > 0) {
      room(4);
      const size_t take = std::min(left, (sizeof buffer_ - used_) & ~size_t(3));
      std::memcpy(buffer_ + used_, bytes, take);
      used_ += take;
      bytes += take;
      left -= take;
    }
  }
  // One quantised value per float (see WireFormat.h), 1 or 2 bytes each.
  void quantised(const float* v, size_t n, int bits, float low, float high) {
    const float top = bits == 16 ? 65535.0f : 255.0f;
    const float scale = high > low ? static_cast<float>(top / (static_cast<double>(high) - low)) : 0.0f;
    const size_t width = static_cast<size_t>(bits / 8);
    for (size_t i = 0; i < n;) {
      room(width);
      const size_t end = std::min(n, i + (sizeof buffer_ - used_) / width);
      unsigned char* p = reinterpret_cast<unsigned char*>(buffer_ + used_);
      for (; i < end; ++i) {
        float q = std::isfinite(v[i]) ? (v[i] - low) * scale : 0.0f;
        q = q > 0.0f ? (q < top ? q : top) : 0.0f;
        const uint32_t u = static_cast<uint32_t>(q + 0.5f);
        *p++ = static_cast<unsigned char>(u & 0xff);
        if (width == 2) *p++ = static_cast<unsigned char>(u >> 8);
      }
      used_ = static_cast<size_t>(reinterpret_cast<char*>(p) - buffer_);
    }
  }
  bool finish() {
    flush();
    return ok_;
  }

 private:
  void room(size_t n) {
    if (used_ + n > sizeof buffer_) flush();
  }
  void flush() {
    if (used_ && ok_) ok_ = sink_(buffer_, used_);
    written_ += used_;
    used_ = 0;
  }

  const ByteSink& sink_;
  char buffer_[65536];
  size_t used_ = 0;
  uint64_t written_ = 0;
  bool ok_ = true;
};

// The smallest and largest finite values; 0 and 0 when there is none.
void finiteRange(const float* v, size_t n, float& low, float& high) {
  bool any = false;
  low = high = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) continue;
    if (!any) low = high = v[i];
    low = v[i] < low ? v[i] : low;
    high = v[i] > high ? v[i] : high;
    any = true;
  }
}

}  // namespace

bool encodeVolumeHeader(const FrameSource::Volume& volume, size_t channels, const ByteSink& sink) {
  Writer w(sink);
  w.u32(kVolumeMagic);
  w.u32(1);
  w.u32(static_cast<uint32_t>(channels));
  for (int v : volume.size) w.u32(static_cast<uint32_t>(v));
  for (int v : volume.fullSize) w.u32(static_cast<uint32_t>(v));
  w.u32(static_cast<uint32_t>(volume.factor));
  for (float t : volume.transform) w.f32(t);
  return w.finish();
}

bool encodeVolumeChannel(const FrameSource::VolumeChannel& c, int bits, const ByteSink& sink) {
  Writer w(sink);
  const bool ok = c.status == FrameSource::ChannelStatus::Ok;
  float low = 0.0f, high = 0.0f;
  if (ok) finiteRange(c.values.begin(), c.values.size, low, high);
  w.u32(static_cast<uint32_t>(c.channel));
  w.u32(static_cast<uint32_t>(c.status));
  w.u32(ok ? static_cast<uint32_t>(bits) : 0);
  w.f32(low);
  w.f32(high);
  const std::string reason = ok ? std::string() : c.failure;
  const size_t dataBytes = ok ? c.values.size * static_cast<size_t>(bits / 8) : 0;
  w.u32(static_cast<uint32_t>(reason.size()));
  w.u32(static_cast<uint32_t>(dataBytes));
  w.text(reason);
  if (ok) w.quantised(c.values.begin(), c.values.size, bits, low, high);
  w.pad4();
  return w.finish();
}

bool encodeSlice(const FrameSource::Slice& slice, int channel, int axis, int64_t index, const ByteSink& sink) {
  Writer w(sink);
  w.u32(kSliceMagic);
  w.u32(1);
  w.u32(static_cast<uint32_t>(channel));
  w.u32(static_cast<uint32_t>(axis));
  w.u32(static_cast<uint32_t>(index));
  w.u32(static_cast<uint32_t>(slice.width));
  w.u32(static_cast<uint32_t>(slice.height));
  for (int v : slice.fullSize) w.u32(static_cast<uint32_t>(v));
  float low, high;
  finiteRange(slice.values.data(), slice.values.size(), low, high);
  w.f32(low);
  w.f32(high);
  w.f32s(slice.values.data(), slice.values.size());
  return w.finish();
}

bool encodeParticles(const FrameSource::Particles& p, const ByteSink& sink) {
  Writer w(sink);
  const size_t sent = p.positions.size() / 3;
  w.u32(kParticleMagic);
  w.u32(1);
  w.i64(p.count);
  w.u32(static_cast<uint32_t>(sent));
  w.u32(static_cast<uint32_t>(p.stride));
  w.u32((p.hasVelocity ? 1u : 0u) | (p.hasIds ? 2u : 0u));
  w.u32(static_cast<uint32_t>(p.name.size()));
  w.text(p.name);
  w.f32s(p.positions.data(), p.positions.size());
  if (p.hasVelocity) w.f32s(p.velocities.data(), p.velocities.size());
  if (p.hasIds)
    for (int64_t id : p.ids) w.i64(id);
  return w.finish();
}

}  // namespace NebView
