#include "zutils/EnumFiles.h"

#include <string>

#include "zutils/FileList.h"
#include "zutils/FramePattern.h"

namespace OstraneEnum {

using ZUtils::kEmptyFrameNumber;
using ZUtils::kNoFrameNumber;

EnumFiles::EnumFiles() : chosenFrame(kEmptyFrameNumber), wantedFrame(kEmptyFrameNumber), exactFrameOnly(1) {}

EnumFiles::~EnumFiles() = default;

void EnumFiles::beginEnum(const char* /*pattern*/, int /*mode*/) {}

namespace {

// Distance between frames without int overflow (frames span the whole int range).
long long frameDistance(int a, int b) {
  long long d = static_cast<long long>(a) - static_cast<long long>(b);
  return d < 0 ? -d : d;
}

}  // namespace

int EnumFiles::fileFound(int frame, const char* name) {
  if (frame == kNoFrameNumber || !name) return frame;
  const bool nothingChosen = chosenName.empty();
  bool accept;
  if (exactFrameOnly != 0) {
    accept = frame == wantedFrame;
  } else {
    accept = nothingChosen || frameDistance(frame, wantedFrame) < frameDistance(chosenFrame, wantedFrame);
  }
  if (accept && (nothingChosen || frame != chosenFrame)) {
    chosenName = name;
    chosenFrame = frame;
  }
  return frame;
}

namespace {

// Reports every listed file whose name is exactly `pattern` expanded with the frame
// number read from that name, so "####" takes 0007 but not 7 or 00007.
void reportMatching(EnumFiles& e, const ZUtils::FileNameList& files, const char* pattern) {
  for (int i = 0; i < files.count(); ++i) {
    const char* name = files.item(i);
    const int frame = ZUtils::frameNumberFromFileName(name);
    if (ZUtils::expandFramePattern(pattern, frame, nullptr) == name) e.fileFound(frame, name);
  }
}

}  // namespace

bool EnumFiles::enumerate(const char* pattern, int mode) {
  if (!pattern) return false;
  beginEnum(pattern, mode);

  ZUtils::FileNameList files;
  if (!ZUtils::hasFramePattern(pattern)) {
    const bool found = ZUtils::listFiles(pattern, files);
    chosenName.clear();
    if (!found) return false;
    chosenName = pattern;
    fileFound(kNoFrameNumber, pattern);
    return true;
  }

  const std::string wildcard = ZUtils::expandFramePattern(pattern, kNoFrameNumber, "*");
  ZUtils::listFiles(wildcard.c_str(), files);
  chosenName.clear();
  if (files.count() == 0) return false;

  if (files.count() == 1) {
    fileFound(wantedFrame, files.item(0));
  } else {
    reportMatching(*this, files, pattern);
  }

  if (chosenName.empty() && ZUtils::fileExtensionLower(pattern) == "neb") {
    // Caches are also written with unpadded frame numbers: every token becomes a single
    // '#', which formats the frame without padding.
    const std::string normalised = ZUtils::expandFramePattern(pattern, kNoFrameNumber, "#");
    reportMatching(*this, files, normalised.c_str());
  }
  return true;
}

}  // namespace OstraneEnum
