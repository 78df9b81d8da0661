// nebview's command line (GNU style: long options, --name=value or --name value, "--"
// ends the options).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace NebView {

struct Options {
  std::string host = "127.0.0.1";
  int port = 8765;
  bool open = false;
  bool haveFrames = false;
  std::vector<int> frames;
  int resolution = 256;  // cells per side the volume view shows at first
  uint64_t cacheMb = 1024;
  int threads = 0;       // 0: the processors, at least 2
  bool verbose = false;
  std::vector<std::string> inputs;
};

enum class ParseOutcome { Run, Exit, UsageError };

// Exit: --help or --version printed to `text`. UsageError: the message in `text`.
ParseOutcome parseOptions(int argc, char** argv, Options& options, std::string& text);

}  // namespace NebView
