#include "tools/nebinfo/NebInfo.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "nebloader.h"
#include "nebloader_c.h"
#include "tools/nebinfo/FrameRunner.h"
#include "tools/nebinfo/Layout.h"

#ifndef NEBLOADER_VERSION
#define NEBLOADER_VERSION "unknown"
#endif

namespace NebInfo {

namespace {

const char* const kHelp =
    "Usage: nebinfo [OPTION]... FILE...\n"
    "Print what nebu2 cache frames (.neb) hold: file version and frame number, grid size,\n"
    "voxel size and transform, every grid channel with its stored size and how it is\n"
    "stored, and every particle group with its channels. OpenVDB files (.vdb) are read\n"
    "through the vdbport plug-in when it is installed.\n"
    "\n"
    "  -v, --verbose        add value statistics (min, max, mean, non-zero count) per\n"
    "                       channel and the particle identifier range\n"
    "      --json           print one JSON object per frame, one per line\n"
    "      --check          decode every grid and particle channel of every frame, report\n"
    "                       each failure and a summary; exit status 1 if a frame is damaged\n"
    "      --frames LIST    frames for file names with a frame pattern (#### or %04d):\n"
    "                       A-B, A-BxSTEP, single frames, or a comma list of those\n"
    "      --threads N      frames handled at once (default: QARN_NUM_THREADS, else the\n"
    "                       number of processors)\n"
    "  -h, --help           print this help and exit\n"
    "      --version        print version information and exit\n"
    "\n"
    "Examples:\n"
    "  nebinfo fire_0042.neb\n"
    "  nebinfo -v --json fire_####.neb --frames 1-240\n"
    "  nebinfo --check fire_####.neb --frames 1-240x2\n"
    "\n"
    "Exit status: 0 when every frame was read (and is sound, with --check), 1 when a frame\n"
    "could not be read (or is damaged, with --check), 2 for a usage error.\n";

struct Options {
  bool verbose = false;
  bool json = false;
  bool check = false;
  bool haveFrames = false;
  std::vector<int> frames;
  int threads = 0;
  std::vector<std::string> files;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "nebinfo: %s\nTry 'nebinfo --help' for more information.\n", message.c_str());
  return 2;
}

// Splits "--name=value" and takes the value from the next argument otherwise. Null when
// there is none.
const char* optionValue(const std::string& arg, const char* name, int& i, int argc, char** argv) {
  const size_t n = std::strlen(name);
  if (arg.size() > n && arg.compare(0, n, name) == 0 && arg[n] == '=') return argv[i] + n + 1;
  if (i + 1 < argc) return argv[++i];
  return nullptr;
}

// Appends the frames of a frame list; false with the reason in `error`.
bool parseFrames(const char* text, std::vector<int>& frames, std::string& error) {
  long long count = 0;
  char reason[256];
  int status = neb_parse_frame_list(text, nullptr, 0, &count, reason, sizeof reason);
  if (status == NEB_E_BUFFER) {
    std::vector<int> list(static_cast<size_t>(count));
    status = neb_parse_frame_list(text, list.data(), count, &count, reason, sizeof reason);
    if (status == NEB_OK) frames.insert(frames.end(), list.begin(), list.end());
  }
  if (status == NEB_E_PARSE) error = reason;
  return status == NEB_OK;
}

std::string expandPattern(const std::string& pattern, int frame) {
  long long length = 0;
  neb_expand_frame_pattern(pattern.c_str(), frame, nullptr, 0, &length);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  if (neb_expand_frame_pattern(pattern.c_str(), frame, &text[0], length + 1, nullptr) != NEB_OK) return std::string();
  text.resize(static_cast<size_t>(length));
  return text;
}

bool isForeign(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == "vdb" || ext == "f3d";
}

bool matches(const std::string& arg, const char* name) {
  const size_t n = std::strlen(name);
  return arg == name || (arg.size() > n && arg.compare(0, n, name) == 0 && arg[n] == '=');
}

// 0 to go on, otherwise the exit status (-1 for a clean exit after --help / --version).
int parse(int argc, char** argv, Options& o) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      o.files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return -1;
    } else if (arg == "--version") {
      std::printf("nebinfo (nebloader) %s\nlibrary interface version 0x%X\n", NEBLOADER_VERSION,
                  OstraneSDKGetVersionNumber());
      return -1;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--check") {
      o.check = true;
    } else if (matches(arg, "--frames")) {
      const char* value = optionValue(arg, "--frames", i, argc, argv);
      if (!value) return usageError("option '--frames' requires a frame list");
      std::string error;
      if (!parseFrames(value, o.frames, error))
        return usageError("invalid frame list '" + std::string(value) + "': " + error);
      o.haveFrames = true;
    } else if (matches(arg, "--threads")) {
      const char* value = optionValue(arg, "--threads", i, argc, argv);
      char* end = nullptr;
      const long n = value ? std::strtol(value, &end, 10) : 0;
      if (!value || !*value || *end != '\0' || n < 1 || n > 1024)
        return usageError("option '--threads' requires a number from 1 to 1024");
      o.threads = static_cast<int>(n);
    } else {
      return usageError("unrecognized option '" + arg + "'");
    }
  }
  if (o.files.empty()) return usageError("no FILE given");
  return 0;
}

}  // namespace

