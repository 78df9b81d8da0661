// Summarises a list of frames on several threads of a thread manager and hands each
// summary to a callback in list order, as soon as it and all before it are done.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "frameinfo/FrameSummary.h"

namespace NebInfo {

// `threads` < 1 means one. The frames run on worker threads, one frame per thread at a
// time, also for a single thread: checking the 10-frame 256^3 sample on the main thread
// spent 4 to 7 s of system time faulting channel buffers in, against 1.3 to 1.6 s on one
// worker thread (the cause lies in how the C heap serves the main thread; the wall time
// halved). Only when no thread can be started do the frames run on the calling thread.
// No thread manager is registered for the decoders, so each frame decodes on the thread
// that summarises it (its reports are captured there). `done` is called under a lock,
// never twice at once.
void summarizeFrames(const std::vector<std::string>& paths, const NebFrameInfo::SummaryOptions& options, int threads,
                     const std::function<void(const NebFrameInfo::FrameSummary&)>& done);

}  // namespace NebInfo
