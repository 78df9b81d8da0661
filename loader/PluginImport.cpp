// Loading foreign frames through the import plug-ins, and the header-only dispatcher.
#include <cstring>

#include "cache/ChannelBuffer.h"
#include "cache/OstraneFrameData.h"
#include "loader/ImportPlugins.h"
#include "ostutils/Allocation.h"
#include "zutils/FramePattern.h"
#include "zutils/Report.h"

namespace CacheIO {

namespace {

int importViaPlugin(PluginKind kind, const char* path, OstraneFrameData* frame, const char* mapping, bool headerOnly,
                    int64_t maxVoxels) {
  if (!frame) return 1;
  frame->ResetForLoad(headerOnly);
  const PluginEntry& plugin = PluginTableEntry(kind);
  if (!plugin.ready()) return 2;

  GridMappingList entries;
  ParseChannelMappings(mapping, entries);
  if (entries.size == 0) {
    ZUtils::logReport(kind == PluginF3D ? "Trying to import F3D files with no mappings specified!\n"
                                        : "Trying to import VDB files with no mappings specified!\n");
    return 9;
  }

  int status;
  if (kind == PluginF3D) {
    status = reinterpret_cast<PluginImportF3DFn>(plugin.import)(path, frame, headerOnly, entries.data, entries.size);
  } else {
    // The plug-in may use these 16 bytes as it likes; nothing reads them afterwards.
    alignas(16) unsigned char scratch[16] = {};
    status = reinterpret_cast<PluginImportVDBFn>(plugin.import)(path, frame, scratch, headerOnly, entries.data,
                                                              entries.size, maxVoxels);
  }
  if (status == 0) FixUpPluginImport(frame);
  return status;
}

}  // namespace

void FixUpPluginImport(OstraneFrameData* frame) {
  if (!frame) return;
  bool velocityComplete = true;
  for (int c = 4; c <= 6; ++c) {
    if (!frame->channelSlots[c].loaded && !frame->hasChannel(c)) velocityComplete = false;
  }
  if (!velocityComplete) {
    // Consumers treat velocity as a vector: a partial group is dropped whole.
    frame->channelMask &= ~((1 << 4) | (1 << 5) | (1 << 6));
    for (int c = 4; c <= 6; ++c) frame->ReleaseChannelSlot(c);
  }
  // The grid data of a foreign frame is already decoded in the slots; the one-element
  // array only marks the frame as carrying grid data. Anything the plug-in left there is
  // released first so it cannot leak.
  OSTUtils::releaseArray(frame->comprData);
  frame->comprDataSzInts = 0;
  if (OSTUtils::newArray(frame->comprData, 1)) {
    frame->comprData[0] = 0;
    frame->comprDataSzInts = 1;
  }
}

int ImportViaPluginF3D(const char* path, OstraneFrameData* frame, const char* mapping, bool headerOnly) {
  return importViaPlugin(PluginF3D, path, frame, mapping, headerOnly, -1);
}

int ImportViaPluginVDB(const char* path, OstraneFrameData* frame, const char* mapping, bool headerOnly,
                       int64_t maxVoxels) {
  return importViaPlugin(PluginVDB, path, frame, mapping, headerOnly, maxVoxels);
}

int ImportHeaderByExtension(const char* path, OstraneFrameData* frame, const char* mapping, int64_t maxVoxels) {
  if (!frame) return 1;
  const std::string ext = ZUtils::fileExtensionLower(path);
  if (ext == "neb") return frame->ImportNeb(path, true, true);
  if (ext == "f3d") return ImportViaPluginF3D(path, frame, mapping, true);
  if (ext == "vdb") return ImportViaPluginVDB(path, frame, mapping, true, maxVoxels);
  return 3;
}

}  // namespace CacheIO
