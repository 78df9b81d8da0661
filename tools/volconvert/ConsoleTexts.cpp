#include "tools/volconvert/ConsoleTexts.h"

#include <cstdio>

namespace VolConvert {

std::string versionLine(unsigned int sdkVersion) {
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "Cache conversion tool (Ostrane SDK version 0x%x)\n", sdkVersion);
  return buffer;
}

// Fixed byte for byte, including the blanks before some line ends and the ".exe" of the
// example on every platform.
const char* helpText() {
  return "-help :           Shows the help screen\n"
         "-credits :        Shows copyright notices for the cache converter and used libraries.\n"
         "-srcfile :        Input file(s) name or pattern. Use '##...#' as a frame number.\n"
         "-dstfile :        Output file(s) name or pattern. Use '##...#' as a frame number.\n"
         "-start/end :      Export range (inclusive) \n"
         "-silent :         Hide progress \n"
         "Example command line: \n"
         "volconvert.exe -srcfile ND2_OstraneFire001_####.neb -dstfile outFile_####.vdb -start 0 -end 10\n";
}

const char* creditsText() {
  return "volconvert - converts nebu2 simulation cache sequences to OpenVDB files.\n"
         "Copyright (c) the nebloader authors.\n"
         "\n"
         "This program is built with the following libraries:\n"
         "\n"
         "zlib - Copyright (c) Jean-loup Gailly and Mark Adler.\n"
         "  Distributed under the zlib License.\n"
         "\n"
         "Boost C++ Libraries - Copyright (c) the Boost contributors.\n"
         "  Distributed under the Boost Software License, Version 1.0.\n"
         "\n"
         "OpenVDB - Copyright (c) Contributors to the OpenVDB Project.\n"
         "  Distributed under the Mozilla Public License, Version 2.0.\n"
         "\n"
         "oneAPI Threading Building Blocks (TBB) - Copyright (c) Intel Corporation.\n"
         "  Distributed under the Apache License, Version 2.0.\n"
         "\n"
         "Blosc - Copyright (c) the Blosc Development Team.\n"
         "  Distributed under the BSD 3-Clause License.\n";
}

const char* const kMissingNamesText =
    "Source and destination files have not been set. Use \"-srcfile\" and \"-dstfile\" arguments\n";
const char* const kStartNumberExpected = "A number expected after -start.\n";
const char* const kEndNumberExpected = "A number expected after -end.\n";

const char* const kFrameErrorPrefix = "An error has been encountered while converting frame ";
const char* const kLoadFailedReason = "Unable to load source cache ";
const char* const kChannelFailedReason = "Unable to expand a source channel";
const char* const kWriteFailedReason = "Unable to write to destination file";

}  // namespace VolConvert
