// Particle identifiers of an old-style particle block (sub-record 2).
//
// B bytes of one entropy-coded stream: for each particle two values, the low and then the
// high 32 bits of the difference to the previous particle's identifier (the first one is
// the identifier itself). The identifiers become slot 10 of the group, 64 bits each, low
// word first. Differences that are negative mean the identifiers are not ascending; the
// group's index is then built right away so lookups never search an unsorted channel.
#include <cstring>
#include <vector>

#include "cache/NebImport.h"
#include "compress/EntropyCoder.h"
#include "particles/PGroup.h"
#include "zutils/Report.h"

void ReadNebParticleIds(NebImportContext& ctx, PGroup& group, int64_t bytes) {
  NebFileReader& in = ctx.in;
  OSTUtils::MemoryReservation streamBytes;
  NebFileReader::requireAllocation(bytes, 1, streamBytes);
  std::vector<unsigned char> stream(static_cast<size_t>(bytes));
  in.read(stream.data(), bytes, "x161\n");

  const int64_t n = group.particleCount;
  if (n < 0 || n > in.length()) {
    ZUtils::logReportAt(ZUtils::kReportError, "Bad particle count %lld in nebu2 file!\n", static_cast<long long>(n));
    throw IOErrException();
  }
  int64_t* ids = static_cast<int64_t*>(group.allocateChannel(10));
  if (!ids && n > 0) throw IOErrException();
  if (n == 0) return;

  OSTUtils::EntropyCoder coder;
  if (!OSTUtils::InitDecoder(coder, stream.data(), bytes)) throw IOErrException();
  bool descending = false;
  uint64_t previous = 0;
  for (int64_t p = 0; p < n; ++p) {
    const uint32_t low = static_cast<uint32_t>(OSTUtils::DecodeValue(coder));
    const uint32_t high = static_cast<uint32_t>(OSTUtils::DecodeValue(coder));
    const uint64_t difference = (static_cast<uint64_t>(high) << 32) | low;
    if (p > 0 && static_cast<int64_t>(difference) < 0) descending = true;
    // Wrap-around sum: the writer's differences were taken the same way.
    const uint64_t id = p > 0 ? previous + difference : difference;
    std::memcpy(&ids[p], &id, sizeof id);
    previous = id;
  }
  if (OSTUtils::DecoderFailed(coder)) {
    ZUtils::logReportAt(ZUtils::kReportError, "Failed decoding particle ids of group %s\n", group.getName());
    throw IOErrException();
  }
  if (!descending) return;

  if (!group.idOrder.SetSize(static_cast<int>(n), nullptr, true)) throw IOErrException();
  for (int64_t p = 0; p < n; ++p) group.idOrder[static_cast<int>(p)] = static_cast<int>(p);
  if (!group.decompressChannel(10, true)) throw IOErrException();
  group.idOrder.ids = static_cast<const int64_t*>(static_cast<void*>(group.channels[10].expanded.data));
  if (!group.idOrder.sortByIds()) throw IOErrException();
}
