// Old-style particle blocks of the tag stream (tags 7 and 13) and their identifiers.
//
// Block layout:
//   int32 N; N floats of scratch data (all channels of all groups of the block)
//   int32 G; G times:
//     string name; int32 particleCount; int32 start[32] (index into the scratch, -1 = absent)
//     sub-records until 0: 1 int32 groupType | 2 int32 B, B bytes of ids | 3 8 bytes extra
// Tag 7 keeps a slot's words raw in the scratch from its start index on; tag 13 keeps one
// SGCompressor<1> block there holding the slot component by component (all first words,
// then all second words, ...).
#include <cstring>
#include <string>
#include <vector>

#include "cache/GridBlockExtent.h"
#include "cache/NebImport.h"
#include "compress/SGCompressor.h"
#include "ostutils/Allocation.h"
#include "particles/MTComputeParticlesBbox.h"
#include "particles/PGroup.h"
#include "zutils/Report.h"

namespace {

void loadCompressedSlot(PGroup& group, int slot, const std::vector<float>& scratch, int64_t start) {
  const int words = PGroup::wordsPerParticle(slot);
  const int64_t n = group.particleCount;
  if (n < 0) {
    ZUtils::logReportAt(ZUtils::kReportError, "Bad particle count %lld in nebu2 file!\n", static_cast<long long>(n));
    throw IOErrException();
  }
  if (words == 0 || n == 0) return;
  const int64_t values = n * words;  // n < 2^31, words <= 3
  const int64_t available = (static_cast<int64_t>(scratch.size()) - start) * 4;
  // Checked before anything is sized by the particle count. The block is decoded here, at
  // load, into a fresh temporary: values no zone writes would have no defined contents, so
  // a block that does not account for every particle is refused with the file.
  if (GridBlockExtent(scratch.data() + start, available, 1) < values) {
    ZUtils::logReportAt(ZUtils::kReportError, "Particle channel %d of group %s cannot hold %lld particles\n", slot,
                        group.getName(), static_cast<long long>(n));
    throw IOErrException();
  }
  float* planar = nullptr;
  // Zeroed: zones may leave gaps below the extent. The allocation is checked against the
  // process-wide memory limit (a constant zone of 11 bytes may still claim two billion
  // values).
  if (!OSTUtils::newZeroedArray(planar, static_cast<uint64_t>(values))) throw IOErrException();
  struct Release {
    float*& p;
    ~Release() { OSTUtils::releaseArray(p); }
  } release{planar};
  OSTUtils::SGCompressor<1>* compressor = group.getCompressor(slot);
  if (!compressor || !compressor->DecompressBlock(scratch.data() + start, available, planar, values)) {
    ZUtils::logReportAt(ZUtils::kReportError, "Failed decoding particle channel %d of group %s\n", slot,
                        group.getName());
    throw IOErrException();
  }
  float* out = static_cast<float*>(group.allocateChannel(slot));
  if (!out) throw IOErrException();
  for (int c = 0; c < words; ++c) {
    const float* plane = planar + c * n;
    for (int64_t p = 0; p < n; ++p) out[c + words * p] = plane[p];
  }
}

void loadRawSlot(PGroup& group, int slot, const std::vector<float>& scratch, int64_t start) {
  const int64_t words = PGroup::wordsPerParticle(slot);
  const int64_t need = static_cast<int64_t>(group.particleCount) * words;
  if (group.particleCount < 0) {
    ZUtils::logReportAt(ZUtils::kReportError, "Bad particle count %d in nebu2 file!\n", group.particleCount);
    throw IOErrException();
  }
  if (need > static_cast<int64_t>(scratch.size()) - start) {
    ZUtils::logReportAt(ZUtils::kReportError, "Particle channel %d of group %s runs past its block\n", slot,
                        group.getName());
    throw IOErrException();
  }
  if (!group.setChannel(slot, scratch.data() + start, -1)) throw IOErrException();
}

void widenFrameBox(OstraneFrameData& frame, PGroup& group) {
  if (!frame.bboxJob) frame.bboxJob = new (std::nothrow) MTComputeParticlesBbox();
  if (!frame.bboxJob) throw std::bad_alloc();
  ZUtils::Box box;
  for (int k = 0; k < 3; ++k) {
    box.min[k] = frame.bboxMin[k];
    box.max[k] = frame.bboxMax[k];
  }
  int bad = 0;
  if (!frame.bboxJob->widenBox(&group, box, bad)) return;
  for (int k = 0; k < 3; ++k) {
    frame.bboxMin[k] = box.min[k];
    frame.bboxMax[k] = box.max[k];
  }
  if (bad > 0)
    ZUtils::logReportAt(ZUtils::kReportWarning, "#bad particles found in group %s, count:%d\n", group.getName(), bad);
}

}  // namespace

