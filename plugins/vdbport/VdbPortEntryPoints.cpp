// The five entry points of the OpenVDB import plug-in, exported under their plain names.
// Nothing throws out of them: OpenVDB's exceptions end as reports and status codes.
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include <atomic>
#include <cstdint>

#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "nebloader.h"
#include "plugins/vdbport/VdbFrameImport.h"
#include "plugins/vdbport/VdbSources.h"
#include "zutils/Report.h"

// Windows: marked for export, since the static oneTBB linked in marks its own functions
// so, and a DLL with any marked function exports only the marked ones.
#ifdef _WIN32
#define VDBPORT_EXPORT extern "C" __declspec(dllexport)
#else
#define VDBPORT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
// Set between SetThreadManager and ReleaseThreadManager; the dense fills run on it.
std::atomic<ZUtils::ThreadManager*> g_manager{nullptr};
}  // namespace

VDBPORT_EXPORT int Initialize() {
  try {
    openvdb::initialize();  // registers the grid and map types; safe to repeat
    return 0;
  } catch (...) {
    return 1;
  }
}

VDBPORT_EXPORT int SetThreadManager(ZUtils::ThreadManager* manager) {
  g_manager.store(manager);
  return 0;
}

VDBPORT_EXPORT void ReleaseThreadManager() { g_manager.store(nullptr); }

// Reads only the grid descriptors and metadata, never the trees.
VDBPORT_EXPORT void GetAvailableChannels(const char* file, CacheIO::AvailableChannelList* out) {
  if (!file || !out) return;
  try {
    openvdb::io::File vdb(file);
    vdb.open(false);
    openvdb::GridPtrVecPtr grids = vdb.readAllGridMetadata();
    vdb.close();
    for (const VdbPort::OfferedChannel& c : VdbPort::offeredChannels(*grids))
      out->Append(CacheIO::AvailableChannels(c.name.c_str(), c.flag));
  } catch (const std::exception& e) {
    ZUtils::logReport("vdbport: cannot list the grids of %s: %s\n", file, e.what());
  } catch (...) {
    ZUtils::logReport("vdbport: cannot list the grids of %s\n", file);
  }
}

VDBPORT_EXPORT int ImportFrameVDB(const char* path, OstraneFrameData* frame, void* /*scratch16*/, bool headerOnly,
                                  const CacheIO::GridMapping* entries, int count, int64_t maxVoxels) {
  if (!frame || (!entries && count > 0)) return 4;
  return VdbPort::importFrame(path, *frame, headerOnly, entries, count, maxVoxels, g_manager.load());
}
