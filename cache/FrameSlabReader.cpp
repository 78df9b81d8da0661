#include "cache/FrameSlabReader.h"

#include <cstring>
#include <new>

#include "cache/ChannelDecoder.h"
#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "compress/NebFormat.h"
#include "ostutils/OstArray.h"
#include "zutils/Report.h"

namespace {

const int kVelocity = NebFormat::kGridVelocityX;
const int kPackedColour = NebFormat::kGridPackedColour;

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
  std::unique_ptr<ChannelDecoder> stored[32];
  int storedDone[32] = {};  // first layer a stored decoder can still give
  bool speedOpened = false;
  HeldVelocity velocity;
  // The packed colour stream and the words of its current slab.
  std::unique_ptr<ChannelDecoder> colour;
  OSTUtils::OstArray<uint32_t, int64_t> words;
  int wordsZ0 = -1, wordsZ1 = -1;
  // The records, indexed on the first open.
  std::unique_ptr<GridRecordIndex> index;

  Impl(const OstraneFrameData& f, const GridRecordBytes& b) : frame(f), bytes(b) {}

  // The decoder of `channel`'s record opened for slabs, or null (refused, reported; or no
  // record).
  std::unique_ptr<ChannelDecoder> openRecord(int channel) {
    if (!index) index.reset(new GridRecordIndex(bytes));
    std::unique_ptr<ChannelDecoder> d(new ChannelDecoder(frame, bytes, *index, channel));
    if (!d->open(ChannelDecoder::kSlabs)) d.reset();
    return d;
  }

  bool openStored(int channel) {
    stored[channel] = openRecord(channel);
    storedDone[channel] = 0;
    return stored[channel] != nullptr;
  }

  // A stream refused before is tried again (and reported again), as the frame's decode does.
  bool openColour() {
    if (!colour) colour = openRecord(kPackedColour);
    return colour != nullptr;
  }

  bool badSlab(int channel, int z0, int z1) const {
    ZUtils::logReport("[ERROR] Slab [%d, %d) of grid channel %d: slabs must ascend within the grid\n", z0, z1, channel);
    return false;
  }

  bool readStored(int channel, int z0, int z1, float* out) {
    if (z0 < storedDone[channel]) return badSlab(channel, z0, z1);
    if (!stored[channel]->read(z0, z1, out)) return false;
    storedDone[channel] = z1;
    return true;
  }

  // Velocity component k (channel 4 + k) of [z0, z1), held for speed and for 4 + k itself.
  bool holdVelocity(int k, int z0, int z1) {
    if (velocity.z0[k] == z0 && velocity.z1[k] == z1) return true;
    const int64_t n = (z1 - z0) * layer;
    if (!velocity.values[k].SetSize(n)) return false;
    if (!readStored(kVelocity + k, z0, z1, velocity.values[k].data)) {
      velocity.z0[k] = velocity.z1[k] = -1;
      return false;
    }
    velocity.z0[k] = z0;
    velocity.z1[k] = z1;
    return true;
  }

  bool readColour(int channel, int z0, int z1, float* out) {
    if (wordsZ0 != z0 || wordsZ1 != z1) {
      if (z0 < wordsZ1 || (wordsZ1 < 0 && colour->wordBytesRead() > 0)) return badSlab(channel, z0, z1);
      const int64_t n = (z1 - z0) * layer;
      if (n == 0) return true;  // no cells: the stream was judged when it was opened
      if (!words.SetSize(n)) return false;
      if (!colour->readWords(z0, z1, words.data)) {  // reported
        wordsZ0 = wordsZ1 = -1;
        return false;
      }
      wordsZ0 = z0;
      wordsZ1 = z1;
    }
    const int k = channel - NebFormat::kGridColourRed;
    ColourFromPacked(words.data, (z1 - z0) * layer, k == 0 ? out : nullptr, k == 1 ? out : nullptr,
                     k == 2 ? out : nullptr);
    return true;
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
  if (DerivedSourceOf(channel) == kVelocity) {
    bool velocity = true;
    for (int c = kVelocity; c < kVelocity + 3; ++c) velocity = open(c) && m.source[c] == Source::kStored && velocity;
    if (velocity) {
      m.source[channel] = Source::kSpeed;
      m.speedOpened = true;
      return true;
    }
  } else if (DerivedSourceOf(channel) == kPackedColour && m.openColour()) {
    // Unpacking fills every colour channel not yet decoded, as the frame's unpacking does.
    for (int c = NebFormat::kGridColourRed; c <= NebFormat::kGridColourBlue; ++c)
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

    SpeedFromVelocity(m.velocity.values[0].data, m.velocity.values[1].data, m.velocity.values[2].data, out, n);
    return true;
  }
  if (m.speedOpened && channel >= kVelocity && channel < kVelocity + 3) {
    if (!m.holdVelocity(channel - kVelocity, z0, z1)) return false;
    std::memcpy(out, m.velocity.values[channel - kVelocity].data, static_cast<size_t>(n) * sizeof(float));
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
      for (int c = kVelocity; c < kVelocity + 3; ++c) sum += m.stored[c]->variedCells();
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
    case Source::kSpeed: return kVelocity;
    case Source::kColour: return kPackedColour;
    default: return -1;
  }
}