void ReadNebParticleBlock(NebImportContext& ctx, int tag) {
  NebFileReader& in = ctx.in;
  OstraneFrameData& frame = ctx.frame;
  const bool load = !ctx.headerOnly || !ctx.groupTableSeen;

  const int32_t scratchCount = in.readInt32("9\n");
  const char* const scratchMessage = tag == 13 ? "13\n" : "x91\n";
  in.requireLeft(scratchCount, 4, scratchMessage);
  OSTUtils::MemoryReservation scratchBytes;  // declared first: outlives the storage
  std::vector<float> scratch;
  if (load) {
    NebFileReader::requireAllocation(scratchCount, 4, scratchBytes);
    scratch.resize(static_cast<size_t>(scratchCount));
    in.read(scratch.data(), static_cast<int64_t>(scratchCount) * 4, scratchMessage);
  } else {
    in.seek(static_cast<int64_t>(scratchCount) * 4, SEEK_CUR, scratchMessage);
  }

  const int32_t groupCount = in.readInt32("11\n");
  // A group takes at least an empty name, the count, 32 start indices and the end sub-tag.
  in.requireLeft(groupCount, 4 + 4 + 128 + 4, "11\n");
  if (!frame.groups.SetSize(groupCount)) throw IOErrException();
  OSTUtils::MemoryReservation nameBytes;
  std::string name;
  for (int32_t g = 0; g < groupCount; ++g) {
    PGroup& group = frame.groups[g];
    group.owner = &frame;
    in.readString(name, nameBytes);
    if (!group.setName(name.data(), static_cast<int64_t>(name.size()))) throw IOErrException();
    group.particleCount = in.readInt32("12\n");
    int32_t starts[32];
    in.read(starts, sizeof starts, "13\n");

    if (load) {
      for (int slot = 0; slot < 32; ++slot) {
        const int32_t start = starts[slot];
        if (start == -1) continue;
        if (start < 0 || start >= scratchCount) {
          ZUtils::logReportAt(ZUtils::kReportError, "Particle channel %d of group %s starts outside its block\n", slot,
                              name.c_str());
          throw IOErrException();
        }
        if (tag == 13) {
          loadCompressedSlot(group, slot, scratch, start);
        } else {
          loadRawSlot(group, slot, scratch, start);
        }
      }
    }
    if (!ctx.groupTableSeen) widenFrameBox(frame, group);

    for (;;) {
      const int32_t sub = in.readInt32("14\n");
      if (sub == 0) break;
      if (sub == 1) {
        group.groupType = in.readInt32("15\n");
      } else if (sub == 2) {
        const int32_t bytes = in.readInt32("16\n");
        in.requireLeft(bytes, ctx.headerOnly ? "x162\n" : "x161\n");
        if (ctx.headerOnly) {
          in.seek(bytes, SEEK_CUR, "x162\n");
        } else {
          ReadNebParticleIds(ctx, group, bytes);
        }
      } else if (sub == 3) {
        in.read(group.groupExtra, sizeof group.groupExtra, "18\n");
      } else {
        ZUtils::logReportAt(ZUtils::kReportError, "19\n");
        throw IOErrException();
      }
    }
  }
  ctx.groupTableSeen = true;
}