int runNebInfo(int argc, char** argv) {
  installReportCapture();
  Options o;
  const int parsed = parse(argc, argv, o);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;

  std::vector<std::string> paths;
  bool foreign = false;
  for (const std::string& file : o.files) {
    if (neb_has_frame_pattern(file.c_str()) == 1) {
      if (!o.haveFrames) return usageError("'" + file + "' has a frame pattern: give the frames with --frames");
      for (int f : o.frames) paths.push_back(expandPattern(file, f));
    } else {
      paths.push_back(file);
    }
  }
  for (const std::string& p : paths) foreign = foreign || isForeign(p);
  // The import plug-ins are found beside the library; no thread manager is handed over, so
  // imports and decoding stay on the caller's thread.
  if (foreign && !(neb_initialize(nullptr, nullptr, -1) & 2)) {
    // The build tree's plug-in is linked beside the program (tools/nebinfo/CMakeLists.txt).
    const std::string program = argv[0];
    const size_t slash = program.rfind('/');
    if (slash != std::string::npos) neb_initialize(program.substr(0, slash).c_str(), "build", -1);
  }

  SummaryOptions summary;
  summary.statistics = o.verbose;
  summary.check = o.check;
  const int threads = o.threads > 0 ? o.threads : neb_default_thread_count();

  int unreadable = 0;
  std::vector<std::string> damaged;
  bool firstText = true;
  summarizeFrames(paths, summary, threads, [&](const FrameSummary& s) {
    if (o.check) {
      if (!s.failures.empty()) damaged.push_back(s.path);
      std::fputs(o.json ? jsonLayout(s, o.verbose, true).c_str() : checkLayout(s).c_str(), stdout);
    } else if (!s.loaded) {
      ++unreadable;
      if (o.json) std::fputs(jsonLayout(s, o.verbose, false).c_str(), stdout);
      std::fflush(stdout);
      std::fprintf(stderr, "nebinfo: %s: %s\n", s.path.c_str(), s.failures.empty() ? "cannot load" : s.failures[0].c_str());
    } else {
      if (o.json) {
        std::fputs(jsonLayout(s, o.verbose, false).c_str(), stdout);
      } else {
        if (!firstText) std::fputs("\n", stdout);
        std::fputs(textLayout(s, o.verbose).c_str(), stdout);
        firstText = false;
      }
    }
    std::fflush(stdout);
  });

  if (foreign) neb_finalize();
  if (o.check) {
    const size_t good = paths.size() - damaged.size();
    // With --json the summary goes to standard error: standard output stays JSON lines.
    std::string line = std::to_string(good) + " of " + std::to_string(paths.size()) + " frames sound";
    if (!damaged.empty()) {
      line += "; damaged:";
      for (const std::string& d : damaged) line += " " + d;
    }
    std::fprintf(o.json ? stderr : stdout, "%s\n", line.c_str());
    return damaged.empty() ? 0 : 1;
  }
  return unreadable > 0 ? 1 : 0;
}

}  // namespace NebInfo
