// Running the built volconvert as a child process through the POSIX shell (the files that
// do are not built for Windows, where scripts/test-windows.sh compares volconvert.exe with
// the Linux build instead).
#pragma once

#include <string>
#include <vector>

#include "support/ProcessRun.h"

using ProgramRun = testsupport::ProcessRun;

// Runs the built volconvert with `args` (each passed as one argument).
inline ProgramRun runVolconvert(const std::vector<std::string>& args) {
  std::string command = testsupport::shellQuoted(VOLCONVERT_PATH);
  for (const std::string& a : args) command += " " + testsupport::shellQuoted(a);
  return testsupport::runCommand(command + " 2>/dev/null");
}
