// Summarises a list of frames on several threads of a thread manager and hands each
// summary to a callback in list order, as soon as it and all before it are done.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/nebinfo/FrameSummary.h"

namespace NebInfo {

// `threads` < 1 means one. With one thread (or one frame) everything runs on the calling
// thread; otherwise on a pool from the thread manager, one frame per thread at a time.
// The pool is never registered for the decoders, so each frame decodes on the thread that
// summarises it (its reports are captured there). `done` is called under a lock, never
// twice at once.
void summarizeFrames(const std::vector<std::string>& paths, const SummaryOptions& options, int threads,
                     const std::function<void(const FrameSummary&)>& done);

}  // namespace NebInfo
