#include "tools/nebinfo/NebInfo.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frameinfo/FrameList.h"
#include "frameinfo/Imports.h"
#include "frameinfo/JsonLayout.h"
#include "frameinfo/LongOptions.h"
#include "frameinfo/Reasons.h"
#include "nebloader.h"
#include "nebloader_c.h"
#include "tools/nebinfo/FrameRunner.h"
#include "tools/nebinfo/TextLayout.h"

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
    } else if (NebFrameInfo::isOption(arg, "--frames")) {
      std::string error;
      if (!NebFrameInfo::parseFramesOption(NebFrameInfo::optionValue(arg, "--frames", i, argc, argv), o.frames, error))
        return usageError(error);
      o.haveFrames = true;
    } else if (NebFrameInfo::isOption(arg, "--threads")) {
      const char* value = NebFrameInfo::optionValue(arg, "--threads", i, argc, argv);
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
  NebFrameInfo::installReportCapture();
  Options o;
  const int parsed = parse(argc, argv, o);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;

  std::vector<std::string> paths;
  bool foreign = false;
  for (const std::string& file : o.files) {
    if (NebFrameInfo::hasFramePattern(file)) {
      if (!o.haveFrames) return usageError("'" + file + "' has a frame pattern: give the frames with --frames");
      for (int f : o.frames) paths.push_back(NebFrameInfo::expandFramePattern(file, f));
    } else {
      paths.push_back(file);
    }
  }
  for (const std::string& p : paths) foreign = foreign || NebFrameInfo::isImport(p);
  // No thread manager is handed over, so imports and decoding stay on the caller's thread.
  if (foreign) NebFrameInfo::initializeImports(argc > 0 && argv[0] ? argv[0] : "");

  NebFrameInfo::SummaryOptions summary;
  summary.statistics = o.verbose;
  summary.check = o.check;
  const int threads = o.threads > 0 ? o.threads : neb_default_thread_count();

  int unreadable = 0;
  std::vector<std::string> damaged;
  bool firstText = true;
  summarizeFrames(paths, summary, threads, [&](const NebFrameInfo::FrameSummary& s) {
    if (o.check) {
      if (!s.failures.empty()) damaged.push_back(s.path);
      std::fputs(o.json ? NebFrameInfo::jsonLayout(s, o.verbose, true).c_str() : checkLayout(s).c_str(), stdout);
    } else if (!s.loaded) {
      ++unreadable;
      if (o.json) std::fputs(NebFrameInfo::jsonLayout(s, o.verbose, false).c_str(), stdout);
      std::fflush(stdout);
      std::fprintf(stderr, "nebinfo: %s: %s\n", s.path.c_str(), s.failures.empty() ? "cannot load" : s.failures[0].c_str());
    } else {
      if (o.json) {
        std::fputs(NebFrameInfo::jsonLayout(s, o.verbose, false).c_str(), stdout);
      } else {
        if (!firstText) std::fputs("\n", stdout);
        std::fputs(textLayout(s, o.verbose).c_str(), stdout);
        firstText = false;
      }
    }
    std::fflush(stdout);
  });

  if (foreign) NebFrameInfo::finalizeImports();
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
