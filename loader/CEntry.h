// What every function of the C interface (nebloader_c.h) shares: the call scope that turns
// anything thrown into a status, tells a budget refusal from damage, keeps the reason of a
// failure for neb_last_error and routes the call's reports; argument failures with their
// report; text and sized-struct delivery; the casts between the opaque handles and the
// library's objects.
#pragma once

#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "nebloader_c.h"
#include "ostutils/MemoryLimit.h"
#include "particles/PGroup.h"
#include "zutils/Report.h"

namespace CInterface {

// Where the reports of a call go besides the call's own reason: a frame's own callback, or
// (fn null) the process-wide one of neb_set_report_callback.
struct ReportRoute {
  neb_report_fn fn = nullptr;
  void* user = nullptr;
};

// One call of the interface, installed as the work context of the calling thread and of
// the pool threads that run its jobs (ostutils/MemoryLimit.h): the budget counts its
// refusals in it, and the library's report callback (CLibrary.cpp) finds it from any of
// those threads to keep the call's reports and send them along its route.
class CallScope : public OSTUtils::WorkContext {
 public:
  CallScope(const char* name, ReportRoute route);
  ~CallScope() override;
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

  // The call's result: a failure after a budget refusal becomes NEB_E_MEMORY (argument,
  // buffer and parse faults stay what they are); any failure becomes the thread's last
  // error, with the reports the call made.
  long long finish(long long status);

  // A report made during the call, on any thread.
  void keep(const char* text);
  const ReportRoute& route() const { return route_; }

 private:
  const char* name_;
  ReportRoute route_;
  std::mutex lock_;
  std::string reports_;        // at most kMaxReasonBytes
  OSTUtils::WorkScope scope_;  // last: installs the finished object
};

// Installs the library's report callback once (CLibrary.cpp).
void ensureReportForwarding();

// The reason of the last failure on the calling thread (neb_last_error): `length` bytes,
// not terminated.
const char* lastErrorOfThread(size_t& length);

// The report route of a frame opened with a report callback of its own (CFrames.cpp);
// empty for every other frame and for null.
ReportRoute routeOf(const void* frame);

// Runs `body` (returning a status or a count) as one call; nothing thrown leaves it.
template <class F>
long long guardedCall(const char* name, ReportRoute route, F body) {
  ensureReportForwarding();
  CallScope call(name, route);
  long long status;
  try {
    status = body();
  } catch (const std::bad_alloc&) {
    ZUtils::logReport("[ERROR] %s: out of memory\n", name);
    status = NEB_E_MEMORY;
  } catch (const ZUtils::ExceptionMsg& e) {
    ZUtils::logReport("[ERROR] %s: %s\n", name, e.message());
    status = NEB_E_FAILED;
  } catch (...) {
    ZUtils::logReport("[ERROR] %s: unexpected failure\n", name);
    status = NEB_E_FAILED;
  }
  return call.finish(status);
}

// A call that concerns no frame.
template <class F>
int guarded(const char* name, F body) {
  return static_cast<int>(guardedCall(name, ReportRoute(), body));
}

// A call on `frame` (a neb_frame*, or the frame a group or reader belongs to; may be null).
template <class F>
int guardedOn(const char* name, const void* frame, F body) {
  return static_cast<int>(guardedCall(name, routeOf(frame), body));
}

inline int badArgument(const char* name, const char* what) {
  ZUtils::logReport("[ERROR] %s: %s\n", name, what);
  return NEB_E_ARGUMENT;
}

// Copies `text` and its NUL to (buffer, size). *length (when given) gets the text length.
// NEB_E_BUFFER when it does not fit: reported, except for a pure length query (null
// buffer, size 0).
int deliverText(const char* name, const std::string& text, char* buffer, long long size, long long* length);

// Sized structs (nebloader_c.h): every struct starts with `long long size`. `ends` lists
// the end offsets of the struct's fields after `size`, in ascending order; the struct's
// own size counts as the last end, so a field appended to the header is delivered whole
// to a caller whose size reaches it even before it is listed.
//
// The bytes of `size` a struct covers for this library: up to the end of the last field
// that lies wholly within both the caller's size and the library's struct of `total`
// bytes. -1 for a size below sizeof(long long).
long long coveredBytes(long long size, const size_t* ends, size_t count, size_t total);

template <class T, size_t N>
bool sizeIsValid(const T* s, const size_t (&ends)[N]) {
  return s && coveredBytes(s->size, ends, N, sizeof(T)) >= 0;
}

// Writes the fields of `full` that the caller's struct covers into it; its size field and
// every byte past the covered fields stay as they were.
template <class T, size_t N>
void deliverStruct(const T& full, T* out, const size_t (&ends)[N]) {
  const long long covered = coveredBytes(out->size, ends, N, sizeof(T));
  const size_t from = sizeof(long long);
  if (covered > static_cast<long long>(from))
    std::memcpy(reinterpret_cast<char*>(out) + from, reinterpret_cast<const char*>(&full) + from,
                static_cast<size_t>(covered) - from);
}

// The fields of the caller's struct that it covers; every other field is zero.
template <class T, size_t N>
T takeStruct(const T& in, const size_t (&ends)[N]) {
  T out;
  std::memset(&out, 0, sizeof out);
  const long long covered = coveredBytes(in.size, ends, N, sizeof(T));
  if (covered > 0) std::memcpy(&out, &in, static_cast<size_t>(covered));
  out.size = sizeof out;
  return out;
}

#define NEB_FIELD_END(type, field) (offsetof(type, field) + sizeof(static_cast<type*>(nullptr)->field))

// True for a frame opened NEB_OPEN_GRID_IN_FILE whose grid records stayed in the file or
// with its host (CFrames.cpp); *where (when given) gets where they are.
bool gridInFileOf(neb_frame* frame, GridDataLocation* where);

inline OstraneFrameData* frameOf(neb_frame* f) { return reinterpret_cast<OstraneFrameData*>(f); }
inline neb_frame* handleOf(OstraneFrameData* f) { return reinterpret_cast<neb_frame*>(f); }
inline PGroup* groupOf(neb_group* g) { return reinterpret_cast<PGroup*>(g); }
inline neb_group* handleOf(PGroup* g) { return reinterpret_cast<neb_group*>(g); }
// The frame handle a group belongs to (its owner), or null.
inline const void* frameOfGroup(neb_group* g) {
  return g ? static_cast<const void*>(static_cast<const OstraneFrameData*>(groupOf(g)->owner)) : nullptr;
}

}  // namespace CInterface
