// Running a child program from a test: shell quoting and capturing standard output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace testsupport {

// `s` as one shell word.
inline std::string shellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct ProcessRun {
  std::string out;  // standard output, byte for byte
  int exitCode = -1;  // -1 when the child did not exit normally
};

// Runs `command` through the shell and waits for it.
inline ProcessRun runCommand(const std::string& command) {
  ProcessRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

}  // namespace testsupport
