#include "cache/FrameSlabReader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cache/ChannelStorageInfo.h"
#include "cache/GridRecordBytes.h"
#include "cache/GridSlabDecoder.h"
#include "cache/OstraneFrameData.h"
#include "compress/InflateStream.h"
#include "compress/NebFormat.h"
#include "compress/PackedColour.h"
#include "ostutils/OstArray.h"
#include "particles/MTBuildScalarSpeedFromVelocity.h"
#include "zutils/Report.h"

namespace {

const int kSpeed = NebFormat::kGridSpeed;
const int kPackedColour = NebFormat::kGridPackedColour;

float inverse255() {
  const uint32_t bits = 0x3B808081u;  // 1/255 as the colour unpacking has always used it
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

enum class Source { kUnopened, kAbsent, kStored, kSpeed, kColour };

// The velocity slabs speed is built from, each component held with its own z-range: a
// component is read once per slab, by whichever of speed and itself asks first, so the
// reports of its zones come where a reader of that component alone would see them.
struct HeldVelocity {
  int z0[3] = {-1, -1, -1}, z1[3] = {-1, -1, -1};
  OSTUtils::OstArray<float, int64_t> values[3];
};

}  // namespace

struct FrameSlabReader::Impl {
  const OstraneFrameData& frame;
  const GridRecordBytes& bytes;
  int64_t layer = 0, cells = 0;
  int nz = 0;
  Source source[32] = {};
  std::unique_ptr<GridSlabDecoder> stored[32];
  int storedDone[32] = {};  // first layer a stored decoder can still give
  bool speedOpened = false;
  HeldVelocity velocity;
  // The packed colour stream and the words of its current slab.
  bool colourOk = false;
  OSTUtils::InflateStream colour;
  int64_t colourPayload = 0;  // byte offset of the zip stream in the records
  OSTUtils::OstArray<unsigned char, int64_t> colourScratch;
  OSTUtils::OstArray<uint32_t, int64_t> words;
  int wordsZ0 = -1, wordsZ1 = -1;

  Impl(const OstraneFrameData& f, const GridRecordBytes& b) : frame(f), bytes(b) {}

  // The first record of each channel (payload int index and length; -1 none), found in one
  // walk over the records as the frame's decode walks them.
  bool indexed = false;
  int64_t recordPayload[33], recordLength[33];

  void indexRecords() {
    indexed = true;
    for (int c = 0; c < 33; ++c) recordPayload[c] = recordLength[c] = -1;
    bytes.walkRecords([this](int32_t channel, int64_t payload, int64_t length) {
      if (channel >= 0 && channel < 33 && recordPayload[channel] < 0) {
        recordPayload[channel] = payload;
        recordLength[channel] = length;
      }
      return true;
    });
  }

  bool findRecord(int channel, int64_t* payload, int64_t* length) {
    if (!indexed) indexRecords();
    if (channel < 0 || channel >= 33 || recordPayload[channel] < 0) return false;
    *payload = recordPayload[channel];
    *length = recordLength[channel];
    return true;
  }

  // A stored grid block: true when it opens as the frame's decode would take it.
  bool openStored(int channel) {
    int64_t payload = 0, length = 0;
    if (!findRecord(channel, &payload, &length)) return false;
    // A record claiming more payload than the data holds is refused before anything else.
    if (length > bytes.ints() - payload) {
      ZUtils::logReport("Invalid cache file!!!\n");
      return false;
    }
    std::unique_ptr<GridSlabDecoder> d(new GridSlabDecoder(NebFormat::GridCodecDimension(frame.version)));
    if (!d->open(bytes, 4 * payload, 4 * length, cells)) {
      ZUtils::logReport("Invalid cache file!!!\n");
      return false;
    }
    stored[channel] = std::move(d);
    storedDone[channel] = 0;
    return true;
  }

