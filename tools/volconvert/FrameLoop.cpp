#include "tools/volconvert/FrameLoop.h"

#include <cstdint>
#include <string>

#include "tools/volconvert/ConsoleTexts.h"
#include "zutils/FramePattern.h"

namespace VolConvert {

namespace {

void printFrameError(ZUtils::ConsoleOutput& out, int64_t k, const char* reason) {
  out.write(std::string(kFrameErrorPrefix) + std::to_string(k) + ": " + reason + "\n");
}

const char* reasonText(const ExportResult& result) {
  switch (result.code) {
    case kExportChannelUnavailable:
      return kChannelFailedReason;
    case kExportWriteFailed:
      return kWriteFailedReason;
    default:
      return result.reason.c_str();
  }
}

struct PassNames {
  std::string source, destination;
};

// Single-file mode: names used literally, even when they hold '#'.
PassNames namesOf(const ConvertSettings& settings, int64_t counter, bool literal) {
  if (literal) return {settings.source, settings.destination};
  const int frame = static_cast<int>(counter);  // within [start, end], so an int
  return {ZUtils::expandFramePattern(settings.source.c_str(), frame, ""),
          ZUtils::expandFramePattern(settings.destination.c_str(), frame, "")};
}

}  // namespace

int runFrameLoop(const ConvertSettings& settings, FrameConverter& converter, ZUtils::ConsoleOutput& out) {
  int failures = 0;
  bool singlePass = isSingleFileMode(settings);
  // 64-bit counter: a range ending at the largest int must still end, and k and n of a
  // range spanning the whole int range must not wrap.
  const int64_t start = settings.startFrame;
  const int64_t end = settings.endFrame;
  for (int64_t counter = start; singlePass || counter <= end; ++counter) {
    const PassNames names = namesOf(settings, counter, singlePass);
    const int64_t k = counter - start + 1;
    // In single-file mode there is exactly one frame to convert.
    const int64_t n = singlePass ? 1 : end - start + 1;
    singlePass = false;

    if (settings.progress) out.write("Converting " + names.source + " to " + names.destination + " | 0...");
    INeb* frame = converter.loadFrame(names.source);
    if (!frame) {
      printFrameError(out, k, kLoadFailedReason);
      ++failures;
      continue;
    }
    if (settings.progress) out.write("...50...");
    const ExportResult result = converter.exportFrame(names.destination, *frame);
    converter.releaseFrame(frame);
    if (result.code == kExportOk) {
      if (settings.progress) out.write("...100 | " + std::to_string(k) + "/" + std::to_string(n) + "\n");
    } else {
      printFrameError(out, k, reasonText(result));
      ++failures;
    }
  }
  return failures;
}

}  // namespace VolConvert
