#include "cache/FrameRegistry.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "cache/OstraneFrameData.h"
#include "ostutils/OstArray.h"
#include "zutils/Report.h"

namespace OstraneFrame {

// The registry of shared frames, plus the frames handed out unshared. Both arrays are
// constant-initialised, so the registry is usable from any static constructor; its
// destructor runs when the library is unloaded and reports the frames still held.
class FrameDataArray {
 public:
  ~FrameDataArray();

  OSTUtils::OstArray<OstraneFrameData*, int> frames;    // shared, with reference counts
  OSTUtils::OstArray<OstraneFrameData*, int> unshared;  // header-only or voxel-limited
};

namespace {

FrameDataArray g_registry;
std::mutex g_lock;  // constexpr-constructed: valid before and during static destruction
std::atomic<bool> g_unloaded{false};

// Entries are compared through their interface pointer: a host may hand back any INeb,
// and only an upcast of our own entries is a valid comparison (a downcast of a foreign
// object is undefined).
int indexOf(const OSTUtils::OstArray<OstraneFrameData*, int>& list, const INeb* frame) {
  for (int i = 0; i < list.size; ++i) {
    if (static_cast<const INeb*>(list.data[i]) == frame) return i;
  }
  return -1;
}

typedef OSTUtils::OstArray<OstraneFrameData*, int> FrameList;

// Appends without the data loss of a failed in-place growth (which empties an OstArray):
// the grown copy replaces the list only once it exists. False leaves the list untouched.
bool appendKeeping(FrameList& list, OstraneFrameData* frame) {
  if (list.size < list.capacity) return list.Append(frame);
  FrameList grown;
  if (!grown.SetSize(list.size + 1)) return false;
  if (list.size > 0) std::memcpy(grown.data, list.data, static_cast<size_t>(list.size) * sizeof(OstraneFrameData*));
  grown.data[list.size] = frame;
  std::swap(list.data, grown.data);
  std::swap(list.size, grown.size);
  std::swap(list.capacity, grown.capacity);
  return true;
}

// Order is not kept: the last entry takes the freed place. An emptied list gives its
// storage back, so that the memory budget holds nothing once every frame is closed.
void removeAt(OSTUtils::OstArray<OstraneFrameData*, int>& list, int i) {
  list.data[i] = list.data[list.size - 1];
  list.SetSize(list.size - 1);
  if (list.size == 0) list.Free();
}

unsigned addressBits(const OstraneFrameData* frame) {
  // Low 32 bits of the address, as the report has always shown it.
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(frame));
}

int headerOnlyBit(const OstraneFrameData* frame) { return (frame->flags & OstraneFrameData::kFlagHeaderOnly) ? 1 : 0; }

// Caller holds g_lock.
OstraneFrameData* retainLocked(OstraneFrameData* frame) {
  if (indexOf(g_registry.frames, frame) >= 0) {
    ++frame->refCount;
    ZUtils::logReportAt(ZUtils::kReportDebug, "OstraneFrameData refCount++ %08X %d, I:%d, %s\n", addressBits(frame),
                        frame->refCount, headerOnlyBit(frame), frame->sourcePath.c_str());
    return frame;
  }
  if (!appendKeeping(g_registry.frames, frame)) {
    ZUtils::logReport("[ERROR] OstraneFrameData registry could not grow\n");
    return nullptr;
  }
  frame->refCount = 1;
  ZUtils::logReportAt(ZUtils::kReportDebug, "OstraneFrameData refCount=1 %08X %d, I:%d, %s\n", addressBits(frame),
                      frame->refCount, headerOnlyBit(frame), frame->sourcePath.c_str());
  return frame;
}

bool matches(const OstraneFrameData* frame, const char* path, const char* mapping, int64_t fileTime) {
  return frame->sourcePath == path && frame->channelsMapping == mapping && frame->sourceTime == fileTime;
}

}  // namespace

FrameDataArray::~FrameDataArray() { ReleaseAllFrames(); }

OstraneFrameData* RetainFrame(OstraneFrameData* frame) {
  if (!frame) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  return retainLocked(frame);
}

void ReleaseFrame(INeb* handle) {
  if (!handle) return;
  OstraneFrameData* victim = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    int i = indexOf(g_registry.frames, handle);
    if (i >= 0) {
      OstraneFrameData* frame = g_registry.frames.data[i];
      --frame->refCount;
      ZUtils::logReportAt(ZUtils::kReportDebug, "OstraneFrameData refCount-- %08X %d, I:%d, %s\n", addressBits(frame),
                          frame->refCount, headerOnlyBit(frame), frame->sourcePath.c_str());
      if (frame->refCount > 0) return;
      removeAt(g_registry.frames, i);
      victim = frame;
    } else {
      i = indexOf(g_registry.unshared, handle);
      if (i < 0) return;  // not handed out by this library
      OstraneFrameData* frame = g_registry.unshared.data[i];
      frame->refCount = 0;
      ZUtils::logReportAt(ZUtils::kReportDebug, "OstraneFrameData refCount-- %08X %d, I:%d, %s\n", addressBits(frame),
                          frame->refCount, headerOnlyBit(frame), frame->sourcePath.c_str());
      removeAt(g_registry.unshared, i);
      victim = frame;
    }
  }
  // Destruction frees the grid and particle data; no need to hold up other threads.
  delete victim;
}

OstraneFrameData* RetainMatchingFrame(const char* path, const char* mapping, int64_t fileTime) {
  if (!path) return nullptr;
  if (!mapping) mapping = "";
  std::lock_guard<std::mutex> lock(g_lock);
  for (int i = 0; i < g_registry.frames.size; ++i) {
    OstraneFrameData* f = g_registry.frames.data[i];
    if (matches(f, path, mapping, fileTime)) return retainLocked(f);
  }
  return nullptr;
}

OstraneFrameData* RegisterLoadedFrame(OstraneFrameData* frame) {
  if (!frame) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  for (int i = 0; i < g_registry.frames.size; ++i) {
    OstraneFrameData* f = g_registry.frames.data[i];
    if (f != frame && matches(f, frame->sourcePath.c_str(), frame->channelsMapping.c_str(), frame->sourceTime)) {
      return retainLocked(f);
    }
  }
  return retainLocked(frame);
}

bool AdoptUnsharedFrame(OstraneFrameData* frame) {
  if (!frame) return false;
  std::lock_guard<std::mutex> lock(g_lock);
  if (indexOf(g_registry.unshared, frame) >= 0) return true;
  if (!appendKeeping(g_registry.unshared, frame)) {
    ZUtils::logReport("[ERROR] OstraneFrameData registry could not grow\n");
    return false;
  }
  frame->refCount = 1;
  return true;
}

bool IsUnsharedFrame(const INeb* frame) {
  if (!frame) return false;
  std::lock_guard<std::mutex> lock(g_lock);
  return indexOf(g_registry.unshared, frame) >= 0;
}

int RegisteredFrameCount() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_registry.frames.size;
}

int UnsharedFrameCount() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_registry.unshared.size;
}

void ReleaseAllFrames() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_unloaded.exchange(true)) return;
  for (OSTUtils::OstArray<OstraneFrameData*, int>* list : {&g_registry.frames, &g_registry.unshared}) {
    for (int i = list->size - 1; i >= 0; --i) {
      OstraneFrameData* f = list->data[i];
      ZUtils::logReportAt(ZUtils::kReportWarning, "Ostrane cache file not released %d ref:%d\n", f->frameNumber,
                          f->refCount);
      delete f;
    }
    list->Free();
  }
}

}  // namespace OstraneFrame
