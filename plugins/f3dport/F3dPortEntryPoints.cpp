// The five entry points of the Field3D import plug-in, exported under their plain names.
// Nothing throws out of them: a failed allocation of the standard containers ends as a
// report and status 4.
#include <atomic>
#include <new>

#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "nebloader.h"
#include "plugins/f3dport/F3dFrameImport.h"
#include "zutils/Report.h"

#if defined(_WIN32)
#define F3DPORT_EXPORT extern "C" __declspec(dllexport)
#else
#define F3DPORT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
// Set between SetThreadManager and ReleaseThreadManager. Decoding runs on the caller's
// thread (HDF5 reads are serialised anyway); the manager is accepted and kept as the
// contract asks.
std::atomic<ZUtils::ThreadManager*> g_manager{nullptr};
}  // namespace

F3DPORT_EXPORT int Initialize() { return 0; }

F3DPORT_EXPORT int SetThreadManager(ZUtils::ThreadManager* manager) {
  g_manager.store(manager);
  return 0;
}

F3DPORT_EXPORT void ReleaseThreadManager() { g_manager.store(nullptr); }

F3DPORT_EXPORT void GetAvailableChannels(const char* file, CacheIO::AvailableChannelList* out) {
  if (!file || !out) return;
  try {
    F3dPort::listChannels(file, *out);
  } catch (...) {
    ZUtils::logReport("[ERROR] f3dport: out of memory listing the grids of %s\n", file);
  }
}

F3DPORT_EXPORT int ImportFrameF3D(const char* path, OstraneFrameData* frame, bool headerOnly,
                                  const CacheIO::GridMapping* entries, int count) {
  if (!frame || (!entries && count > 0)) return 4;
  try {
    return F3dPort::importFrame(path, *frame, headerOnly, entries, count);
  } catch (...) {
    ZUtils::logReport("[ERROR] f3dport: out of memory reading %s\n", path ? path : "(null)");
  }
  return 4;
}
