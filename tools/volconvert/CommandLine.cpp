#include "tools/volconvert/CommandLine.h"

#include <climits>
#include <cstring>

#include "tools/volconvert/ConsoleTexts.h"

namespace VolConvert {

int readFrameNumber(const char* text, int* value) {
  const char* p = text;
  // White space as "%d" skips it (isspace in the C locale).
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  // An empty or blank value ends the scan before a conversion: "%d" gives EOF there, not
  // a failed match, and the setting keeps its value.
  if (*p == '\0') return 0;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (*p < '0' || *p > '9') return -1;
  // Accumulate as a negative magnitude so that INT_MIN is representable. A number out of
  // the 32-bit range is refused rather than wrapped into some other frame.
  long long acc = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    acc = acc * 10 - (*p - '0');
    if (acc < static_cast<long long>(INT_MIN)) return -1;
  }
  if (!negative) {
    if (-acc > static_cast<long long>(INT_MAX)) return -1;
    acc = -acc;
  }
  *value = static_cast<int>(acc);
  return 1;
}

bool isSingleFileMode(const ConvertSettings& settings) {
  return settings.sourceGiven && settings.destinationGiven && settings.endFrame == -1;
}

bool parseCommandLine(int argc, const char* const* argv, unsigned int sdkVersion, ConvertSettings& settings,
                      ZUtils::ConsoleOutput& out) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i] ? argv[i] : "";
    // The value of an option: the next argument, or nothing when the option is last.
    const char* next = i + 1 < argc && argv[i + 1] ? argv[i + 1] : nullptr;
    if (std::strcmp(arg, "-help") == 0) {
      out.write(versionLine(sdkVersion));
      out.write(helpText());
    } else if (std::strcmp(arg, "-credits") == 0) {
      out.write(creditsText());
    } else if (std::strcmp(arg, "-srcfile") == 0) {
      settings.source = next ? next : "";
      settings.sourceGiven = true;
      if (next) ++i;
    } else if (std::strcmp(arg, "-dstfile") == 0) {
      settings.destination = next ? next : "";
      settings.destinationGiven = true;
      if (next) ++i;
    } else if (std::strcmp(arg, "-start") == 0 || std::strcmp(arg, "-end") == 0) {
      const bool isStart = arg[1] == 's';
      int value = 0;
      const int read = next ? readFrameNumber(next, &value) : -1;
      if (read < 0) {
        out.write(isStart ? kStartNumberExpected : kEndNumberExpected);
        return false;
      }
      if (read > 0) (isStart ? settings.startFrame : settings.endFrame) = value;
      ++i;
    } else if (std::strcmp(arg, "-silent") == 0) {
      settings.progress = false;
    }
  }
  return true;
}

}  // namespace VolConvert
