// The tag stream of a nebu2 file: int32 tag, payload, ... after the 4 bytes "NEBU"; a tag
// outside 1..13 ends it. Tags are applied in file order, so a later one overwrites what an
// earlier one set (old files write single properties with tags 8..11, newer ones the whole
// block with tag 12).
//
// The short texts ("1\n", "x41\n", ...) are the reports of the individual reads; they are
// what a user sends back with a broken file, so they stay exactly as they are.
#include <cstring>

#include "cache/GridRecordBytes.h"
#include "cache/NebImport.h"
#include "ostutils/Allocation.h"
#include "zutils/Report.h"

namespace {

// Property block offsets written by the single-field tags.
const int kPropsTag9Offset = 348;
const int kPropsTag10Offset = 16;
const int kPropsTag11Offset = 384;

void readGridData(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  OstraneFrameData& frame = ctx.frame;
  in.read(frame.gridSize, 12, "3\n");
  const int32_t count = in.readInt32("4\n");
  frame.comprDataSzInts = count;
  if (count < 0) {
    ZUtils::logReportAt(ZUtils::kReportError, "OstraneFrameData::ImportNeb bad comprDataSzInts!");
    throw IOErrException();
  }
  in.requireLeft(count, 4, "x41\n");
  if (ctx.gridInFile) {
    ctx.gridInFile->offset = in.position();
    ctx.gridInFile->ints = count;
  }
  if (ctx.headerOnly || ctx.gridInFile) {
    in.seek(static_cast<int64_t>(count) * 4, SEEK_CUR, "x41\n");
    return;
  }
  // A second grid record replaces the first.
  OSTUtils::releaseArray(frame.comprData);
  if (!OSTUtils::newArray(frame.comprData, static_cast<uint64_t>(count))) throw IOErrException();
  in.read(frame.comprData, static_cast<int64_t>(count) * 4, "x41\n");
}

void readPropsBlock(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  OstraneFrameData& frame = ctx.frame;
  const int32_t n = in.readInt32("12\n");
  const uint32_t bytes = static_cast<uint32_t>(n);
  if (bytes <= OstraneFrameData::kPropsBlockBytes) {
    in.read(frame.propsBlock, bytes, "12\n");
    return;
  }
  in.read(frame.propsBlock, OstraneFrameData::kPropsBlockBytes, "12\n");
  // Newer writers may have a longer block; the rest is skipped. A negative n is damage.
  const int64_t rest = static_cast<int64_t>(n) - OstraneFrameData::kPropsBlockBytes;
  in.requireLeft(rest, "x121\n");
  in.seek(rest, SEEK_CUR, "x121\n");
}

}  // namespace

void ReadNebTagStream(NebImportContext& ctx) {
  NebFileReader& in = ctx.in;
  OstraneFrameData& frame = ctx.frame;
  for (;;) {
    const int32_t tag = in.readInt32("0\n");
    switch (tag) {
      case 1:
        frame.channelMask = in.readInt32("1\n");
        frame.flags = (frame.flags & ~OstraneFrameData::kFlagMaskBit31) |
                      ((static_cast<uint32_t>(frame.channelMask) >> 31) & 1u);
        break;
      case 2:
        in.read(frame.transform, sizeof frame.transform, "2\n");
        break;
      case 3:
        readGridData(ctx);
        break;
      case 4:
        frame.frameNumber = in.readInt32("4\n");
        break;
      case 5:
        in.read(&frame.tag5Float, 4, "7\n");
        break;
      case 6:
        in.read(frame.auxTransforms[0], sizeof frame.auxTransforms[0], "6\n");
        break;
      case 7:
      case 13:
        ReadNebParticleBlock(ctx, tag);
        break;
      case 8:
        frame.setPropsValue(static_cast<double>(in.readFloat("20\n")));
        break;
      case 9:
        in.read(frame.propsBlock + kPropsTag9Offset, 4, "21\n");
        in.read(&frame.tag9Float, 4, "22\n");
        break;
      case 10: {
        double value = 0.0;
        in.read(&value, 8, "24\n");
        frame.setPropsValue(value);
        in.read(frame.propsBlock + kPropsTag10Offset, 8, "25\n");
        break;
      }
      case 11:
        for (int k = 0; k < 3; ++k) in.read(frame.auxTransforms[k], sizeof frame.auxTransforms[k], "11\n");
        in.read(frame.propsBlock + kPropsTag11Offset, 8, "x111\n");
        break;
      case 12:
        readPropsBlock(ctx);
        break;
      default:
        return;
    }
  }
}
