// The fixed texts volconvert prints, byte for byte.
#pragma once

#include <string>

namespace VolConvert {

// "Cache conversion tool (Ostrane SDK version 0x31200)\n" for version 0x31200.
std::string versionLine(unsigned int sdkVersion);
const char* helpText();
const char* creditsText();

extern const char* const kMissingNamesText;
// Printed for an unreadable -start / -end value; the program then exits with code 1.
extern const char* const kStartNumberExpected;
extern const char* const kEndNumberExpected;

// Error line of frame k: kFrameErrorPrefix + k + ": " + reason + "\n".
extern const char* const kFrameErrorPrefix;
// The load failure reason carries its own trailing blank.
extern const char* const kLoadFailedReason;
extern const char* const kChannelFailedReason;
extern const char* const kWriteFailedReason;

}  // namespace VolConvert
