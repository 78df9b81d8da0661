// A whole nebu2 frame from bytes through the public interface: the full load or the
// header-only load, touching every grid channel (both ends of its buffer), the transform, every group,
// slot and particle value at the ends of each channel, and the identifier and name lookups;
// or the stored-form descriptions of the grid and particle channels (nebinfo's) on a
// frame loaded directly.
//
// Or the slab reading of the grid against the whole-channel decode (differential): every
// channel through a slab reader of its own, in slabs of 1 and of 8 layers, from the records
// in memory and from the file (ImportNebGridInFile); it must open exactly when getChannel
// gives values and give them bit for bit, except that a packed colour stream the whole
// decode refuses may open and must then fail on some slab. Once more from the file under
// a memory budget a few KiB above what is in use: a slab then fails or is the same, never
// other values. Last, the file changes under the readers: rewritten with other bytes of the
// same length, a reader that has it open reads them without harm; cut short, it can no
// longer be opened for slabs.
//
// Input: one selector byte, then the file. Selector % 4 picks one of the readings (0 full
// load, 1 header-only load, 2 stored-form description, 3 slabs); 0xff runs all of them,
// as the regression inputs do. Running one reading per input instead of all more than
// doubles the rate, and the fuzzer mutates the selector like any other byte.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "FuzzTarget.h"
#include "cache/ChannelStorageInfo.h"
#include "cache/FrameSlabReader.h"
#include "cache/GridRecordBytes.h"
#include "loader/FrameFactory.h"
#include "cache/OstraneFrameData.h"
#include "nebloader.h"
#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"
#include "particles/PGroup.h"

