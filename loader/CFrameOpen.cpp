// C interface: opening frames (by path, from bytes a host serves, from memory) and closing
// them; what the interface keeps about a frame beyond the frame itself.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "cache/FrameRegistry.h"
#include "cache/GridRecordBytes.h"
#include "loader/CEntry.h"
#include "loader/CHostSource.h"
#include "loader/ChannelMappings.h"
#include "loader/FrameFactory.h"
#include "zutils/FileAccess.h"

using CInterface::badArgument;
using CInterface::handleOf;
using CInterface::ReportRoute;

namespace {

const size_t kOptionEnds[] = {NEB_FIELD_END(neb_open_options, flags),      NEB_FIELD_END(neb_open_options, mapping),
                              NEB_FIELD_END(neb_open_options, max_voxels), NEB_FIELD_END(neb_open_options, read),
                              NEB_FIELD_END(neb_open_options, read_bytes), NEB_FIELD_END(neb_open_options, read_user),
                              NEB_FIELD_END(neb_open_options, release),    NEB_FIELD_END(neb_open_options, report),
                              NEB_FIELD_END(neb_open_options, report_user)};

// Frames of their own that need more than the registry keeps: where their grid records
// stayed (NEB_OPEN_GRID_IN_FILE), and their own report callback.
struct FrameExtras {
  std::unique_ptr<GridDataLocation> where;
  ReportRoute route;
};

std::mutex& extrasLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::unordered_map<const void*, FrameExtras>& extras() {
  static auto* s = new std::unordered_map<const void*, FrameExtras>;
  return *s;
}
// Frames with a report callback of their own: while there are none, no call looks one up.
std::atomic<int> gRoutedFrames{0};

// Hands a frame loaded on its own to the registry (which destroys it at close) and keeps
// its extras.
int keep(OstraneFrameData* frame, std::unique_ptr<GridDataLocation> where, ReportRoute route, neb_frame** out) {
  if (!OstraneFrame::AdoptUnsharedFrame(frame)) {
    delete frame;
    return NEB_E_MEMORY;
  }
  if (where || route.fn) {
    try {
      std::lock_guard<std::mutex> lock(extrasLock());
      FrameExtras& e = extras()[frame];
      e.where = std::move(where);
      e.route = route;
    } catch (...) {
      OstraneFrame::ReleaseFrame(frame);  // the registry's frame now: released through it
      throw;
    }
    if (route.fn) gRoutedFrames.fetch_add(1);
  }
  *out = handleOf(frame);
  return NEB_OK;
}

// A frame of its own from a path, loaded here so that the reader's status reaches the caller.
int openUnshared(const char* path, const char* mapping, long long maxVoxels, bool headerOnly, bool gridInFile,
                 ReportRoute route, neb_frame** out) {
  std::unique_ptr<GridDataLocation> where;
  if (gridInFile && !headerOnly) where.reset(new GridDataLocation);
  std::unique_ptr<OstraneFrameData> frame(new OstraneFrameData);
  const int status = LoadFrame(frame.get(), path, mapping, 0.0, maxVoxels, true, headerOnly, where.get());
  if (status != 0) return NEB_LOAD_STATUS(status);
  frame->sourcePath = path;
  frame->sourceTime = ZUtils::fileModificationTime(path);
  frame->channelsMapping = mapping;
  // Only a nebu2 load leaves its records in the file (path set); other loads hold theirs.
  if (where && where->path.empty()) where.reset();
  return keep(frame.release(), std::move(where), route, out);
}

// A nebu2 frame of its own from bytes a host serves or holds. The source is the library's
// until the load ends; a frame whose grid stays there keeps it (and with it the host's
// bytes) until it is closed.
int openSource(const char* name, std::shared_ptr<ByteSource> source, const char* mapping, bool headerOnly,
               bool gridInFile, ReportRoute route, neb_frame** out) {
  std::unique_ptr<GridDataLocation> where;
  if (gridInFile && !headerOnly) where.reset(new GridDataLocation);
  std::unique_ptr<OstraneFrameData> frame(new OstraneFrameData);
  const int status = ImportNebSource(*frame, source, name, headerOnly, where.get());
  source.reset();
  if (status != 0) return NEB_LOAD_STATUS(status);
  frame->sourcePath = name;
  frame->channelsMapping = mapping ? mapping : "";
  return keep(frame.release(), std::move(where), route, out);
}

// The options a caller gave (null: defaults), or false for a bad size.
bool optionsOf(const neb_open_options* given, neb_open_options& o) {
  if (!given) {
    o = neb_open_options();
    o.size = sizeof o;
    return true;
  }
  if (!CInterface::sizeIsValid(given, kOptionEnds)) return false;
  o = CInterface::takeStruct(*given, kOptionEnds);
  return true;
}

ReportRoute routeIn(const neb_open_options* given) {
  neb_open_options o;
  if (!optionsOf(given, o)) return ReportRoute();
  ReportRoute r;
  r.fn = o.report;
  r.user = o.report_user;
  return r;
}

// Checks the options every open shares; NEB_OK or the argument fault.
int checkOptions(const char* name, const neb_open_options& o) {
  if (o.flags & ~(NEB_OPEN_HEADER_ONLY | NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE))
    return badArgument(name, "unknown flags");
  if ((o.flags & NEB_OPEN_GRID_IN_FILE) && !(o.flags & NEB_OPEN_UNSHARED))
    return badArgument(name, "NEB_OPEN_GRID_IN_FILE needs NEB_OPEN_UNSHARED");
  if (o.max_voxels < -1) return badArgument(name, "max_voxels is 0, -1 or a cell count");
  return NEB_OK;
}

int openWith(const char* name, const char* path, const neb_open_options* given, neb_frame** frame) {
  neb_open_options o;
  if (!frame) return badArgument(name, "null frame pointer");
  if (!optionsOf(given, o)) return badArgument(name, "options->size is below sizeof(long long)");
  const int checked = checkOptions(name, o);
  if (checked != NEB_OK) return checked;
  if (o.read && o.read_bytes < 0) return badArgument(name, "negative read_bytes");
  if (!o.read && !path) return badArgument(name, "null path and no read callback");
  const bool headerOnly = (o.flags & NEB_OPEN_HEADER_ONLY) != 0;
  const bool gridInFile = (o.flags & NEB_OPEN_GRID_IN_FILE) != 0;
  const ReportRoute route = routeIn(&o);
  if (o.read) {
    std::shared_ptr<ByteSource> source(new HostByteSource(nullptr, o.read, o.read_user, o.read_bytes, o.release));
    return openSource(path ? path : "(bytes served by the host)", std::move(source), o.mapping, headerOnly, gridInFile,
                      route, frame);
  }
  const long long maxVoxels = o.max_voxels == 0 ? -1 : o.max_voxels;
  const std::string mapping = o.mapping ? std::string(o.mapping) : CacheIO::GenerateDefaultChannelMappings(path);
  if ((o.flags & NEB_OPEN_UNSHARED) || headerOnly || maxVoxels != -1 || route.fn)
    return openUnshared(path, mapping.c_str(), maxVoxels, headerOnly, gridInFile, route, frame);
  int status = 0;
  OstraneFrameData* f = AcquireFrame(path, mapping.c_str(), -1, false, &status);
  if (!f) {
    // What the reader reported (if anything) came before; this names the shared request.
    ZUtils::logReport("[ERROR] %s: cannot load %s\n", name, path);
    return NEB_LOAD_STATUS(status != 0 ? status : 4);
  }
  *frame = handleOf(f);
  return NEB_OK;
}

}  // namespace

