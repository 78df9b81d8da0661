// C interface: opening and closing frames, their grid, transform, channels and groups.
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "cache/FrameRegistry.h"
#include "cache/GridRecordBytes.h"
#include "loader/CEntry.h"
#include "loader/ChannelMappings.h"
#include "loader/FrameFactory.h"
#include "zutils/FileAccess.h"

using CInterface::badArgument;
using CInterface::frameOf;
using CInterface::guarded;
using CInterface::handleOf;

namespace {

// Frames opened with NEB_OPEN_UNSHARED: the only ones whose channels a caller may free.
// Those loaded with NEB_OPEN_GRID_IN_FILE keep where their grid records are in the file.
std::mutex& unsharedLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::unordered_map<const void*, std::unique_ptr<GridDataLocation>>& unsharedFrames() {
  static auto* s = new std::unordered_map<const void*, std::unique_ptr<GridDataLocation>>;
  return *s;
}

bool isUnshared(const void* frame) {
  std::lock_guard<std::mutex> lock(unsharedLock());
  return unsharedFrames().count(frame) != 0;
}

// A frame of its own, loaded here so that the reader's status reaches the caller.
int openUnshared(const char* path, const char* mapping, long long maxVoxels, bool headerOnly, bool gridInFile,
                 neb_frame** out) {
  auto& set = unsharedFrames();
  std::unique_ptr<GridDataLocation> where;
  if (gridInFile && !headerOnly) where.reset(new GridDataLocation);
  OstraneFrameData* frame = new (std::nothrow) OstraneFrameData;
  if (!frame) {
    ZUtils::logReport("[ERROR] neb_frame_open: out of memory\n");
    return NEB_E_MEMORY;
  }
  const int status = LoadFrame(frame, path, mapping, 0.0, maxVoxels, true, headerOnly, where.get());
  if (status != 0) {
    delete frame;
    return NEB_LOAD_STATUS(status);
  }
  try {
    frame->sourcePath = path;
    frame->sourceTime = ZUtils::fileModificationTime(path);
    frame->channelsMapping = mapping;
  } catch (...) {
    delete frame;
    throw;
  }
  if (!OstraneFrame::AdoptUnsharedFrame(frame)) {
    delete frame;
    return NEB_E_MEMORY;
  }
  try {
    // Only a nebu2 load leaves its records in the file (path set); other loads hold theirs.
    if (where && where->path.empty()) where.reset();
    std::lock_guard<std::mutex> lock(unsharedLock());
    set[frame] = std::move(where);
  } catch (...) {
    OstraneFrame::ReleaseFrame(frame);  // the registry's frame now: released through it
    throw;
  }
  *out = handleOf(frame);
  return NEB_OK;
}

}  // namespace

namespace CInterface {

bool gridInFileOf(neb_frame* frame, GridDataLocation* where) {
  std::lock_guard<std::mutex> lock(unsharedLock());
  auto it = unsharedFrames().find(frame);
  if (it == unsharedFrames().end() || !it->second) return false;
  if (where) *where = *it->second;
  return true;
}

}  // namespace CInterface

