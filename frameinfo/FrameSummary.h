// What the inspecting tools learn about one frame (nebinfo prints it, nebview serves it):
// its description, how each channel is stored and, when asked, value statistics and the
// result of decoding everything.
//
// summarizeFrame opens the frame as a frame of its own through the library's C interface
// (NEB_OPEN_UNSHARED: never shared, so several frames can be summarised on several
// threads at once and decoded channels can be freed one by one) and captures every
// report the library makes on the calling thread while doing so (Reasons.h): that text is
// the reason given for a failure. The decoders must run inline for that, so no thread
// manager may be registered while frames are summarised. installReportCapture() must have
// been called.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frameinfo/ValueStats.h"

namespace NebFrameInfo {

// What the headers of a grid-compressor block say about its zones (neb_block_zones).
struct GridBlockZones {
  bool readable = false;
  int zoneCount = 0;
  int rawZones = 0;
  int constantZones = 0;
  int quantizedZones = 0;
  int otherZones = 0;
  float finestStep = 0.0f;
  float coarsestStep = 0.0f;
  int maxPasses = 0;
};

struct ChannelSummary {
  int channel = 0;
  std::string name;          // the channel's name in the native mapping, or a description
  int64_t storedBytes = -1;  // -1: not stored (derived or imported)
  // "raw", "constant", "quantized", "mixed", "zip", "derived", "imported", "damaged"
  std::string storage;
  int derivedFrom = -1;  // 18 for colour, 4 for speed (from 4, 5, 6)
  GridBlockZones zones;
  ValueStats stats;
};

struct ParticleChannelSummary {
  int slot = 0;
  std::string name;  // "position", "velocity", "id" or ""
  int type = 0;
  int components = 0;
  int method = -1;  // stored method 0..4, -1 loaded expanded
  std::string storage;  // "raw", "zip", "block", "planar-block", "bitplanes", "expanded", "method N"
  int64_t storedBytes = 0;
  GridBlockZones zones;
  ValueStats stats;
};

struct GroupSummary {
  std::string name;
  int64_t particleCount = 0;  // as stored (getParticleCount reports 0 without positions)
  bool hasPositions = false;
  std::vector<ParticleChannelSummary> channels;
  bool hasIdRange = false;
  int64_t idMinimum = 0, idMaximum = 0;
};

struct FrameSummary {
  std::string path;
  bool loaded = false;
  int status = 0;          // load status when not loaded
  bool foreign = false;    // imported through a plug-in
  int version = 0;
  int frameNumber = 0;
  bool hasFrameNumber = false;
  int gridSize[3] = {0, 0, 0};
  float transform[12] = {};
  bool hasVoxelSize = false;
  double voxelSize[3] = {0, 0, 0};
  std::vector<ChannelSummary> channels;
  std::vector<GroupSummary> groups;
  // Load failure reason, or one entry per channel that failed to decode ("channel 2
  // (Smoke_ost): <library's reason>"). Empty for a sound frame.
  std::vector<std::string> failures;
};

struct SummaryOptions {
  bool statistics = false;  // decode channels and compute ValueStats, the identifier range
  bool check = false;       // decode every grid and particle channel and record failures
};

// Fills `out` for the file at `path`; an import is opened under importLock(). Never throws.
void summarizeFrame(const std::string& path, const SummaryOptions& options, FrameSummary& out);

// World length of one cell along each grid axis for the frame transform (grid coordinates
// v = w * A + o): the row lengths of A^-1. False for a singular or non-finite matrix.
bool voxelSizeOf(const float transform[12], double size[3]);

// Name of a grid channel in the native mapping ("Smoke_ost"), "Speed" for 3, "PackedColour"
// for 18, "" otherwise.
std::string gridChannelName(int channel);

// "channel 2 (Smoke_ost)", or "channel 40" without a name: how failures name channels.
std::string channelLabel(int channel);

}  // namespace NebFrameInfo
