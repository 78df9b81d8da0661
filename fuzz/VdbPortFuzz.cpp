// The OpenVDB import plug-in on damaged .vdb files, through the library as a host drives
// it: the offered grids, the default mapping, a full import, a header-only load and a
// voxel-limited import. The plug-in module (VDBPORT_PATH) is linked into a directory of
// this process and loaded once.
//
// Input: one selector byte, then the file. Every call opens the file with OpenVDB, which
// is most of the cost, so an input runs the default mapping and one reading chosen by
// selector % 4: 0 the offered grid at index selector / 4 (the listing surveys every grid
// whatever the index; 63 and up are past the end of any seed), 1 the full import, 2 the
// header-only load, 3 the voxel-limited import. 0xff runs everything, as the regression
// inputs do.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "FuzzTarget.h"
#include "nebloader.h"

namespace {

volatile float gSink;

std::string gModuleDir;

// The link stays while the process runs: a crash report names the module by that path.
void removeModuleLink() {
  unlink((gModuleDir + "/vdbport_fuzz.so").c_str());
  rmdir(gModuleDir.c_str());
}

bool pluginReady() {
  static const bool ready = [] {
    char templ[] = "/tmp/nebfuzz-vdbport-XXXXXX";
    if (!mkdtemp(templ)) return false;
    gModuleDir = templ;
    std::atexit(removeModuleLink);
    if (symlink(VDBPORT_PATH, (gModuleDir + "/vdbport_fuzz.so").c_str()) != 0) return false;
    return (initalizeNebuLoader(gModuleDir.c_str(), "fuzz", 0) & 2) != 0;
  }();
  return ready;
}

void touch(INeb* frame) {
  if (!frame) return;
  int n[3];
  frame->getGridSize(n);
  float t[12];
  frame->getTransform(t);
  for (int c = 1; c <= 21; ++c) {
    const float* v = frame->getChannel(c);
    if (!v) continue;
    gSink = nebfuzz::touchChannel(v, n);
  }
  deleteINeb(frame);
}

}  // namespace

NEB_FUZZ_TARGET(vdbport) {
  if (!pluginReady()) std::abort();  // a broken set-up is not a finding of the input
  nebfuzz::Input in{data, size};
  const uint32_t selector = in.take(1);
  const char* path = nebfuzz::writeTempFile("input.vdb", in.data, in.size);
  if (!path) return 0;
  const bool all = selector == 0xff;
  if (all || selector % 4 == 0) {
    for (int i = all ? 0 : static_cast<int>(selector / 4); i < 64; ++i) {
      char name[256];
      int flag = 0;
      if (nebGet3rdPartyChannelName(name, sizeof name, &flag, path, i) != 1 || !all) break;
    }
  }
  char mapping[1024];
  nebGenerateDefaultChannelMappings(mapping, sizeof mapping, path);
  const std::string fixed = "2,density;1,temperature;4,vel.x;5,vel.y;6,vel.z;";
  const std::string used = std::string(mapping) + fixed;
  if (all || selector % 4 == 1) touch(newINebWithChannelsMapping(path, used.c_str()));
  if (all || selector % 4 == 2) touch(newINebWithChannelsMappingMaxVox(path, used.c_str(), -1, true));
  // The voxel-limited import, downsampling whatever box the file claims to 4096 cells.
  if (all || selector % 4 == 3) touch(newINebWithChannelsMappingMaxVox(path, used.c_str(), 4096, false));
  return 0;
}
