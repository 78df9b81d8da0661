#include "tools/nebview/Options.h"

#include <cstdlib>

#include "frameinfo/FrameList.h"
#include "frameinfo/LongOptions.h"
#include "tools/nebview/FrameSource.h"
#include "tools/nebview/ListenAddress.h"

#ifndef NEBLOADER_VERSION
#define NEBLOADER_VERSION "unknown"
#endif

namespace NebView {

namespace {

const char* const kHelp =
    "Usage: nebview [OPTION]... PATTERN\n"
    "  or:  nebview [OPTION]... FILE...\n"
    "Serve a nebu2 cache sequence to a web browser and show it there: the smoke as a\n"
    "volume with fire and colour, any grid channel, slices with exact values, the particle\n"
    "groups, the frames' facts and a plot of statistics over the sequence, played as a\n"
    "timeline. PATTERN has a frame token (####, %04d or <frame04>); without --frames every\n"
    "frame of it found on disk is served. Only the files of the sequence are ever read or\n"
    "sent. The page needs nothing from the internet; it runs in any browser with WebGL 2.\n"
    "\n"
    "  -l, --listen ADDR:PORT  serve on this address and port (default 127.0.0.1:8765);\n"
    "                          an IPv6 address in brackets ([::1]:8765). Any other\n"
    "                          address than the loopback one shows the cache to the network\n"
    "  -p, --port PORT         serve on this port of the address (0: any free port)\n"
    "      --open              open the page in the desktop's web browser\n"
    "      --frames LIST       frames of PATTERN: A-B, A-BxSTEP, single frames, or a comma\n"
    "                          list of those\n"
    "      --resolution N      the volume view shows about N^3 cells per channel at first\n"
    "                          (16 to 1024, default 256); the page changes it\n"
    "      --cache MB          memory for answers kept for reuse (default 1024)\n"
    "      --threads N         frames read at once (default: the number of processors,\n"
    "                          at least 2)\n"
    "  -v, --verbose           log every request (refused and failed ones always are)\n"
    "  -h, --help              print this help and exit\n"
    "      --version           print version information and exit\n"
    "\n"
    "Examples:\n"
    "  nebview fire_####.neb                       # every frame found, on 127.0.0.1:8765\n"
    "  nebview --frames 1-240x2 --open fire_####.neb\n"
    "  nebview --listen 0.0.0.0:9000 shots/fire_####.neb         # from another machine\n"
    "\n"
    "On a remote machine, keep the default address and forward the port:\n"
    "  ssh -L 8765:127.0.0.1:8765 farmnode nebview /cache/fire_####.neb\n"
    "\n"
    "Exit status: 0 when stopped (interrupt or terminate signal), 1 when the sequence\n"
    "cannot be served (no frame, the address cannot be bound), 2 for a usage error.\n";

bool readInt(const char* text, long low, long high, long& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

}  // namespace

ParseOutcome parseOptions(int argc, char** argv, Options& o, std::string& text) {
  const auto usage = [&](const std::string& message) {
    text = message;
    return ParseOutcome::UsageError;
  };
  bool optionsEnded = false;
  bool portGiven = false;
  int listenPort = o.port;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      o.inputs.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      text = kHelp;
      return ParseOutcome::Exit;
    } else if (arg == "--version") {
      text = std::string("nebview (nebloader) ") + NEBLOADER_VERSION + "\nlibrary " + FrameSource::libraryVersion() + "\n";
      return ParseOutcome::Exit;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--open") {
      o.open = true;
    } else if (arg == "-l" || NebFrameInfo::isOption(arg, "--listen")) {
      const char* value = NebFrameInfo::optionValue(arg, "--listen", i, argc, argv);
      if (!value || !parseListen(value, o.host, listenPort))
        return usage("option '--listen' requires ADDR:PORT, [IPv6]:PORT or ADDR");
    } else if (arg == "-p" || NebFrameInfo::isOption(arg, "--port")) {
      const char* value = NebFrameInfo::optionValue(arg, "--port", i, argc, argv);
      long p = 0;
      if (!readInt(value, 0, 65535, p)) return usage("option '--port' requires a port number from 0 to 65535");
      o.port = static_cast<int>(p);
      portGiven = true;
    } else if (NebFrameInfo::isOption(arg, "--frames")) {
      std::string error;
      if (!NebFrameInfo::parseFramesOption(NebFrameInfo::optionValue(arg, "--frames", i, argc, argv), o.frames, error))
        return usage(error);
      o.haveFrames = true;
    } else if (NebFrameInfo::isOption(arg, "--resolution")) {
      long n = 0;
      if (!readInt(NebFrameInfo::optionValue(arg, "--resolution", i, argc, argv), 16, 1024, n))
        return usage("option '--resolution' requires a number from 16 to 1024");
      o.resolution = static_cast<int>(n);
    } else if (NebFrameInfo::isOption(arg, "--cache")) {
      long n = 0;
      if (!readInt(NebFrameInfo::optionValue(arg, "--cache", i, argc, argv), 16, 1 << 20, n))
        return usage("option '--cache' requires a number of MB from 16 to 1048576");
      o.cacheMb = static_cast<uint64_t>(n);
    } else if (NebFrameInfo::isOption(arg, "--threads")) {
      long n = 0;
      if (!readInt(NebFrameInfo::optionValue(arg, "--threads", i, argc, argv), 1, 1024, n))
        return usage("option '--threads' requires a number from 1 to 1024");
      o.threads = static_cast<int>(n);
    } else {
      return usage("unrecognized option '" + arg + "'");
    }
  }
  if (!portGiven) o.port = listenPort;
  if (o.inputs.empty()) return usage("no PATTERN or FILE given");
  return ParseOutcome::Run;
}

}  // namespace NebView
