// The answers of nebview's routes over the sequence (RequestTarget.h lists them; the page's
// own files are HttpServer's): frames read through FrameSource, answers kept per frame in a
// ResponseCache keyed by the file's size and time (a rewritten frame is read again), at
// most `loadSlots` reads at once. A frame that cannot be read answers 422 with the
// library's reason (nebinfo's check of the frame, itself kept); a path that leads out of
// the sequence answers 403. Every method is safe on any number of threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/nebview/FrameSource.h"
#include "tools/nebview/RequestTarget.h"
#include "tools/nebview/ResponseCache.h"
#include "tools/nebview/Sequence.h"
#include "tools/nebview/StatsSweep.h"

namespace NebView {

struct ServiceOptions {
  int64_t defaultCells = int64_t(256) * 256 * 256;  // the page's first volume resolution
  uint64_t cacheBytes = uint64_t(1024) << 20;
  int loadSlots = 2;
  std::string version;  // nebview's, for the page
};

class FrameService {
 public:
  FrameService(const Sequence& sequence, const ServiceOptions& options);

  // The answer of a parsed request of a sequence or frame route. Never throws.
  ResponsePtr respond(const Request& request);

 private:
  ResponsePtr sequenceAnswer() const;
  ResponsePtr frameAnswer(const Request& request);
  ResponsePtr read(const Request& request, size_t index, const std::string& stampKey);
  // What nebinfo's check says is wrong with the frame (the library's reasons), kept.
  std::vector<std::string> diagnose(size_t index, const std::string& stampKey);
  // The 422 answer of a frame that failed with `shortReason`: the check's reasons, or the
  // short one when the check finds nothing.
  ResponsePtr failure(size_t index, const std::string& stampKey, const std::string& shortReason);
  // Channels of a read volume that failed get the check's reason for them.
  void explainChannels(size_t index, const std::string& stampKey, FrameSource::Volume& volume);

  const Sequence& sequence_;
  const ServiceOptions options_;
  ResponseCache cache_;
  LoadGate gate_;
  StatsSweep sweep_;
};

// A JSON answer {"error": reason} with the status, and the reason for the log.
ResponsePtr errorAnswer(int status, const std::string& reason);

}  // namespace NebView
