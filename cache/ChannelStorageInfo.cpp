#include "cache/ChannelStorageInfo.h"

#include "cache/ChannelDecoder.h"
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
  const GridRecordIndex index(records);
  if (overrun) *overrun = index.overran();
  const int dimension = NebFormat::GridCodecDimension(version);
  OSTUtils::OstArray<unsigned char, int64_t> scratch;
  for (const GridRecordIndex::Record& r : index.firstRecords()) {
    if (r.overruns) continue;
    GridChannelStorage s;
    s.channel = r.channel;
    s.storedBytes = r.length * 4;
    s.zip = r.channel == NebFormat::kGridPackedColour;
    if (!s.zip) {
      const int64_t offset = 4 * r.payload;
      s.zones = OSTUtils::DescribeGridBlockZones(
          [&](int64_t at, int64_t count) { return records.fetch(offset + at, count, scratch); }, r.length * 4,
          dimension);
    }
    out.push_back(s);
  }
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
