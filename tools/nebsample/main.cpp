// nebsample: writes a numbered sequence of nebu2 frames of a procedural smoke plume
// (smoke, temperature, fuel, velocity, packed colour and one particle group "Sparks"), for
// trying volconvert and hosts of the library without a simulator at hand.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "tools/nebsample/SmokePlume.h"
#include "zutils/FramePattern.h"
#include "zutils/Report.h"
#include "zutils/platform/CommandLine.h"

namespace {

const char* const kUsage =
    "Usage: nebsample [OPTION]...\n"
    "Writes a numbered sequence of procedural smoke-plume frames as nebu2 cache files (smoke,\n"
    "temperature, fuel, velocity, packed colour and a particle group \"Sparks\").\n"
    "\n"
    "  -o, --out PATTERN    output file name with a '#' run for the frame number\n"
    "                       (default sample_####.neb)\n"
    "  -n, --frames N       number of frames, 1..10000 (default 10)\n"
    "  -s, --start F        first frame number (default 0)\n"
    "  -r, --res N          cells per side of the cubic grid, 1..1024 (default 64)\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "The single-dash spellings -out, -frames, -start, -res and -help are accepted too.\n"
    "\n"
    "Exit status: 0 all frames written, 1 a frame could not be written, 2 usage error.\n"
    "\n"
    "Example:\n"
    "  nebsample --out plume_####.neb --frames 24 --res 128\n";

// The product version, set by the project's CMake version.
#ifndef NEBLOADER_VERSION
#define NEBLOADER_VERSION "unknown"
#endif

bool readInt(const char* text, int low, int high, int* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < low || v > high) return false;
  *out = int(v);
  return true;
}

// Writes frame `index` of `count` as frame number `frameNumber`. The writer encodes each
// channel as it is added, so one dense field is made, handed over and overwritten by the
// next: the peak is one dense array (4 GiB at 1024^3) plus the encoded frame, not seven.
// Reasons from the writer (codec and file failures) to standard error.
void reportToStderr(int, const char* text, void*) { std::fprintf(stderr, "nebsample: %s", text); }

bool writeFrame(const std::string& path, int frameNumber, int index, int count, int resolution, int* sparks) {
  const int n = resolution;
  NebWriter w;
  w.setGridSize(n, n, n);
  float transform[12];
  NebSample::plumeTransform(n, transform);
  w.setTransform(transform);
  w.setFrameNumber(frameNumber);
  using NebSample::PlumeField;
  const struct {
    int slot;
    PlumeField field;
  } channels[] = {{2, PlumeField::Smoke},     {1, PlumeField::Temperature}, {10, PlumeField::Fuel},
                  {4, PlumeField::VelocityX}, {5, PlumeField::VelocityY},   {6, PlumeField::VelocityZ}};
  {
    std::vector<float> values;
    for (const auto& c : channels) {
      NebSample::makePlumeField(index, count, n, c.field, values);
      if (!w.addChannel(c.slot, values.data())) return false;
    }
  }
  {
    std::vector<uint32_t> colour;
    NebSample::makePlumeColour(index, count, n, colour);
    if (!w.addPackedColour(colour.data())) return false;
  }
  NebSample::PlumeSparks s;
  NebSample::makePlumeSparks(index, count, s);
  *sparks = int(s.ids.size());
  const int group = w.addGroup("Sparks", *sparks);
  return w.setGroupChannel(group, 0, s.positions.data()) && w.setGroupChannel(group, 1, s.velocities.data()) &&
         w.setGroupChannel(group, 10, s.ids.data()) && w.write(path.c_str());
}

}  // namespace

static int run(int argc, char** argv) {
  std::string pattern = "sample_####.neb";
  int frames = 10, start = 0, resolution = 64;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    // --name=value: the value inside the argument, no next argument taken.
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    if (equals != std::string::npos) {
      value = argv[i] + equals + 1;
      arg.resize(equals);
      --i;
    }
    bool ok = true;
    if (arg == "-h" || arg == "--help" || arg == "-help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-V" || arg == "--version") {
      std::printf("nebsample (nebloader) %s\n", NEBLOADER_VERSION);
      return 0;
    } else if (arg == "-o" || arg == "--out" || arg == "-out") {
      ok = value != nullptr;
      if (ok) pattern = value;
    } else if (arg == "-n" || arg == "--frames" || arg == "-frames") {
      ok = readInt(value, 1, 10000, &frames);
    } else if (arg == "-s" || arg == "--start" || arg == "-start") {
      ok = readInt(value, -1000000, 1000000, &start);
    } else if (arg == "-r" || arg == "--res" || arg == "-res") {
      ok = readInt(value, 1, 1024, &resolution);
    } else {
      std::fprintf(stderr, "nebsample: unknown option %s\nTry 'nebsample --help'.\n", arg.c_str());
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "nebsample: %s needs a valid value\nTry 'nebsample --help'.\n", arg.c_str());
      return 2;
    }
    ++i;
  }
  if (pattern.find('#') == std::string::npos) {
    std::fprintf(stderr, "nebsample: the output pattern needs a '#' run for the frame number\n");
    return 2;
  }

  ZUtils::setReportCallback(reportToStderr, nullptr);
  for (int k = 0; k < frames; ++k) {
    const int number = start + k;
    const std::string path = ZUtils::expandFramePattern(pattern.c_str(), number, "");
    int sparks = 0;
    if (!writeFrame(path, number, k, frames, resolution, &sparks)) {
      std::fprintf(stderr, "nebsample: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("Wrote %s: frame %d, %dx%dx%d grid (smoke, temperature, fuel, velocity, colour), %d sparks\n",
                path.c_str(), number, resolution, resolution, resolution, sparks);
    std::fflush(stdout);
  }
  return 0;
}

int main(int argc, char** argv) {
  // File names arrive as UTF-8 on every system (on Windows from the wide command line,
  // since argv there holds only what the ANSI code page can say).
  ZUtils::platform::Utf8Argv args(argc, argv);
  return run(args.argc(), args.argv());
}
