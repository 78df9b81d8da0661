// Everything nebview reads goes through here: the only file of the program that calls
// libnebloader.so's C interface (nebloader_c.h), so that a change of that interface is an
// edit of FrameSource.cpp alone. The frame descriptions (facts, statistics) are the
// frame summaries of frameinfo/ (nebinfo's too), which read through the same interface.
//
// Frames are opened as frames of their own (NEB_OPEN_UNSHARED), so any number of reads
// may run on any threads at once. A nebu2 frame's grid stays in its file and is read in
// slabs of z-layers (NEB_OPEN_GRID_IN_FILE and a slab reader): a frame of any size is read
// in memory bounded by a slab plus what is made of it. Frames of the import plug-ins
// (.vdb, .f3d) are loaded whole, downsampled by the plug-in (max_voxels) for volumes, one
// at a time (the plug-in table and the third-party readers are not for several threads).
//
// No reader throws. A failed read returns ReadStatus::Failed with the library's reason for
// the call that failed (neb_last_error: its status text and the reports it made), after
// what nebview was reading ("channel 2 (Smoke_ost), layers 0..15: ...").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/nebview/BoxDownsampler.h"

namespace NebView {
namespace FrameSource {

// ---- The library ----

// libnebloader's version, "MAJOR.MINOR.PATCH".
std::string libraryVersion();

// ---- Reads ----

enum class ReadStatus {
  Ok,
  BadArgument,  // the request does not fit the frame (a layer, group or channel outside it)
  Failed        // the frame or the data asked for could not be read
};

// How a channel of a read came out.
enum class ChannelStatus { Ok = 0, Absent = 1, Failed = 2 };

struct VolumeChannel {
  int channel = 0;
  ChannelStatus status = ChannelStatus::Ok;
  std::string failure;        // why, unless Ok
  FloatArray values;          // size[0]*size[1]*size[2], x fastest, when Ok
};

struct Volume {
  int fullSize[3] = {0, 0, 0};  // the frame's grid (for an import: as the plug-in gave it)
  int size[3] = {0, 0, 0};      // the cells sent: ceil(fullSize / factor)
  int factor = 1;               // each sent cell is the mean of factor^3 grid cells
  float transform[12] = {};     // world to grid: v = w * A + o (A by rows, then o)
};

// Takes a volume as it is read: its description first, then each channel once read (in
// the order of reading), whose values it may keep (move) or leave to be freed. False
// from either stops the read.
class VolumeReceiver {
 public:
  virtual ~VolumeReceiver() = default;
  virtual bool begin(const Volume& volume) = 0;
  virtual bool channel(VolumeChannel& channel) = 0;
};

// The listed grid channels, each downsampled to at most `maxCells` cells by the mean of
// factor^3 blocks (finite values only; a block of none gives 0), handed to the receiver.
// The colour channels 7, 8, 9 are read together, every other channel in a pass of its
// own, so that one group's values are held at a time. Ok when the frame could be opened
// (each channel then has its own status), Failed with the reason otherwise.
ReadStatus readVolume(const std::string& path, const std::vector<int>& channels, int64_t maxCells,
                      VolumeReceiver& receiver, std::string& failure);

struct Slice {
  int fullSize[3] = {0, 0, 0};
  int width = 0, height = 0;  // axis z: x by y; axis y: x by z; axis x: y by z
  std::vector<float> values;  // width*height, the first named axis fastest
};

// Layer `index` across `axis` (0 x, 1 y, 2 z) of a grid channel at full resolution,
// exactly the values the library gives.
ReadStatus readSlice(const std::string& path, int channel, int axis, int64_t index, Slice& out, std::string& failure);

struct Particles {
  std::string name;
  int64_t count = 0;   // the group's particles
  int64_t stride = 1;  // every stride-th particle is sent
  bool hasVelocity = false, hasIds = false;
  std::vector<float> positions, velocities;  // 3 floats each, world space
  std::vector<int64_t> ids;
};

// Group `group` of the frame's stored groups (the order of the frame summary's "groups"):
// positions, and velocities and identifiers where it has them; at most `maxShown`
// particles (0: all), taken evenly.
ReadStatus readParticles(const std::string& path, int64_t group, int64_t maxShown, Particles& out,
                         std::string& failure);

}  // namespace FrameSource
}  // namespace NebView