namespace CInterface {

bool gridInFileOf(neb_frame* frame, GridDataLocation* where) {
  std::lock_guard<std::mutex> lock(extrasLock());
  auto it = extras().find(frame);
  if (it == extras().end() || !it->second.where) return false;
  if (where) *where = *it->second.where;
  return true;
}

ReportRoute routeOf(const void* frame) {
  if (!frame || gRoutedFrames.load(std::memory_order_relaxed) == 0) return ReportRoute();
  std::lock_guard<std::mutex> lock(extrasLock());
  auto it = extras().find(frame);
  return it == extras().end() ? ReportRoute() : it->second.route;
}

}  // namespace CInterface

extern "C" {

int neb_frame_open_with(const char* path, const neb_open_options* options, neb_frame** frame) {
  static const char* const name = "neb_frame_open_with";
  return static_cast<int>(
      CInterface::guardedCall(name, routeIn(options), [&]() { return openWith(name, path, options, frame); }));
}

int neb_frame_open(const char* path, const char* mapping, long long max_voxels, int flags, neb_frame** frame) {
  static const char* const name = "neb_frame_open";
  return CInterface::guarded(name, [&]() {
    neb_open_options o = neb_open_options();
    o.size = sizeof o;
    o.flags = flags;
    o.mapping = mapping;
    o.max_voxels = max_voxels;
    return openWith(name, path, &o, frame);
  });
}

int neb_frame_from_memory(const void* bytes, long long length, const neb_open_options* options, neb_frame** frame) {
  static const char* const name = "neb_frame_from_memory";
  return static_cast<int>(CInterface::guardedCall(name, routeIn(options), [&]() {
    neb_open_options o;
    if (!frame) return badArgument(name, "null frame pointer");
    if (length < 0 || (!bytes && length > 0)) return badArgument(name, "null or negative-size bytes");
    if (!optionsOf(options, o)) return badArgument(name, "options->size is below sizeof(long long)");
    const int checked = checkOptions(name, o);
    if (checked != NEB_OK) return checked;
    if (o.read) return badArgument(name, "a read callback with bytes in memory");
    std::shared_ptr<ByteSource> source(new HostByteSource(bytes, nullptr, o.read_user, length, o.release));
    return openSource("(memory)", std::move(source), o.mapping, (o.flags & NEB_OPEN_HEADER_ONLY) != 0,
                      (o.flags & NEB_OPEN_GRID_IN_FILE) != 0, routeIn(&o), frame);
  }));
}

void neb_frame_close(neb_frame* frame) {
  CInterface::guardedOn("neb_frame_close", frame, [&]() {
    if (!frame) return NEB_OK;
    std::unique_ptr<GridDataLocation> where;  // its source (host bytes) is released after the lock
    {
      std::lock_guard<std::mutex> lock(extrasLock());
      auto it = extras().find(frame);
      if (it != extras().end()) {
        if (it->second.route.fn) gRoutedFrames.fetch_sub(1);
        where = std::move(it->second.where);
        extras().erase(it);
      }
    }
    OstraneFrame::ReleaseFrame(CInterface::frameOf(frame));
    return NEB_OK;
  });
}

}  // extern "C"
