#include "tools/volconvert/FrameLoop.h"

#include <cstdint>
#include <string>

#include "tools/volconvert/ConsoleTexts.h"
#include "zutils/FramePattern.h"

namespace VolConvert {

namespace {

void printFrameError(ConsoleOutput& out, int64_t k, const char* reason) {
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

}  // namespace

int runFrameLoop(const ConvertSettings& settings, FrameConverter& converter, ConsoleOutput& out) {
  int failures = 0;
  bool singlePass = isSingleFileMode(settings);
  // 64-bit counter: a range ending at the largest int must still end, and k and n of a
  // range spanning the whole int range must not wrap.
  const int64_t start = settings.startFrame;
  const int64_t end = settings.endFrame;
  for (int64_t counter = start; singlePass || counter <= end; ++counter) {
    std::string source, destination;
    if (singlePass) {
      // Single-file mode: names used literally, even when they hold '#'.
      source = settings.source;
      destination = settings.destination;
    } else {
      const int frame = static_cast<int>(counter);  // within [start, end], so an int
      source = ZUtils::expandFramePattern(settings.source.c_str(), frame, "");
      destination = ZUtils::expandFramePattern(settings.destination.c_str(), frame, "");
    }
    const int64_t k = counter - start + 1;
    // In single-file mode there is exactly one frame to convert.
    const int64_t n = singlePass ? 1 : end - start + 1;
    singlePass = false;

    if (settings.progress) out.write("Converting " + source + " to " + destination + " | 0...");
    INeb* frame = converter.loadFrame(source);
    if (!frame) {
      printFrameError(out, k, kLoadFailedReason);
      ++failures;
      continue;
    }
    if (settings.progress) out.write("...50...");
    const ExportResult result = converter.exportFrame(destination, *frame);
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
