// Scratch directories, running the built volconvert, and comparing float bit patterns.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/ProcessRun.h"
#include "support/TempDir.h"

using ProgramRun = testsupport::ProcessRun;

// Runs the built volconvert with `args` (each passed as one argument).
inline ProgramRun runVolconvert(const std::vector<std::string>& args) {
  std::string command = testsupport::shellQuoted(VOLCONVERT_PATH);
  for (const std::string& a : args) command += " " + testsupport::shellQuoted(a);
  return testsupport::runCommand(command + " 2>/dev/null");
}

inline uint32_t floatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

inline float bitsFloat(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
