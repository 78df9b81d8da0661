// C interface: the stored form of a frame's grid and particle channels (what nebinfo
// prints), and expanding particle slots for a tool that checks them.
#include <vector>

#include "cache/ChannelStorageInfo.h"
#include "loader/CEntry.h"
#include "particles/ParticleSlotLayout.h"

using CInterface::badArgument;
using CInterface::frameOf;
using CInterface::frameOfGroup;
using CInterface::groupOf;
using CInterface::guardedOn;

namespace {

const size_t kGridRecordEnds[] = {NEB_FIELD_END(neb_grid_record, channel), NEB_FIELD_END(neb_grid_record, zip),
                                  NEB_FIELD_END(neb_grid_record, stored_bytes), NEB_FIELD_END(neb_grid_record, zones)};
const size_t kSlotRecordEnds[] = {NEB_FIELD_END(neb_slot_record, method), NEB_FIELD_END(neb_slot_record, stored_bytes),
                                  NEB_FIELD_END(neb_slot_record, zones)};

void copyZones(const GridBlockZones& z, neb_block_zones* out) {
  out->readable = z.readable ? 1 : 0;
  out->zone_count = z.zoneCount;
  out->raw_zones = z.rawZones;
  out->constant_zones = z.constantZones;
  out->quantized_zones = z.quantizedZones;
  out->other_zones = z.otherZones;
  out->finest_step = z.finestStep;
  out->coarsest_step = z.coarsestStep;
  out->max_passes = z.maxPasses;
}

// The first record of each grid channel, from memory or, for a frame whose grid stayed in
// its file, from the file (zone headers only). Empty, reported, when the file cannot be read.
std::vector<GridChannelStorage> gridRecordsOf(neb_frame* frame) {
  GridDataLocation where;
  if (!CInterface::gridInFileOf(frame, &where)) return DescribeGridChannels(*frameOf(frame));
  GridRecordBytes records;
  if (!records.openFile(where)) return std::vector<GridChannelStorage>();
  return DescribeGridChannels(frameOf(frame)->version, records);
}

}  // namespace

extern "C" {

int neb_frame_grid_record_count(neb_frame* frame) {
  return guardedOn("neb_frame_grid_record_count", frame, [&]() {
    if (!frame) return badArgument("neb_frame_grid_record_count", "null frame");
    return static_cast<int>(gridRecordsOf(frame).size());
  });
}

int neb_frame_grid_record(neb_frame* frame, int index, neb_grid_record* record) {
  static const char* const name = "neb_frame_grid_record";
  return guardedOn(name, frame, [&]() {
    if (!frame || !record) return badArgument(name, "null frame or output");
    if (!CInterface::sizeIsValid(record, kGridRecordEnds))
      return badArgument(name, "record->size is below sizeof(long long)");
    const std::vector<GridChannelStorage> stored = gridRecordsOf(frame);
    if (index < 0 || index >= static_cast<int>(stored.size())) return badArgument(name, "no record of that index");
    const GridChannelStorage& g = stored[static_cast<size_t>(index)];
    neb_grid_record r = neb_grid_record();
    r.size = sizeof r;
    r.channel = g.channel;
    r.zip = g.zip ? 1 : 0;
    r.stored_bytes = g.storedBytes;
    copyZones(g.zones, &r.zones);
    CInterface::deliverStruct(r, record, kGridRecordEnds);
    return NEB_OK;
  });
}

int neb_frame_grid_mask(neb_frame* frame, unsigned long long* mask) {
  return guardedOn("neb_frame_grid_mask", frame, [&]() {
    if (!frame || !mask) return badArgument("neb_frame_grid_mask", "null frame or output");
    *mask = static_cast<uint32_t>(frameOf(frame)->channelMask);
    return NEB_OK;
  });
}

int neb_frame_stored_group_count(neb_frame* frame) {
  return guardedOn("neb_frame_stored_group_count", frame, [&]() {
    if (!frame) return badArgument("neb_frame_stored_group_count", "null frame");
    return frameOf(frame)->groups.size;
  });
}

int neb_frame_stored_group(neb_frame* frame, int index, neb_group** group) {
  static const char* const name = "neb_frame_stored_group";
  return guardedOn(name, frame, [&]() {
    if (!frame || !group) return badArgument(name, "null frame or output");
    OstraneFrameData* f = frameOf(frame);
    if (index < 0 || index >= f->groups.size) return badArgument(name, "no group of that index");
    *group = CInterface::handleOf(&f->groups[index]);
    return NEB_OK;
  });
}

long long neb_group_stored_count(neb_group* group) {
  return CInterface::guardedCall("neb_group_stored_count", CInterface::routeOf(frameOfGroup(group)),
                                 [&]() -> long long {
                                   if (!group) return badArgument("neb_group_stored_count", "null group");
                                   return groupOf(group)->particleCount;
                                 });
}

int neb_group_slot_record(neb_group* group, int slot, neb_slot_record* record) {
  static const char* const name = "neb_group_slot_record";
  return guardedOn(name, frameOfGroup(group), [&]() {
    if (!group || !record) return badArgument(name, "null group or output");
    if (!CInterface::sizeIsValid(record, kSlotRecordEnds))
      return badArgument(name, "record->size is below sizeof(long long)");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument(name, "particle slots are 0..31");
    for (const ParticleChannelStorage& p : DescribeParticleChannels(*groupOf(group))) {
      if (p.slot != slot) continue;
      neb_slot_record r = neb_slot_record();
      r.size = sizeof r;
      r.method = p.method;
      r.stored_bytes = p.storedBytes;
      copyZones(p.zones, &r.zones);
      CInterface::deliverStruct(r, record, kSlotRecordEnds);
      return NEB_OK;
    }
    return NEB_E_ABSENT;
  });
}

int neb_group_expand_slot(neb_group* group, int slot, const void** values, long long* particles) {
  static const char* const name = "neb_group_expand_slot";
  return guardedOn(name, frameOfGroup(group), [&]() {
    if (!group || !values || !particles) return badArgument(name, "null group or output");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument(name, "particle slots are 0..31");
    PGroup* g = groupOf(group);
    if (!g->slotHasData(slot)) return NEB_E_ABSENT;
    if (!g->decompressChannel(slot, true)) return NEB_E_DECODE;
    const long long have = g->expandedParticleCount(slot);
    *values = have > 0 ? g->channels[slot].expanded.data : nullptr;
    *particles = have;
    return NEB_OK;
  });
}

}  // extern "C"
