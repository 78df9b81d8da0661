#include "loader/FrameFactory.h"

#include <string>

#include "cache/FrameRegistry.h"
#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "loader/ImportPlugins.h"
#include "zutils/FileAccess.h"
#include "zutils/FramePattern.h"
#include "zutils/Report.h"

OstraneFrameData* AcquireFrame(const char* path, const char* mapping, int64_t maxVoxels, bool headerOnly,
                               int* statusOut) {
  int ignored = 0;
  int& loadStatus = statusOut ? *statusOut : ignored;
  loadStatus = 0;
  const char* mappingText = mapping ? mapping : "";
  const bool shareable = maxVoxels == -1 && !headerOnly;

  if (shareable && path && *path) {
    OstraneFrameData* hit =
        OstraneFrame::RetainMatchingFrame(path, mappingText, ZUtils::fileModificationTime(path));
    if (hit) return hit;
  }

  OstraneFrameData* frame = new (std::nothrow) OstraneFrameData;
  if (!frame) {
    ZUtils::logReport("[ERROR] newObject failed to allocate!\n");
    loadStatus = 4;
    return nullptr;
  }
  try {
    // Loading runs outside the registry lock: other frames can be handed out meanwhile.
    int status = LoadFrame(frame, path, mappingText, 0.0, maxVoxels, true, headerOnly);
    if (status != 0) {
      delete frame;
      loadStatus = status;
      return nullptr;
    }
    frame->sourcePath = path;
    frame->sourceTime = ZUtils::fileModificationTime(path);
    frame->channelsMapping = mappingText;
  } catch (...) {
    // Only memory shortage while storing the strings can get here.
    ZUtils::logReport("[ERROR] AcquireFrame failed to allocate!\n");
    delete frame;
    loadStatus = 4;
    return nullptr;
  }

  if (!shareable) {
    if (OstraneFrame::AdoptUnsharedFrame(frame)) return frame;
    delete frame;
    loadStatus = 4;
    return nullptr;
  }
  // Another thread may have loaded the same file meanwhile: share its frame then.
  OstraneFrameData* registered = OstraneFrame::RegisterLoadedFrame(frame);
  if (registered != frame) delete frame;
  if (!registered) loadStatus = 4;
  return registered;
}

int LoadFrame(OstraneFrameData* frame, const char* path, const char* mapping, double value, int64_t maxVoxels,
              bool openOnce, bool headerOnly, GridDataLocation* gridInFile) {
  if (!frame) return 1;
  if (gridInFile) *gridInFile = GridDataLocation();
  frame->EmptyChannelSlots();
  frame->ClearFrameData();

  int status;
  if (!path || !*path) {
    status = 3;
  } else if (headerOnly) {
    status = CacheIO::ImportHeaderByExtension(path, frame, mapping, maxVoxels);
  } else {
    const std::string ext = ZUtils::fileExtensionLower(path);
    if (ext == "neb" && gridInFile) {
      status = ImportNebGridInFile(*frame, path, *gridInFile);
    } else if (ext == "neb") {
      status = frame->ImportNeb(path, openOnce, false);
    } else if (ext == "f3d") {
      status = CacheIO::ImportViaPluginF3D(path, frame, mapping, false);
      if (status == 0) frame->setPropsValue(value);
    } else if (ext == "vdb") {
      status = CacheIO::ImportViaPluginVDB(path, frame, mapping, false, maxVoxels);
      if (status == 0) frame->setPropsValue(value);
    } else {
      status = 3;
    }
  }

  if (status == 0) {
    frame->sourcePath = path;
    frame->sourceTime = ZUtils::fileModificationTime(path);
  } else {
    frame->sourcePath.clear();
    frame->sourceTime = 0;
  }
  return status;
}
