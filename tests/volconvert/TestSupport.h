// Scratch directories, running the built volconvert, and comparing float bit patterns.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/neb_volconvert_XXXXXX";
    const char* made = mkdtemp(name);
    path_ = made ? made : "";
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct ProgramRun {
  std::string out;  // standard output, byte for byte
  int exitCode = -1;
};

// Runs the built volconvert with `args` (each passed as one argument, quoted for the shell).
inline ProgramRun runVolconvert(const std::vector<std::string>& args) {
  std::string command = "'" VOLCONVERT_PATH "'";
  for (const std::string& a : args) {
    std::string quoted = "'";
    for (char c : a) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += " " + quoted + "'";
  }
  command += " 2>/dev/null";
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
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
