#include "cache/ChannelStorageInfo.h"

#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "compress/NebFormat.h"
#include "particles/PGroup.h"

std::vector<GridChannelStorage> DescribeGridChannels(const OstraneFrameData& frame, bool* overrun) {
  const GridRecordBytes records(frame.comprData, frame.comprDataSzInts);
  return DescribeGridChannels(frame.version, records, overrun);
}

std::vector<GridChannelStorage> DescribeGridChannels(int32_t version, const GridRecordBytes& records, bool* overrun) {
  std::vector<GridChannelStorage> out;
  if (overrun) *overrun = false;
  const int dimension = NebFormat::GridCodecDimension(version);
  const int64_t n = records.ints();
  bool seen[33] = {};
  records.walkRecords([&](int32_t channel, int64_t payload, int64_t length) {
    if (length > n - payload) {
      if (overrun) *overrun = true;
      return false;
    }
    const int key = channel >= 0 && channel < 32 ? channel : 32;
    if (!seen[key]) {
      seen[key] = true;
      GridChannelStorage s;
      s.channel = channel;
      s.storedBytes = length * 4;
      s.zip = channel == NebFormat::kGridPackedColour;
      if (!s.zip) {
        OSTUtils::OstArray<unsigned char, int64_t> scratch;
        const int64_t offset = 4 * payload;
        s.zones = OSTUtils::DescribeGridBlockZones(
            [&](int64_t at, int64_t count) { return records.fetch(offset + at, count, scratch); }, length * 4,
            dimension);
      }
      out.push_back(s);
    }
    return true;
  });
  return out;
}

std::vector<ParticleChannelStorage> DescribeParticleChannels(const PGroup& group) {
  std::vector<ParticleChannelStorage> out;
  for (int slot = 0; slot < PGroup::kSlotCount; ++slot) {
    const PGroup::ChannelRecord& rec = group.channels[slot];
    if (!group.slotHasData(slot)) continue;
    ParticleChannelStorage s;
    s.slot = slot;
    if (rec.stored.size > 0) {
      s.method = rec.method;
      s.storedBytes = rec.stored.size;
      if (s.method == 2 || s.method == 3) s.zones = OSTUtils::DescribeGridBlockZones(rec.stored.data, rec.stored.size, 1);
    } else {
      s.storedBytes = rec.expanded.size;
    }
    out.push_back(s);
  }
  return out;
}