  // A stream refused before is tried again (and reported again), as the frame's decode does.
  bool openColour() {
    if (colourOk) return true;
    int64_t payload = 0, length = 0;
    if (!findRecord(kPackedColour, &payload, &length)) return false;
    int64_t zipBytes = -1;
    bool plausible = length <= bytes.ints() - payload;
    if (plausible && length >= 2) {
      // int64 stream length, low int first; an unreadable one counts as -1 (refused).
      if (const unsigned char* p = bytes.fetch(4 * payload, 8, colourScratch)) std::memcpy(&zipBytes, p, 8);
    }
    plausible = plausible && zipBytes >= 0 && zipBytes <= (length - 2) * 4;
    if (!plausible) {
      ZUtils::logReport("Invalid cache file!!!\n");
      return false;
    }
    colourPayload = 4 * (payload + 2);
    OSTUtils::InflateStream::Source from = [this](int64_t offset, int64_t count) {
      return bytes.fetch(colourPayload + offset, count, colourScratch);
    };
    // A grid of no cells gives no slab that would meet the stream's end: it is judged here,
    // where the whole decode judges it (it must end at once).
    if (!colour.open(from, zipBytes, cells * 4) || (cells == 0 && !colour.read(nullptr, 0))) {
      ZUtils::logReport("Invalid cache file!!!\n");
      return false;
    }
    colourOk = true;
    return true;
  }

  bool badSlab(int channel, int z0, int z1) const {
    ZUtils::logReport("[ERROR] Slab [%d, %d) of grid channel %d: slabs must ascend within the grid\n", z0, z1, channel);
    return false;
  }

  bool readStored(int channel, int z0, int z1, float* out) {
    if (z0 < storedDone[channel]) return badSlab(channel, z0, z1);
    if (!stored[channel]->read(z0 * layer, (z1 - z0) * layer, out)) return false;
    storedDone[channel] = z1;
    return true;
  }

  // Velocity component k (channel 4 + k) of [z0, z1), held for speed and for 4 + k itself.
  bool holdVelocity(int k, int z0, int z1) {
    if (velocity.z0[k] == z0 && velocity.z1[k] == z1) return true;
    const int64_t n = (z1 - z0) * layer;
    if (!velocity.values[k].SetSize(n)) return false;
    if (!readStored(4 + k, z0, z1, velocity.values[k].data)) {
      velocity.z0[k] = velocity.z1[k] = -1;
      return false;
    }
    velocity.z0[k] = z0;
    velocity.z1[k] = z1;
    return true;
  }

  bool readColour(int channel, int z0, int z1, float* out) {
    if (wordsZ0 != z0 || wordsZ1 != z1) {
      if (z0 < wordsZ1 || (wordsZ1 < 0 && colour.produced() > 0)) return badSlab(channel, z0, z1);
      // Layers skipped since the last slab are inflated and dropped.
      const int64_t skip = z0 * layer * 4 - colour.produced();
      const int64_t n = (z1 - z0) * layer;
      if (n == 0) return true;  // no cells: the stream was judged when it was opened
      if (!words.SetSize(n)) return false;
      for (int64_t left = skip; left > 0;) {
        const int64_t piece = left < n * 4 ? left : n * 4;
        if (!colour.read(words.data, piece)) return colourFailed();
        left -= piece;
      }
      if (!colour.read(words.data, n * 4)) return colourFailed();
      wordsZ0 = z0;
      wordsZ1 = z1;
    }
    const int k = channel - 7;
    OSTUtils::UnpackColourWords(words.data, (z1 - z0) * layer, inverse255(), k == 0 ? out : nullptr,
                                k == 1 ? out : nullptr, k == 2 ? out : nullptr);
    return true;
  }

