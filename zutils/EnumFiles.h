// Finding on disk the files of a frame sequence pattern, and choosing one of them.
#pragma once

#include <string>

namespace OstraneEnum {

// Usage: set wantedFrame (and exactFrameOnly), call enumerate(pattern, -1), read
// chosenName / chosenFrame. Subclasses override fileFound to collect or choose
// differently; beginEnum is called once at the start of every enumeration.
//
// Default choice: frames equal to kNoFrameNumber are ignored. With exactFrameOnly set a
// file is taken only for frame == wantedFrame; otherwise the file whose frame is
// strictly nearest to wantedFrame wins, ties keeping the one met first.
class EnumFiles {
 public:
  EnumFiles();
  virtual ~EnumFiles();
  virtual void beginEnum(const char* pattern, int mode);
  // Called for every file accepted by the pattern; returns `frame`.
  virtual int fileFound(int frame, const char* name);

  // Lists the files of `pattern` (tokens act as wildcards; the listed names must then
  // format back to the pattern exactly, so "####" accepts 0007 but not 7) and reports
  // them through fileFound. For ".neb" patterns where nothing was chosen, unpadded
  // numbers are tried as well. A pattern without token is reported as itself when it
  // exists. False when nothing matched the wildcard or the pattern is null.
  // Every caller passes mode -1.
  bool enumerate(const char* pattern, int mode);

  std::string chosenName;  // empty until a file is chosen
  int chosenFrame;         // initially INT_MIN
  int wantedFrame;         // initially INT_MIN
  int exactFrameOnly;      // initially 1
};

}  // namespace OstraneEnum
