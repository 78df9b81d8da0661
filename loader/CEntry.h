// What every function of the C interface (nebloader_c.h) shares: the guard that turns
// anything thrown into a status, argument failures with their report, text delivery into
// a caller's buffer, and the casts between the opaque handles and the library's objects.
#pragma once

#include <new>
#include <string>

#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "nebloader_c.h"
#include "particles/PGroup.h"
#include "zutils/Report.h"

namespace CInterface {

// Runs `body` (returning a status or a count); nothing thrown leaves it.
template <class F>
int guarded(const char* name, F body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    ZUtils::logReport("[ERROR] %s: out of memory\n", name);
    return NEB_E_MEMORY;
  } catch (const ZUtils::ExceptionMsg& e) {
    ZUtils::logReport("[ERROR] %s: %s\n", name, e.message());
  } catch (...) {
    ZUtils::logReport("[ERROR] %s: unexpected failure\n", name);
  }
  return NEB_E_FAILED;
}

inline int badArgument(const char* name, const char* what) {
  ZUtils::logReport("[ERROR] %s: %s\n", name, what);
  return NEB_E_ARGUMENT;
}

// Copies `text` and its NUL to (buffer, size). *length (when given) gets the text length.
// NEB_E_BUFFER when it does not fit: reported, except for a pure length query (null
// buffer, size 0).
int deliverText(const char* name, const std::string& text, char* buffer, long long size, long long* length);

// True for a frame opened NEB_OPEN_GRID_IN_FILE whose grid records stayed in the file
// (CFrames.cpp); *where (when given) gets where they are.
bool gridInFileOf(neb_frame* frame, GridDataLocation* where);

inline OstraneFrameData* frameOf(neb_frame* f) { return reinterpret_cast<OstraneFrameData*>(f); }
inline neb_frame* handleOf(OstraneFrameData* f) { return reinterpret_cast<neb_frame*>(f); }
inline PGroup* groupOf(neb_group* g) { return reinterpret_cast<PGroup*>(g); }
inline neb_group* handleOf(PGroup* g) { return reinterpret_cast<neb_group*>(g); }

}  // namespace CInterface
