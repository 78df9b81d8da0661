#include "cache/ChannelDecoder.h"

#include <cstring>
#include <new>

#include "cache/GridRecordBytes.h"
#include "cache/GridSlabDecoder.h"
#include "cache/OstraneFrameData.h"
#include "compress/InflateStream.h"
#include "compress/NebFormat.h"
#include "compress/PackedColour.h"
#include "compress/SGCompressor.h"
#include "compress/ZipBlock.h"
#include "ostutils/OstArray.h"
#include "particles/MTBuildScalarSpeedFromVelocity.h"
#include "zutils/Report.h"

namespace {

const int kOtherChannels = 32;  // index key of every channel number outside 0..31

int keyOf(int channel) { return channel >= 0 && channel < 32 ? channel : kOtherChannels; }

}  // namespace

GridRecordIndex::GridRecordIndex(const GridRecordBytes& records) {
  for (int& s : slot_) s = -1;
  const int64_t ints = records.ints();
  records.walkRecords([&](int32_t channel, int64_t payload, int64_t length) {
    const bool overruns = length > ints - payload;
    int& slot = slot_[keyOf(channel)];
    if (slot < 0) {
      slot = static_cast<int>(first_.size());
      first_.push_back(Record{channel, payload, length, overruns});
    }
    overran_ = overruns;
    return !overruns;  // nothing follows a record that runs past the records
  });
}

const GridRecordIndex::Record* GridRecordIndex::find(int channel) const {
  if (channel < 0 || channel >= 32 || slot_[channel] < 0) return nullptr;
  return &first_[static_cast<size_t>(slot_[channel])];
}

int DerivedSourceOf(int channel) {
  if (channel == NebFormat::kGridSpeed) return NebFormat::kGridVelocityX;
  if (channel >= NebFormat::kGridColourRed && channel <= NebFormat::kGridColourBlue) return NebFormat::kGridPackedColour;
  return -1;
}

void SpeedFromVelocity(const float* x, const float* y, const float* z, float* out, int64_t n) {
  MTBuildScalarSpeedFromVelocity::build(x, y, z, out, n);
}

void ColourFromPacked(const uint32_t* words, int64_t n, float* red, float* green, float* blue) {
  const uint32_t bits = 0x3B808081u;  // 1/255 as the colour unpacking has always used it
  float inverse255;
  std::memcpy(&inverse255, &bits, sizeof inverse255);
  OSTUtils::UnpackColourWords(words, n, inverse255, red, green, blue);
}

struct ChannelDecoder::Impl {
  const OstraneFrameData& frame;
  const GridRecordBytes& records;
  int channel;
  int64_t cells = -1, layer = 0;
  int nz = 0;
  int dimension = 1;
  bool opened = false;
  Range range = kWholeGrid;
  int64_t zipBytes = -1;  // the packed colour's stream length
  // Whole grid: the compressors (the frame's, or made here) and a file's bytes.
  OSTUtils::SGCompressor<1>* linear = nullptr;
  OSTUtils::SGCompressor<3>* boxed = nullptr;
  std::unique_ptr<OSTUtils::SGCompressor<1>> ownLinear;
  std::unique_ptr<OSTUtils::SGCompressor<3>> ownBoxed;
  OSTUtils::OstArray<unsigned char, int64_t> scratch;
  // Slabs.
  std::unique_ptr<GridSlabDecoder> block;
  OSTUtils::InflateStream stream;

  Impl(const OstraneFrameData& f, const GridRecordBytes& r, int c) : frame(f), records(r), channel(c) {}
};

ChannelDecoder::ChannelDecoder(const OstraneFrameData& frame, const GridRecordBytes& records,
                               const GridRecordIndex& index, int channel)
    : impl_(new Impl(frame, records, channel)) {
  Impl& m = *impl_;
  m.cells = frame.CellCount();
  if (m.cells < 0) return;
  m.layer = static_cast<int64_t>(frame.gridSize[0]) * frame.gridSize[1];
  m.nz = frame.gridSize[2];
  m.dimension = NebFormat::GridCodecDimension(frame.version);
  record_ = index.find(channel);
}

ChannelDecoder::~ChannelDecoder() = default;

bool ChannelDecoder::isPackedColour() const { return impl_->channel == NebFormat::kGridPackedColour; }

bool ChannelDecoder::refuse() {
  ZUtils::logReport("Invalid cache file!!!\n");
  impl_->opened = false;
  return false;
}

// Checks made before anything is sized by the record: a payload claiming more than the
// records hold, and a packed colour stream longer than its payload.
bool ChannelDecoder::plausible() {
  Impl& m = *impl_;
  if (record_->overruns) return false;
  if (!isPackedColour()) return true;
  m.zipBytes = -1;
  if (record_->length >= 2) {
    // int64, low int first; unreadable counts as -1 (refused).
    if (const unsigned char* p = m.records.fetch(4 * record_->payload, 8, m.scratch)) std::memcpy(&m.zipBytes, p, 8);
  }
  return m.zipBytes >= 0 && m.zipBytes <= (record_->length - 2) * 4;
}