extern "C" {

int neb_frame_open(const char* path, const char* mapping, long long max_voxels, int flags, neb_frame** frame) {
  static const char* const name = "neb_frame_open";
  return guarded(name, [&]() {
    if (!path || !frame) return badArgument(name, "null path or frame pointer");
    if (flags & ~(NEB_OPEN_HEADER_ONLY | NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE))
      return badArgument(name, "unknown flags");
    if ((flags & NEB_OPEN_GRID_IN_FILE) && !(flags & NEB_OPEN_UNSHARED))
      return badArgument(name, "NEB_OPEN_GRID_IN_FILE needs NEB_OPEN_UNSHARED");
    if (max_voxels < -1) return badArgument(name, "max_voxels is -1 or a cell count");
    const std::string mappingText = mapping ? std::string(mapping) : CacheIO::GenerateDefaultChannelMappings(path);
    const bool headerOnly = (flags & NEB_OPEN_HEADER_ONLY) != 0;
    if (flags & NEB_OPEN_UNSHARED)
      return openUnshared(path, mappingText.c_str(), max_voxels, headerOnly, (flags & NEB_OPEN_GRID_IN_FILE) != 0,
                          frame);
    OstraneFrameData* f = AcquireFrame(path, mappingText.c_str(), max_voxels, headerOnly);
    if (!f) {
      // The factory gives no status; the reader's own reports (if any) came before.
      ZUtils::logReport("[ERROR] %s: cannot load %s\n", name, path);
      return NEB_E_LOAD;
    }
    *frame = handleOf(f);
    return NEB_OK;
  });
}

void neb_frame_close(neb_frame* frame) {
  guarded("neb_frame_close", [&]() {
    if (!frame) return NEB_OK;
    {
      std::lock_guard<std::mutex> lock(unsharedLock());
      unsharedFrames().erase(frame);
    }
    OstraneFrame::ReleaseFrame(frameOf(frame));
    return NEB_OK;
  });
}

int neb_frame_grid_size(neb_frame* frame, int size[3]) {
  return guarded("neb_frame_grid_size", [&]() {
    if (!frame || !size) return badArgument("neb_frame_grid_size", "null frame or output");
    frameOf(frame)->getGridSize(size);
    return NEB_OK;
  });
}

int neb_frame_transform(neb_frame* frame, float transform[12]) {
  return guarded("neb_frame_transform", [&]() {
    if (!frame || !transform) return badArgument("neb_frame_transform", "null frame or output");
    frameOf(frame)->getTransform(transform);
    return NEB_OK;
  });
}

int neb_frame_has_channel(neb_frame* frame, int channel) {
  return guarded("neb_frame_has_channel", [&]() {
    if (!frame) return badArgument("neb_frame_has_channel", "null frame");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument("neb_frame_has_channel", "channels are 0..31");
    return frameOf(frame)->hasChannel(channel) ? 1 : 0;
  });
}

int neb_frame_channel(neb_frame* frame, int channel, const float** values) {
  static const char* const name = "neb_frame_channel";
  return guarded(name, [&]() {
    if (!frame || !values) return badArgument(name, "null frame or output");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument(name, "channels are 0..31");
    // A frame whose grid stayed in its file has nothing to decode here (neb_slab_read).
    if (CInterface::gridInFileOf(frame, nullptr)) return NEB_E_ABSENT;
    // Exactly what getChannel gives: a stored record is read even when its mask bit is
    // clear, so absence is decided only after a failed read.
    const float* v = frameOf(frame)->getChannel(channel);
    if (!v) return frameOf(frame)->hasChannel(channel) ? NEB_E_DECODE : NEB_E_ABSENT;
    *values = v;
    return NEB_OK;
  });
}

int neb_frame_release_channel(neb_frame* frame, int channel) {
  static const char* const name = "neb_frame_release_channel";
  return guarded(name, [&]() {
    if (!frame) return badArgument(name, "null frame");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument(name, "channels are 0..31");
    if (!isUnshared(frame)) return badArgument(name, "only channels of a frame opened NEB_OPEN_UNSHARED can be freed");
    frameOf(frame)->ReleaseChannelSlot(channel);
    return NEB_OK;
  });
}

int neb_frame_version(neb_frame* frame, int* version) {
  return guarded("neb_frame_version", [&]() {
    if (!frame || !version) return badArgument("neb_frame_version", "null frame or output");
    *version = frameOf(frame)->version;
    return NEB_OK;
  });
}

int neb_frame_number(neb_frame* frame, int* number) {
  return guarded("neb_frame_number", [&]() {
    if (!frame || !number) return badArgument("neb_frame_number", "null frame or output");
    if (frameOf(frame)->frameNumber == INT32_MIN) return NEB_E_ABSENT;
    *number = frameOf(frame)->frameNumber;
    return NEB_OK;
  });
}

int neb_frame_group_count(neb_frame* frame) {
  return guarded("neb_frame_group_count", [&]() {
    if (!frame) return badArgument("neb_frame_group_count", "null frame");
    return frameOf(frame)->getParticleGroupCount();
  });
}

int neb_frame_group(neb_frame* frame, int index, neb_group** group) {
  static const char* const name = "neb_frame_group";
  return guarded(name, [&]() {
    if (!frame || !group) return badArgument(name, "null frame or output");
    if (index < 0 || index >= frameOf(frame)->getParticleGroupCount()) return badArgument(name, "no group of that index");
    IOstranePrtGroup* g = frameOf(frame)->getParticleGroup(index);
    if (!g) return NEB_E_ABSENT;
    *group = handleOf(static_cast<PGroup*>(g));
    return NEB_OK;
  });
}

int neb_frame_find_group(neb_frame* frame, const char* group_name, neb_group** group) {
  static const char* const name = "neb_frame_find_group";
  return guarded(name, [&]() {
    if (!frame || !group_name || !group) return badArgument(name, "null frame, name or output");
    IOstranePrtGroup* g = frameOf(frame)->findParticleGroup(group_name);
    if (!g) return NEB_E_ABSENT;
    *group = handleOf(static_cast<PGroup*>(g));
    return NEB_OK;
  });
}

}  // extern "C"
