#include "cache/GridSlabDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cache/ChannelDecoder.h"
#include "cache/GridRecordBytes.h"
#include "compress/SGCompressor.h"
#include "zutils/Report.h"

namespace {

// The grid decoder may write values past the cells (the whole-channel buffer carries that
// slack, and the last zone's room includes it).
const int64_t kSlack = ChannelDecoder::kSlack;

}  // namespace

// A zone decoded into a buffer of its own: one crossing an end of a run.
struct GridSlabDecoder::Buffered {
  int zone = -1;
  bool ok = false;
  int64_t written = 0;
  OSTUtils::OstArray<float, int64_t> values;
};

struct GridSlabDecoder::Impl {
  int dimension = 1;
  std::unique_ptr<OSTUtils::SGCompressor<1>> linear;
  std::unique_ptr<OSTUtils::SGCompressor<3>> boxed;
  const GridRecordBytes* bytes = nullptr;
  int64_t blockOffset = 0, cells = 0;
  OSTUtils::OstArray<OSTUtils::ZoneSpan, int> spans;
  int next = 0;      // first zone that may still overlap a run
  int64_t done = 0;  // end of the last run
  Buffered held[3];
  int carry = -1;  // index into held of the zone kept for the next run
  OSTUtils::OstArray<unsigned char, int64_t> scratch;

  struct Task {
    int zone;
    float* target;
    Buffered* held;
    bool ok;
    int64_t written;
  };

  template <int D>
  bool run(OSTUtils::SGCompressor<D>& c, std::vector<Task>& tasks, const unsigned char* base, int64_t baseOffset) {
    if (!c.zones.SetSize(static_cast<int>(tasks.size()))) {
      ZUtils::logReport("[ERROR] SGCompressor: zone list could not be allocated\n");
      return false;
    }
    for (size_t t = 0; t < tasks.size(); ++t) {
      const OSTUtils::ZoneSpan& s = spans[tasks[t].zone];
      OSTUtils::SGZone& z = c.zones[static_cast<int>(t)];
      z.source = base + (s.streamStart - baseOffset);
      z.byteBudget = s.streamEnd - s.streamStart;
      z.consumed = s.skip;
      z.values = tasks[t].target;
      z.valueCapacity = s.valueEnd - s.valueStart;
    }
    if (!c.DecompressZones()) return false;
    for (size_t t = 0; t < tasks.size(); ++t) {
      const OSTUtils::SGZone& z = c.zones[static_cast<int>(t)];
      tasks[t].ok = z.ok;
      tasks[t].written = z.ok ? z.written : 0;
    }
    return true;
  }

  // Decodes the listed zones on the jobs, their streams read in one piece.
  bool decode(std::vector<Task>& tasks) {
    if (tasks.empty()) return true;
    int64_t lo = spans[tasks.front().zone].streamStart, hi = lo;
    for (const Task& t : tasks) {
      lo = std::min(lo, spans[t.zone].streamStart);
      hi = std::max(hi, spans[t.zone].streamEnd);
    }
    const unsigned char* base = bytes->fetch(blockOffset + lo, hi - lo, scratch);
    if (!base) return false;
    const bool ran = dimension == 3 ? run(*boxed, tasks, base, lo) : run(*linear, tasks, base, lo);
    if (!ran) return false;
    for (Task& t : tasks) {
      if (!t.held) continue;
      t.held->ok = t.ok;
      t.held->written = t.written;
    }
    return true;
  }

  Buffered* spareBuffer(const Buffered* taken) {
    for (int k = 0; k < 3; ++k)
      if (k != carry && &held[k] != taken) return &held[k];
    return nullptr;
  }
};

GridSlabDecoder::GridSlabDecoder(int dimension) : impl_(new Impl) { impl_->dimension = dimension == 3 ? 3 : 1; }

GridSlabDecoder::~GridSlabDecoder() = default;

