// A whole nebu2 frame from bytes through the public interface: the full load or the
// header-only load, touching every grid channel (both ends of its buffer), the transform, every group,
// slot and particle value at the ends of each channel, and the identifier and name lookups;
// or the stored-form descriptions of the grid and particle channels (nebinfo's) on a
// frame loaded directly.
//
// Input: one selector byte, then the file. Selector % 3 picks one of the three readings
// (0 full load, 1 header-only load, 2 stored-form description); 0xff runs all three, as
// the regression inputs do. Running one reading per input instead of all three more than
// doubles the rate, and the fuzzer mutates the selector like any other byte.
#include <memory>
#include <new>
#include <vector>

#include "FuzzTarget.h"
#include "cache/ChannelStorageInfo.h"
#include "loader/FrameFactory.h"
#include "cache/OstraneFrameData.h"
#include "nebloader.h"
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
  if (all || selector % 3 == 0) {
    if (INeb* frame = newINeb(path)) {
      touchFrame(frame);
      deleteINeb(frame);
    }
  }
  if (all || selector % 3 == 1) {
    if (INeb* header = newINebMaxVox(path, -1, true)) {
      touchFrame(header);
      deleteINeb(header);
    }
  }
  if (all || selector % 3 == 2) describeStored(path);
  return 0;
}
