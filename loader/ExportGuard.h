// Runs the body of an exported function so that no exception crosses the library
// boundary: anything thrown becomes the given failure result and a report.
#pragma once

#include <new>

#include "zutils/Report.h"

namespace CacheIO {

template <class R, class F>
R guardedExport(const char* name, R failure, F body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    ZUtils::logReport("[ERROR] %s: out of memory\n", name);
  } catch (const ZUtils::ExceptionMsg& e) {
    ZUtils::logReport("[ERROR] %s: %s\n", name, e.message());
  } catch (...) {
    ZUtils::logReport("[ERROR] %s: unexpected failure\n", name);
  }
  return failure;
}

}  // namespace CacheIO