namespace {

volatile float gSink;

void touchGroup(INeb* frame, IOstranePrtGroup* g) {
  if (!g) return;
  const char* name = g->getName();
  frame->findParticleGroup(name);
  const int count = g->getParticleCount();
  std::vector<char> value;
  for (int slot = -1; slot <= 32; ++slot) {
    g->hasChannel(slot);
    g->getChannelDataType(slot);
    g->getChannelComponents(slot);
    const int bytes = g->getBytesPerParticle(slot);
    if (bytes <= 0 || bytes > (1 << 16)) continue;
    value.assign(static_cast<size_t>(bytes), 0);
    const int probes[] = {-1, 0, count / 2, count - 1, count};
    for (int p : probes) g->getParticleValue(p, slot, value.data());
  }
  // Identifiers: the ids of a few particles, and ids that are probably absent.
  const int idBytes = g->getBytesPerParticle(10);
  if (idBytes == 8 && count > 0) {
    long long id = 0;
    const int probes[] = {0, count / 2, count - 1};
    for (int p : probes) {
      if (g->getParticleValue(p, 10, &id)) g->findParticleById(id);
    }
  }
  g->findParticleById(-1);
  g->findParticleById(0x7fffffffffffffffLL);
}

void touchFrame(INeb* frame) {
  int n[3] = {0, 0, 0};
  frame->getGridSize(n);
  float transform[12];
  frame->getTransform(transform);
  for (int c = -1; c <= 32; ++c) {
    frame->hasChannel(c);
    const float* values = frame->getChannel(c);
    if (!values) continue;
    gSink = nebfuzz::touchChannel(values, n);
  }
  const int groups = frame->getParticleGroupCount();
  for (int i = -1; i <= groups; ++i) touchGroup(frame, frame->getParticleGroup(i));
  frame->findParticleGroup("");
  frame->findParticleGroup("no such group");
  frame->findParticleGroup(nullptr);
}

void describeStored(const char* path) {
  std::unique_ptr<OstraneFrameData> frame(new (std::nothrow) OstraneFrameData);
  if (!frame || LoadFrame(frame.get(), path, "", 0.0, -1, true, false) != 0) return;
  bool overrun = false;
  for (const GridChannelStorage& c : DescribeGridChannels(*frame, &overrun)) gSink = c.zones.finestStep;
  for (int i = 0; i < frame->groups.size; ++i)
    for (const ParticleChannelStorage& p : DescribeParticleChannels(frame->groups[i])) gSink = p.zones.coarsestStep;
}

// Every slab of `channel` from a fresh reader against `whole` (null: refused by getChannel).
void compareSlabs(const OstraneFrameData& frame, const GridRecordBytes& bytes, int channel, const float* whole,
                  int height, std::vector<float>& slab) {
  FrameSlabReader reader(frame, bytes);
  const bool opened = reader.open(channel);
  const bool colourStream = opened && reader.sourceOf(channel) == 18;
  if (opened != (whole != nullptr) && !(colourStream && !whole)) __builtin_trap();
  if (!opened) return;
  const int64_t layer = int64_t(frame.gridSize[0]) * frame.gridSize[1];
  bool failed = false;
  for (int z0 = 0; z0 < frame.gridSize[2] && !failed; z0 += height) {
    const int z1 = std::min(frame.gridSize[2], z0 + height);
    slab.assign(static_cast<size_t>((z1 - z0) * layer), -1.0f);
    failed = !reader.read(channel, z0, z1, slab.data());
    if (whole && (failed || std::memcmp(slab.data(), whole + z0 * layer, slab.size() * sizeof(float)) != 0))
      __builtin_trap();
  }
  if (!whole && !failed) __builtin_trap();
}

// Slabs of 8 layers of `channel` under a budget of 64 KiB (a file read's smallest scratch)
// plus 8, 16, 32 or 64 KiB (by channel) above what is in use: each one read must equal
// `whole` (a refusal of a file read, a zone's scratch or a decoder table fails the slab;
// it never passes for data).
void compareTightSlabs(const OstraneFrameData& frame, const GridRecordBytes& bytes, int channel, const float* whole,
                       std::vector<float>& slab) {
  const uint64_t budget = OSTUtils::memoryLimitBytes();
  const uint64_t room = (uint64_t(64) << 10) + (uint64_t(8192) << (channel % 4));
  OSTUtils::setMemoryLimitBytes(OSTUtils::memoryHeldBytes() - OSTUtils::largeBlockCacheBytes() + room);
  {
    FrameSlabReader reader(frame, bytes);
    const int64_t layer = int64_t(frame.gridSize[0]) * frame.gridSize[1];
    if (reader.open(channel)) {
      for (int z0 = 0; z0 < frame.gridSize[2]; z0 += 8) {
        const int z1 = std::min(frame.gridSize[2], z0 + 8);
        slab.assign(static_cast<size_t>((z1 - z0) * layer), -1.0f);
        if (!reader.read(channel, z0, z1, slab.data())) break;
        if (whole && std::memcmp(slab.data(), whole + z0 * layer, slab.size() * sizeof(float)) != 0) __builtin_trap();
      }
    }
  }
  OSTUtils::setMemoryLimitBytes(budget);
}

// The file under `path` changes while readers have it: the same length with other bytes
// (read without harm, whatever they decode to), then cut short (refused at open).
void changeTheFile(const char* path, const OstraneFrameData& header, const GridDataLocation& where) {
  std::vector<unsigned char> bytes(static_cast<size_t>(where.fileBytes));
  FILE* f = std::fopen(path, "rb");
  if (!f) return;
  const bool read = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  if (!read) return;
  GridRecordBytes open;
  if (!open.openFile(where)) __builtin_trap();
  for (size_t i = static_cast<size_t>(where.offset); i < bytes.size(); i += 7) bytes[i] ^= 0x5A;
  if (!(f = std::fopen(path, "wb"))) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  std::vector<float> slab;
  for (int c = 0; c < 32; ++c) {
    FrameSlabReader reader(header, open);
    if (!reader.open(c)) continue;
    const int64_t layer = int64_t(header.gridSize[0]) * header.gridSize[1];
    for (int z0 = 0; z0 < header.gridSize[2]; z0 += 8) {
      const int z1 = std::min(header.gridSize[2], z0 + 8);
      slab.assign(static_cast<size_t>((z1 - z0) * layer), 0.0f);
      if (!reader.read(c, z0, z1, slab.data())) break;
    }
  }
  if (!(f = std::fopen(path, "wb"))) return;
  std::fwrite(bytes.data(), 1, bytes.size() - 1, f);
  std::fclose(f);
  GridRecordBytes cut;
  if (cut.openFile(where)) __builtin_trap();
}

void compareSlabReading(const char* path) {
  std::unique_ptr<OstraneFrameData> whole(new (std::nothrow) OstraneFrameData);
  std::unique_ptr<OstraneFrameData> header(new (std::nothrow) OstraneFrameData);
  if (!whole || !header) return;
  const int status = whole->ImportNeb(path, true, false);
  GridDataLocation where;
  // The load that leaves the grid in the file takes and refuses exactly the same files.
  if (ImportNebGridInFile(*header, path, where) != status) __builtin_trap();
  if (status != 0) return;
  GridRecordBytes inMemory(whole->comprData, whole->comprDataSzInts), inFile;
  if (!inFile.openFile(where)) __builtin_trap();
  // The stored form described from the file equals the one described from memory.
  bool overrunInMemory = false, overrunInFile = false;
  const std::vector<GridChannelStorage> described = DescribeGridChannels(*whole, &overrunInMemory);
  const std::vector<GridChannelStorage> fromFile = DescribeGridChannels(whole->version, inFile, &overrunInFile);
  if (overrunInMemory != overrunInFile || described.size() != fromFile.size()) __builtin_trap();
  for (size_t i = 0; i < described.size(); ++i) {
    const GridChannelStorage &a = described[i], &b = fromFile[i];
    const GridBlockZones &x = a.zones, &y = b.zones;
    if (a.channel != b.channel || a.storedBytes != b.storedBytes || a.zip != b.zip || x.readable != y.readable ||
        x.zoneCount != y.zoneCount || x.rawZones != y.rawZones || x.constantZones != y.constantZones ||
        x.quantizedZones != y.quantizedZones || x.otherZones != y.otherZones || x.maxPasses != y.maxPasses ||
        std::memcmp(&x.finestStep, &y.finestStep, 4) != 0 || std::memcmp(&x.coarsestStep, &y.coarsestStep, 4) != 0)
      __builtin_trap();
  }
  // The whole decode of up to four channels at once (speed with its velocity) must not
  // meet the budget, or a refusal for memory would pass for a refusal of the data.
  const int64_t cells = whole->CellCount();
  if (cells < 0 || cells > (1 << 14)) return;
  const uint64_t budget = OSTUtils::memoryLimitBytes();
  OSTUtils::setMemoryLimitBytes(budget + (uint64_t(16) << 20));
  std::vector<float> slab;
  for (int c = 0; c < 32; ++c) {
    // Each channel from nothing decoded, as a fresh reader reads it (a colour unpacked for
    // 7 would otherwise stand for 8's own record).
    const float* values = whole->getChannel(c);
    for (int height : {1, 8}) {
      compareSlabs(*whole, inMemory, c, values, height, slab);
      compareSlabs(*header, inFile, c, values, height, slab);
    }
    compareTightSlabs(*header, inFile, c, values, slab);
    for (int k = 0; k < 32; ++k) whole->ReleaseChannelSlot(k);
  }
  OSTUtils::setMemoryLimitBytes(budget);
  if (where.offset >= 0 && where.ints > 0) changeTheFile(path, *header, where);
}

}  // namespace

