// Import plug-ins: the process-wide plug-in table, loading the modules, the thread
// manager hand-over, and the import paths for Field3D (.f3d) and OpenVDB (.vdb) files.
//
// Status codes of the import paths: 0 success, 1 null frame (header-only path), 2 the
// needed plug-in is not ready, 3 extension not handled (header-only path), 9 mapping
// without entries; anything else comes from the plug-in or the nebu2 reader unchanged.
//
// The table is written by initalizeNebuLoader and read by imports and surveys; the
// modules stay loaded until the library itself is unloaded.
#pragma once

#include <cstdint>

#include "loader/ChannelMappings.h"
#include "loader/PluginContract.h"
#include "nebloader.h"

class OstraneFrameData;

namespace CacheIO {

enum PluginKind { PluginF3D = 0, PluginVDB = 1 };

// One row of the plug-in table. `import` is ImportFrameF3D or ImportFrameVDB by kind.
struct PluginEntry {
  void* module = nullptr;  // stays set once loaded, even when the plug-in was disabled
  PluginInitializeFn initialize = nullptr;
  PluginSetThreadManagerFn setThreadManager = nullptr;
  PluginReleaseThreadManagerFn releaseThreadManager = nullptr;
  void* import = nullptr;
  PluginGetAvailableChannelsFn getAvailableChannels = nullptr;

  // All five entry points present.
  bool ready() const {
    return initialize && setThreadManager && releaseThreadManager && import && getAvailableChannels;
  }
};

// Read-only view of the table row for a kind.
const PluginEntry& PluginTableEntry(PluginKind kind);

// Loads the plug-ins asked for by `which` (bit 0 Field3D, bit 1 OpenVDB) and returns the
// mask of those whose module is loaded. `value` is stored and otherwise unused.
int LoadImportPlugins(int which, const char* searchPaths, const char* suffix, int value);

// Composes the module file name of `stem` ("f3dport" / "vdbport") into buffer (size bytes,
// cut to fit): with search paths and suffix, the first existing "<dir>/<stem>_<suffix><ext>"
// over the ';'-separated directories (empty pieces skipped; false and "" if none exists);
// without search paths "<stem>_<suffix><ext>"; without suffix "<stem><ext>". <ext> is the
// platform's module extension.
bool ComposePluginFileName(char* buffer, int size, const char* stem, const char* searchPaths, const char* suffix);

// Hands `manager` to every ready plug-in (Field3D first). True when at least one plug-in
// is ready and every ready one accepted it.
bool SetPluginThreadManager(ZUtils::ThreadManager* manager);
// Tells every ready plug-in to release its manager.
void ReleasePluginThreadManagers();

// The import paths of the load dispatcher. Both reset the frame first.
int ImportViaPluginF3D(const char* path, OstraneFrameData* frame, const char* mapping, bool headerOnly);
int ImportViaPluginVDB(const char* path, OstraneFrameData* frame, const char* mapping, bool headerOnly,
                       int64_t maxVoxels);
// Header-only load by extension: neb through the nebu2 reader, f3d / vdb through the
// plug-ins, anything else 3; a null frame gives 1.
int ImportHeaderByExtension(const char* path, OstraneFrameData* frame, const char* mapping, int64_t maxVoxels);

// After a successful plug-in import: drops an incomplete velocity group (channels 4-6)
// whole and gives the frame a one-element placeholder grid-data array.
void FixUpPluginImport(OstraneFrameData* frame);

// Fills `list` with the distinct grids (first appearance order, exact names) of every
// f3d / vdb file of the sequence or single file named by `path`, through ready plug-ins.
void SurveyChannels(const char* path, AvailableChannelList& list);

// Frees the plug-in modules and clears the table. Runs at library unload.
void UnloadImportPlugins();

// initalizeNebuLoader (withManager selects the form with a manager): loads both plug-ins;
// with a manager and at least one plug-in available, registers the manager and hands it
// to the plug-ins, giving 0 when a ready plug-in refused it.
int InitializeLoader(const char* searchPaths, const char* suffix, int value, ZUtils::ThreadManager* manager,
                     bool withManager);
// finalizeNebuLoader: unregisters the last registered manager and tells the ready
// plug-ins to release theirs. The modules stay loaded.
void FinalizeLoader();

}  // namespace CacheIO
