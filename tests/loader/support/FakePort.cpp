// A stand-in import plug-in for the loader tests, built as a loadable module and copied
// under the names the loader looks for (f3dport_<suffix>.so, vdbport_<suffix>.so).
//
// It "reads" small text files instead of volume files, one directive per line:
//   size NX NY NZ        grid size of an import (default 2 2 2)
//   grid NAME FLAG       a grid the file offers; imported values are channel + 0.5
//   status N             an import returns N instead of loading
// Imports record the maxVoxels they were given in transform[9] so that tests can see it.
// Environment switches, read at each call: FAKEPORT_INIT_FAIL makes Initialize fail,
// FAKEPORT_REFUSE makes SetThreadManager refuse. FakePortCounters reports how often the
// thread-manager entry points were called.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cache/ChannelBuffer.h"
#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "nebloader.h"

#define FAKEPORT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Grid {
  std::string name;
  int flag;
};

struct FakeFile {
  int size[3] = {2, 2, 2};
  std::vector<Grid> grids;
  int status = 0;
};

bool readFakeFile(const char* path, FakeFile& out) {
  FILE* f = path ? std::fopen(path, "r") : nullptr;
  if (!f) return false;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    char name[256];
    int a, b, c;
    if (std::sscanf(line, "size %d %d %d", &a, &b, &c) == 3) {
      out.size[0] = a;
      out.size[1] = b;
      out.size[2] = c;
    } else if (std::sscanf(line, "grid %255s %d", name, &a) == 2) {
      out.grids.push_back({name, a});
    } else if (std::sscanf(line, "status %d", &a) == 1) {
      out.status = a;
    }
  }
  std::fclose(f);
  return true;
}

std::atomic<int> g_setCalls{0};
std::atomic<int> g_releaseCalls{0};

int importFrame(const char* path, OstraneFrameData* frame, const CacheIO::GridMapping* entries, int count,
                int64_t maxVoxels) {
  FakeFile file;
  if (!readFakeFile(path, file)) return 3;
  if (file.status != 0) return file.status;
  for (int i = 0; i < 3; ++i) frame->gridSize[i] = file.size[i];
  frame->transform[9] = static_cast<float>(maxVoxels);
  const int64_t cells = static_cast<int64_t>(file.size[0]) * file.size[1] * file.size[2];
  for (int i = 0; i < count; ++i) {
    const int channel = entries[i].channel;
    if (channel < 0 || channel >= 31 || !entries[i].name) continue;
    bool found = false;
    for (const Grid& g : file.grids) found = found || g.name == entries[i].name;
    if (!found) continue;
    // Through the library's own code, as a real plug-in must.
    if (!frame->PrepareChannelSlot(channel, 0)) return 4;
    float* values = frame->channelSlots[channel].holder->values.data;
    for (int64_t j = 0; j < cells; ++j) values[j] = static_cast<float>(channel) + 0.5f;
    frame->channelMask |= 1 << channel;
  }
  return 0;
}

}  // namespace

FAKEPORT_EXPORT int Initialize() { return std::getenv("FAKEPORT_INIT_FAIL") ? 1 : 0; }

FAKEPORT_EXPORT int SetThreadManager(ZUtils::ThreadManager* /*manager*/) {
  ++g_setCalls;
  return std::getenv("FAKEPORT_REFUSE") ? 1 : 0;
}

// Left out of the fakeport_noRelease build: a module missing one entry point.
#ifndef FAKEPORT_OMIT_RELEASE
FAKEPORT_EXPORT void ReleaseThreadManager() { ++g_releaseCalls; }
#endif

FAKEPORT_EXPORT void GetAvailableChannels(const char* file, CacheIO::AvailableChannelList* out) {
  FakeFile parsed;
  if (!out || !readFakeFile(file, parsed)) return;
  for (const Grid& g : parsed.grids) out->Append(CacheIO::AvailableChannels(g.name.c_str(), static_cast<uint8_t>(g.flag)));
}

FAKEPORT_EXPORT int ImportFrameF3D(const char* path, OstraneFrameData* frame, bool /*headerOnly*/,
                                   const CacheIO::GridMapping* entries, int count) {
  return importFrame(path, frame, entries, count, -1);
}

FAKEPORT_EXPORT int ImportFrameVDB(const char* path, OstraneFrameData* frame, void* scratch16, bool /*headerOnly*/,
                                   const CacheIO::GridMapping* entries, int count, int64_t maxVoxels) {
  if (scratch16) std::memset(scratch16, 0xAB, 16);
  return importFrame(path, frame, entries, count, maxVoxels);
}

FAKEPORT_EXPORT void FakePortCounters(int* setCalls, int* releaseCalls) {
  if (setCalls) *setCalls = g_setCalls.load();
  if (releaseCalls) *releaseCalls = g_releaseCalls.load();
}