#if defined(NEB_FUZZ_ENTRY_POINT)
// A few bytes of constant zone may claim a channel of any size, and a frame has up to 32 of
// them: zero-filling what the script's budget allows each time teaches the fuzzer nothing.
// Particle counts are bounded the same way, and sorting the identifiers is what costs:
// under the instrumentation a 470-byte frame claiming 458K particles (7 MiB of
// identifiers, order and merge scratch, within an 8 MiB budget) took 2 s per input. A
// process budget of 1 MiB in all (a 60^3 float channel, or 64K identifiers with their
// order) holds every seed (20 x 20 x 15 cells at most) many times over, keeps an input well
// under a second whatever its number of channels, and sends the rest down the budget's
// refusal path.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OSTUtils::setMemoryLimitBytes(uint64_t(1) << 20);
  return 0;
}
#endif

NEB_FUZZ_TARGET(frame) {
  nebfuzz::Input in{data, size};
  const uint32_t selector = in.take(1);
  const char* path = nebfuzz::writeTempFile("frame.neb", in.data, in.size);
  if (!path) return 0;
  const bool all = selector == 0xff;
  if (all || selector % 4 == 0) {
    if (INeb* frame = newINeb(path)) {
      touchFrame(frame);
      deleteINeb(frame);
    }
  }
  if (all || selector % 4 == 1) {
    if (INeb* header = newINebMaxVox(path, -1, true)) {
      touchFrame(header);
      deleteINeb(header);
    }
  }
  if (all || selector % 4 == 2) describeStored(path);
  if (all || selector % 4 == 3) compareSlabReading(path);
  return 0;
}
