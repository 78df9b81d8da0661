// The whole neb2vdb program behind main(): options, the frame tasks, the jobs that
// convert them, progress and summary.
//
// Jobs: N threads take the next frame in turn. Loading and releasing frames go through
// one lock (the library's frame registry takes none: newINeb and deleteINeb must not
// overlap); decoding, building the trees and writing run in parallel.
#pragma once

#include "zutils/ConsoleOutput.h"

namespace Neb2Vdb {

// Exit codes.
constexpr int kExitOk = 0;          // every frame converted (or skipped as existing)
constexpr int kExitFramesFailed = 1;
constexpr int kExitUsage = 2;

// `terminal`: standard error is a terminal (progress bar instead of plain lines).
int runNeb2Vdb(int argc, const char* const* argv, ZUtils::ConsoleOutput& out, ZUtils::ConsoleOutput& err,
               bool terminal);

}  // namespace Neb2Vdb