bool GridSlabDecoder::open(const GridRecordBytes& bytes, int64_t offset, int64_t length, int64_t cells) {
  Impl& m = *impl_;
  m.bytes = &bytes;
  m.blockOffset = offset;
  m.cells = cells;
  m.next = 0;
  m.done = 0;
  m.carry = -1;
  for (Buffered& b : m.held) b.zone = -1;
  if (m.dimension == 3 && !m.boxed) m.boxed.reset(new (std::nothrow) OSTUtils::SGCompressor<3>(-1));
  if (m.dimension == 1 && !m.linear) m.linear.reset(new (std::nothrow) OSTUtils::SGCompressor<1>(-1));
  if (!m.boxed && !m.linear) return false;
  if (cells < 0 || length < 0) return false;

  // The header: magic and zone count first, then the whole table.
  const int64_t firstBytes = std::min<int64_t>(length, 4);
  const unsigned char* first = bytes.fetch(offset, firstBytes, m.scratch);
  if (!first) return false;
  int64_t headBytes = OSTUtils::ZoneTableBytes(first, length);
  if (headBytes == 0) headBytes = firstBytes;  // ReadZoneTable says what is wrong with it
  const unsigned char* head = bytes.fetch(offset, headBytes, m.scratch);
  if (!head || !OSTUtils::ReadZoneTable(head, length, cells + kSlack, m.spans)) return false;

  // A single-zone block stands or falls with its zone, so that zone is decoded now.
  if (m.spans.size == 1 && m.spans[0].skip == 0) {
    Buffered& b = m.held[0];
    if (!b.values.SetSize(cells + kSlack, nullptr, true)) return false;
    std::vector<Impl::Task> tasks{{0, b.values.data, &b, false, 0}};
    if (!m.decode(tasks) || !tasks[0].ok) return false;
    b.zone = 0;
    m.carry = 0;
  }
  return true;
}

bool GridSlabDecoder::read(int64_t first, int64_t count, float* out) {
  Impl& m = *impl_;
  if (!m.bytes || count < 0 || first < m.done || first > m.cells || count > m.cells - first || (count > 0 && !out)) {
    ZUtils::logReport("[ERROR] Grid slab of cells %lld + %lld: runs must ascend within the grid\n",
                      static_cast<long long>(first), static_cast<long long>(count));
    return false;
  }
  const int64_t end = first + count;
  const OSTUtils::OstArray<OSTUtils::ZoneSpan, int>& spans = m.spans;
  while (m.next < spans.size && spans[m.next].valueEnd <= first) ++m.next;

  Buffered* carried = m.carry >= 0 ? &m.held[m.carry] : nullptr;
  std::vector<Impl::Task> tasks;
  Buffered* taken = nullptr;
  int last = m.next;
  for (int i = m.next; i < spans.size && spans[i].valueStart < end; ++i) {
    last = i + 1;
    if (carried && carried->zone == i) continue;
    const OSTUtils::ZoneSpan& s = spans[i];
    if (s.valueStart >= first && s.valueEnd <= end) {
      tasks.push_back({i, out + (s.valueStart - first), nullptr, false, 0});
      continue;
    }
    Buffered* b = m.spareBuffer(taken);
    if (!b || !b->values.SetSize(s.valueEnd - s.valueStart, nullptr, true)) return false;
    b->zone = i;
    b->ok = false;
    b->written = 0;
    taken = b;
    tasks.push_back({i, b->values.data, b, false, 0});
  }
  if (!m.decode(tasks)) return false;

  // The runs the zones wrote, in ascending order; what lies between them is 0.
  int64_t cursor = first;
  size_t t = 0;
  Buffered* keep = nullptr;
  for (int i = m.next; i < last; ++i) {
    const OSTUtils::ZoneSpan& s = spans[i];
    const Buffered* b = nullptr;
    int64_t written = 0;
    if (carried && carried->zone == i) {
      b = carried;
      written = carried->ok ? carried->written : 0;
    } else {
      written = tasks[t].written;
      b = tasks[t].held;
      ++t;
    }
    if (s.valueEnd > end) keep = const_cast<Buffered*>(b);
    const int64_t from = std::max(s.valueStart, first), to = std::min(s.valueStart + written, end);
    if (to <= from) continue;
    if (from > cursor) std::memset(out + (cursor - first), 0, static_cast<size_t>(from - cursor) * sizeof(float));
    if (b) std::memcpy(out + (from - first), b->values.data + (from - s.valueStart), static_cast<size_t>(to - from) * sizeof(float));
    cursor = to;
  }
  if (end > cursor) std::memset(out + (cursor - first), 0, static_cast<size_t>(end - cursor) * sizeof(float));

  m.carry = -1;
  for (int k = 0; k < 3; ++k) {
    if (&m.held[k] == keep) m.carry = k;
    else m.held[k].zone = -1;
  }
  m.done = end;
  return true;
}

int64_t GridSlabDecoder::variedCells() const {
  const Impl& m = *impl_;
  int64_t cells = 0;
  for (int i = 0; i < m.spans.size; ++i) {
    const OSTUtils::ZoneSpan& s = m.spans[i];
    if (s.streamEnd - s.streamStart - s.skip > 9) cells += std::max<int64_t>(0, std::min(s.valueEnd, m.cells) - s.valueStart);
  }
  return cells;
}
