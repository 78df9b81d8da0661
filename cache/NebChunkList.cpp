// The chunk list of a nebu2 file.
//
// It starts 4 bytes after the data offset. Each chunk: int32 id, then (except for the end
// id 9999999) a size, int64 for version >= 4 and int32 for older files, then the payload.
// Known chunks (1000..1004) are parsed field by field and their declared size is not
// trusted; only unknown chunks (and 1002 in header-only mode) are skipped by it.
#include <string>

#include "cache/NebImport.h"
#include "zutils/Report.h"
#include "particles/PGroup.h"

namespace {

const char* const kChunkIdMessage = "Failed reading chunk id!\n";
const char* const kChunkSizeMessage = "Failed reading chunk size!\n";
const char* const kChunkDataMessage = "Failed reading chunk data!\n";
const char* const kParticleDataMessage = "Failed to load compressed particle data!\n";

void resizeGroups(OstraneFrameData& frame, int64_t count) {
  if (!frame.groups.SetSize(static_cast<int>(count))) throw IOErrException();
}

void setGroupName(PGroup& group, const std::string& text) {
  if (!group.setName(text.data(), static_cast<int64_t>(text.size()))) throw IOErrException();
}

// 1000: G × { string name; int32 particleCount, presentChannels, groupType }, 24-byte box,
// 4 more bytes.
void readGroupTable(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  OstraneFrameData& frame = ctx.frame;
  const int32_t count = in.readInt32(kChunkDataMessage);
  // The smallest entry is an empty name and three int32: 16 bytes.
  in.requireLeft(count, 16, kChunkDataMessage);
  resizeGroups(frame, count);
  OSTUtils::MemoryReservation nameBytes;  // declared first: outlives the string's storage
  std::string name;
  for (int32_t i = 0; i < count; ++i) {
    PGroup& group = frame.groups[i];
    in.readString(name, nameBytes);
    setGroupName(group, name);
    group.particleCount = in.readInt32(kChunkDataMessage);
    group.presentChannels = in.readInt32(kChunkDataMessage);
    group.groupType = in.readInt32(kChunkDataMessage);
  }
  float box[6];
  in.read(box, sizeof box, kChunkDataMessage);
  for (int k = 0; k < 3; ++k) {
    frame.bboxMin[k] = box[k];
    frame.bboxMax[k] = box[3 + k];
  }
  ctx.groupTableSeen = true;
  in.readInt32(kChunkIdMessage);
}

// 1002: G × { string name; int32 groupType, particleCount; 8 bytes extra; int32 C;
// C × { int32 slot, method, S; S bytes } }.
void readGroupData(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  OstraneFrameData& frame = ctx.frame;
  const int32_t count = in.readInt32(kChunkDataMessage);
  in.requireLeft(count, 24, kChunkDataMessage);
  frame.groups.SetSize(0);
  resizeGroups(frame, count);
  OSTUtils::MemoryReservation nameBytes;  // declared first: outlives the string's storage
  std::string name;
  for (int32_t i = 0; i < count; ++i) {
    PGroup& group = frame.groups[i];
    group.owner = &frame;
    in.readString(name, nameBytes);
    setGroupName(group, name);
    group.groupType = in.readInt32(kChunkDataMessage);
    group.particleCount = in.readInt32(kChunkDataMessage);
    in.read(group.groupExtra, sizeof group.groupExtra, kChunkDataMessage);
    group.presentChannels = 0;
    const int32_t channelCount = in.readInt32(kChunkDataMessage);
    in.requireLeft(channelCount, 12, kChunkDataMessage);
    for (int32_t c = 0; c < channelCount; ++c) {
      const int32_t slot = in.readInt32(kChunkDataMessage);
      const int32_t method = in.readInt32(kChunkDataMessage);
      const int32_t storedBytes = in.readInt32(kChunkDataMessage);
      if (slot < 0 || slot >= PGroup::kSlotCount) {
        ZUtils::logReportAt(ZUtils::kReportError, "Bad particle channel slot %d in group %s\n", slot, name.c_str());
        throw IOErrException();
      }
      in.requireLeft(storedBytes, kParticleDataMessage);
      PGroup::ChannelRecord& record = group.channels[slot];
      record.method = method;
      if (!record.stored.SetSize(storedBytes, nullptr, true)) throw IOErrException();
      // Kept as stored: the channel is expanded on first access (PGroup), where a record
      // that cannot be expanded makes that channel alone unavailable, and the expanded
      // size (particleCount x words x 4) is checked against the memory limit.
      in.read(record.stored.data, storedBytes, kParticleDataMessage);
      if (group.hasChannel(slot)) group.presentChannels |= static_cast<int32_t>(1u << slot);
    }
  }
}

// 1003: K × { int32 channel; float minimum, maximum }. Channels outside 0..31 are ignored.
void readValueRanges(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  const int32_t count = in.readInt32(kChunkDataMessage);
  in.requireLeft(count, 12, kChunkDataMessage);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t channel = in.readInt32(kChunkDataMessage);
    float range[2];
    in.read(range, sizeof range, kChunkDataMessage);
    if (static_cast<uint32_t>(channel) < OstraneFrameData::kChannelCount) {
      ctx.frame.channelSlots[channel].minimum = range[0];
      ctx.frame.channelSlots[channel].maximum = range[1];
    }
  }
}

// 1004: K × { int32 channel; int64 value }.
void readValues64(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  const int32_t count = in.readInt32(kChunkDataMessage);
  in.requireLeft(count, 12, kChunkDataMessage);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t channel = in.readInt32(kChunkDataMessage);
    const int64_t value = in.readInt64(kChunkDataMessage);
    if (static_cast<uint32_t>(channel) < OstraneFrameData::kChannelCount) ctx.frame.channelValues64[channel] = value;
  }
}

}  // namespace

void ReadNebChunkList(NebImportContext& ctx, int64_t dataOffset) {
  NebFileReader& in = ctx.in;
  const int32_t version = ctx.frame.version;
  if (dataOffset < 0 || dataOffset > in.length()) {
    ZUtils::logReportAt(ZUtils::kReportError, "%s", kChunkIdMessage);
    throw IOErrException();
  }
  in.seek(dataOffset + 4, SEEK_SET, kChunkIdMessage);
  for (;;) {
    const int32_t id = in.readInt32(kChunkIdMessage);
    if (id == kChunkListEnd) break;
    const int64_t size = version >= 4 ? in.readInt64(kChunkSizeMessage) : in.readInt32(kChunkSizeMessage);
    switch (id) {
      case kChunkGroupTable:
        readGroupTable(ctx);
        if (version < 3) return;
        break;
      case kChunkText:
        in.readString(ctx.frame.chunkText, ctx.frame.chunkTextBytes);
        break;
      case kChunkGroupData:
        if (ctx.headerOnly) {
          in.requireLeft(size, kChunkSizeMessage);
          in.seek(size, SEEK_CUR, kChunkSizeMessage);
        } else {
          readGroupData(ctx);
        }
        break;
      case kChunkValueRanges:
        readValueRanges(ctx);
        break;
      case kChunkValues64:
        readValues64(ctx);
        break;
      default:
        in.requireLeft(size, kChunkSizeMessage);
        in.seek(size, SEEK_CUR, kChunkSizeMessage);
        break;
    }
  }
}