bool ChannelDecoder::open(Range range) {
  Impl& m = *impl_;
  m.opened = false;
  m.range = range;
  if (!record_) return false;
  if (!plausible()) return refuse();
  if (range == kSlabs) {
    if (isPackedColour()) {
      const int64_t start = 4 * (record_->payload + 2);
      OSTUtils::InflateStream::Source from = [&m, start](int64_t offset, int64_t count) {
        return m.records.fetch(start + offset, count, m.scratch);
      };
      // A grid of no cells gives no slab that would meet the stream's end: it is judged
      // here, where the whole-grid read judges it (it must end at once).
      if (!m.stream.open(from, m.zipBytes, m.cells * 4) || (m.cells == 0 && !m.stream.read(nullptr, 0)))
        return refuse();
    } else {
      m.block.reset(new (std::nothrow) GridSlabDecoder(m.dimension));
      if (!m.block || !m.block->open(m.records, 4 * record_->payload, 4 * record_->length, m.cells)) return refuse();
    }
  }
  m.opened = true;
  return true;
}

void ChannelDecoder::useCompressor(OSTUtils::SGCompressor<1>* linear, OSTUtils::SGCompressor<3>* boxed) {
  impl_->linear = linear;
  impl_->boxed = boxed;
}

bool ChannelDecoder::read(int z0, int z1, float* out) {
  Impl& m = *impl_;
  if (!m.opened || isPackedColour() || z0 < 0 || z1 < z0 || z1 > m.nz) {
    ZUtils::logReport("[ERROR] Layers [%d, %d) of grid channel %d cannot be read\n", z0, z1, m.channel);
    return false;
  }
  if (m.range == kSlabs) return m.block->read(z0 * m.layer, (z1 - z0) * m.layer, out);
  if (z0 != 0 || z1 != m.nz) {
    ZUtils::logReport("[ERROR] Layers [%d, %d) of grid channel %d cannot be read\n", z0, z1, m.channel);
    return false;
  }
  const int64_t bytes = 4 * record_->length;
  const unsigned char* block = m.records.fetch(4 * record_->payload, bytes, m.scratch);
  bool ok = false;
  if (m.dimension == 1) {
    if (!m.linear && !m.ownLinear) m.ownLinear.reset(new (std::nothrow) OSTUtils::SGCompressor<1>(-1));
    OSTUtils::SGCompressor<1>* c = m.linear ? m.linear : m.ownLinear.get();
    ok = block && c && c->DecompressBlock(block, bytes, out, m.cells + kSlack, true);
  } else {
    if (!m.boxed && !m.ownBoxed) m.ownBoxed.reset(new (std::nothrow) OSTUtils::SGCompressor<3>(-1));
    OSTUtils::SGCompressor<3>* c = m.boxed ? m.boxed : m.ownBoxed.get();
    ok = block && c && c->DecompressBlock(block, bytes, out, m.cells + kSlack, true);
  }
  m.opened = false;  // one whole read
  return ok || refuse();
}

bool ChannelDecoder::readWords(int z0, int z1, uint32_t* out) {
  Impl& m = *impl_;
  if (!m.opened || !isPackedColour() || z0 < 0 || z1 < z0 || z1 > m.nz ||
      (m.range == kWholeGrid && (z0 != 0 || z1 != m.nz))) {
    ZUtils::logReport("[ERROR] Layers [%d, %d) of grid channel %d cannot be read\n", z0, z1, m.channel);
    return false;
  }
  if (m.range == kWholeGrid) {
    m.opened = false;
    const int64_t room = 4 * (m.cells + kSlack);
    const unsigned char* zip = m.records.fetch(4 * (record_->payload + 2), m.zipBytes, m.scratch);
    int64_t produced = 0;
    if (!zip || !OSTUtils::InflateBlock(zip, m.zipBytes, out, m.cells * 4, &produced)) return refuse();
    // Past the stream's end the words are 0.
    std::memset(reinterpret_cast<unsigned char*>(out) + produced, 0, static_cast<size_t>(room - produced));
    return true;
  }
  // Layers skipped since the last slab are inflated and dropped, through `out`.
  const int64_t skip = z0 * m.layer * 4 - m.stream.produced();
  const int64_t n = (z1 - z0) * m.layer * 4;
  if (skip < 0) {
    ZUtils::logReport("[ERROR] Layers [%d, %d) of grid channel %d cannot be read\n", z0, z1, m.channel);
    return false;
  }
  if (n == 0) return true;  // no cells: the stream was judged when it was opened
  for (int64_t left = skip; left > 0;) {
    const int64_t piece = left < n ? left : n;
    if (!m.stream.read(out, piece)) return refuse();
    left -= piece;
  }
  return m.stream.read(out, n) || refuse();
}

int64_t ChannelDecoder::wordBytesRead() const { return impl_->stream.produced(); }

int64_t ChannelDecoder::variedCells() const {
  const Impl& m = *impl_;
  if (isPackedColour()) return m.cells < 0 ? 0 : m.cells;
  return m.block ? m.block->variedCells() : 0;
}
