// volconvert's command line.
//
// Arguments are read left to right; matching is exact and case-sensitive on the whole
// argument, and an argument that matches no option is ignored silently. An option that
// takes a value consumes the next argument whatever it looks like ("-srcfile -silent"
// names a source called "-silent"); later occurrences win. -help and -credits print where
// they stand and parsing goes on.
#pragma once

#include <string>

#include "zutils/ConsoleOutput.h"

namespace VolConvert {

struct ConvertSettings {
  std::string source;       // -srcfile: name or pattern
  std::string destination;  // -dstfile
  bool sourceGiven = false;
  bool destinationGiven = false;
  int startFrame = 0;       // -start
  int endFrame = -1;        // -end, inclusive; -1 also marks "no range given"
  bool progress = true;     // cleared by -silent
};

// Parses argv[1..argc-1] into `settings`, printing -help / -credits texts (with
// `sdkVersion` in the version line) as they are met. Returns false after printing the
// "A number expected after ..." line when a -start / -end value holds no number; the
// program must then exit with code 1.
bool parseCommandLine(int argc, const char* const* argv, unsigned int sdkVersion, ConvertSettings& settings,
                      ZUtils::ConsoleOutput& out);

// Reads a -start / -end value the way a C "%d" conversion does: leading white space,
// optional sign, decimal digits, anything after the number ignored ("12abc" is 12).
// Returns 1 with *value set, 0 when the text is empty or only white space (the setting
// stays unchanged), -1 when no number can be read or the number does not fit 32 bits.
int readFrameNumber(const char* text, int* value);

// Single-file mode: both names given and no -end; the names are then used literally.
bool isSingleFileMode(const ConvertSettings& settings);

}  // namespace VolConvert
