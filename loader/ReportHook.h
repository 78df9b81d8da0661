// Report file of this library instance, for hosts that want the library's diagnostics
// (the refCount messages, load failures, the unload report) in a file, and for the tests
// of the shared library, which cannot reach the internal report settings otherwise.
// Not part of the installed interface; declare it where needed or include this header.
#pragma once

#include "nebloader.h"

// Appends every later report of the library to the file at `path` (UTF-8); null or ""
// turns the file off.
extern "C" NEBLOADER_API void nebSetReportFilePath(const char* path);
