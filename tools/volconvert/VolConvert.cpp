#include "tools/volconvert/VolConvert.h"

#include "tools/volconvert/CommandLine.h"
#include "tools/volconvert/ConsoleTexts.h"
#include "tools/volconvert/FrameLoop.h"

namespace VolConvert {

int runVolConvert(int argc, const char* const* argv, unsigned int sdkVersion, FrameConverter& converter,
                  ZUtils::ConsoleOutput& out) {
  if (argc <= 1) {
    out.write(versionLine(sdkVersion));
    out.write(helpText());
  }
  ConvertSettings settings;
  if (!parseCommandLine(argc, argv, sdkVersion, settings, out)) return 1;
  // Reported, but not an error: with the default range no pass runs; with a range every
  // frame is attempted with the (empty) names and fails to load.
  if (!settings.sourceGiven || !settings.destinationGiven) out.write(kMissingNamesText);
  runFrameLoop(settings, converter, out);
  return 0;
}

}  // namespace VolConvert
