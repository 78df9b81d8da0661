// The entry points of the import plug-in modules "f3dport" and "vdbport".
//
// A plug-in is a shared module named <dir>/<stem>_<suffix><ext> (see ComposePluginFileName)
// exporting these five functions under their plain, undecorated names (extern "C"):
//
//   int  Initialize(void)                    once after loading; 0 = ready
//   int  SetThreadManager(ThreadManager*)    0 = accepted, usable until ReleaseThreadManager
//   void ReleaseThreadManager(void)
//   void GetAvailableChannels(const char* file, AvailableChannelList* out)
//        appends one record per grid of the file (names on the C heap, see ChannelMappings.h)
//   int  ImportFrameF3D(path, frame, headerOnly, entries, count)           Field3D module
//   int  ImportFrameVDB(path, frame, scratch16, headerOnly, entries, count, maxVoxels)
//                                                                          OpenVDB module
//
// An import gets a frame that has just been reset for loading and, on status 0, must
// leave in it the grid size and transform and, for each entry found in the file, the
// decoded values in the entry's channel slot and the channel's bit in channelMask. The
// plug-in works on OstraneFrameData itself, so it must be built against the same class
// definitions. Entries, their names and the path strings belong to the loader and are
// valid only during the call. Any non-zero status is handed back to the caller unchanged.
#pragma once

#include <cstdint>

#include "loader/ChannelMappings.h"
#include "nebloader.h"

class OstraneFrameData;

extern "C" {
typedef int (*PluginInitializeFn)();
typedef int (*PluginSetThreadManagerFn)(ZUtils::ThreadManager* manager);
typedef void (*PluginReleaseThreadManagerFn)();
typedef void (*PluginGetAvailableChannelsFn)(const char* file, CacheIO::AvailableChannelList* out);
typedef int (*PluginImportF3DFn)(const char* path, OstraneFrameData* frame, bool headerOnly,
                                 const CacheIO::GridMapping* entries, int count);
typedef int (*PluginImportVDBFn)(const char* path, OstraneFrameData* frame, void* scratch16, bool headerOnly,
                                 const CacheIO::GridMapping* entries, int count, int64_t maxVoxels);
}
