// The answers of nebview's routes over the sequence (RequestTarget.h lists them; the page's
// own files are HttpServer's): frames read through FrameSource, answers kept per frame in a
// ResponseCache keyed by the file's size and time (a rewritten frame is read again), at
// most `loadSlots` reads at once. A frame that cannot be read answers 422 with the
// library's reason for the call that failed; a path that leads out of the sequence answers
// 403. Every method is safe on any number of threads.
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
  // A frame route's answer, kept under the file's stamp.
  ResponsePtr read(const Request& request, size_t index, const std::string& stampKey);
  ResponsePtr factsAnswer(size_t index);
  ResponsePtr volumeAnswer(const Request& request, size_t index);
  ResponsePtr sliceAnswer(const Request& request, size_t index);
  ResponsePtr particlesAnswer(const Request& request, size_t index);
  // 404 for a request the frame cannot answer (a layer or group outside it), else 422
  // with the reason.
  ResponsePtr readFailure(FrameSource::ReadStatus status, const std::string& reason, size_t index);

  const Sequence& sequence_;
  const ServiceOptions options_;
  ResponseCache cache_;
  LoadGate gate_;
  StatsSweep sweep_;
};

// A JSON answer {"error": reason} with the status, and the reason for the log.
ResponsePtr errorAnswer(int status, const std::string& reason);

}  // namespace NebView