  bool colourFailed() {
    ZUtils::logReport("Invalid cache file!!!\n");
    wordsZ0 = wordsZ1 = -1;
    return false;
  }
};

FrameSlabReader::FrameSlabReader(const OstraneFrameData& frame, const GridRecordBytes& bytes)
    : impl_(new Impl(frame, bytes)) {
  Impl& m = *impl_;
  const int64_t cells = frame.CellCount();
  m.cells = cells < 0 ? -1 : cells;
  m.layer = cells < 0 ? 0 : static_cast<int64_t>(frame.gridSize[0]) * frame.gridSize[1];
  m.nz = cells < 0 ? 0 : frame.gridSize[2];
}

FrameSlabReader::~FrameSlabReader() = default;

bool FrameSlabReader::open(int channel) {
  Impl& m = *impl_;
  if (channel < 0 || channel >= 32 || channel == kPackedColour || m.cells < 0) return false;
  // A channel refused before is tried again, with its reports, as getChannel tries again.
  if (m.source[channel] != Source::kUnopened && m.source[channel] != Source::kAbsent) return true;
  if (m.openStored(channel)) {
    m.source[channel] = Source::kStored;
    return true;
  }
  if (channel == kSpeed) {
    bool velocity = true;
    for (int c = 4; c <= 6; ++c) velocity = open(c) && m.source[c] == Source::kStored && velocity;
    if (velocity) {
      m.source[channel] = Source::kSpeed;
      m.speedOpened = true;
      return true;
    }
  } else if (channel >= 7 && channel <= 9 && m.openColour()) {
    // Unpacking fills every colour channel not yet decoded, as the frame's unpacking does.
    for (int c = 7; c <= 9; ++c)
      if (m.source[c] == Source::kUnopened || m.source[c] == Source::kAbsent || c == channel)
        m.source[c] = Source::kColour;
    return true;
  }
  m.source[channel] = Source::kAbsent;
  return false;
}

bool FrameSlabReader::read(int channel, int z0, int z1, float* out) {
  Impl& m = *impl_;
  if (channel < 0 || channel >= 32 || z0 < 0 || z1 < z0 || z1 > m.nz || (z1 > z0 && !out))
    return m.badSlab(channel, z0, z1);
  const Source s = m.source[channel];
  if (s == Source::kUnopened || s == Source::kAbsent) {
    ZUtils::logReport("[ERROR] Grid channel %d was not opened for slabs\n", channel);
    return false;
  }
  if (z1 == z0) return true;
  const int64_t n = (z1 - z0) * m.layer;
  if (s == Source::kColour) return m.readColour(channel, z0, z1, out);
  if (s == Source::kSpeed) {
    for (int k = 0; k < 3; ++k)
      if (!m.holdVelocity(k, z0, z1)) return false;

    MTBuildScalarSpeedFromVelocity::build(m.velocity.values[0].data, m.velocity.values[1].data,
                                          m.velocity.values[2].data, out, n);
    return true;
  }
  if (m.speedOpened && channel >= 4 && channel <= 6) {
    if (!m.holdVelocity(channel - 4, z0, z1)) return false;
    std::memcpy(out, m.velocity.values[channel - 4].data, static_cast<size_t>(n) * sizeof(float));
    return true;
  }
  return m.readStored(channel, z0, z1, out);
}

int64_t FrameSlabReader::variedCells(int channel) const {
  const Impl& m = *impl_;
  if (channel < 0 || channel >= 32) return 0;
  switch (m.source[channel]) {
    case Source::kStored:
      return m.stored[channel]->variedCells();
    case Source::kSpeed: {
      int64_t sum = 0;
      for (int c = 4; c <= 6; ++c) sum += m.stored[c]->variedCells();
      return sum < m.cells ? sum : m.cells;
    }
    case Source::kColour:
      return m.cells;
    default:
      return 0;
  }
}

int FrameSlabReader::sourceOf(int channel) const {
  if (channel < 0 || channel >= 32) return -1;
  switch (impl_->source[channel]) {
    case Source::kStored: return channel;
    case Source::kSpeed: return 4;
    case Source::kColour: return kPackedColour;
    default: return -1;
  }
}
