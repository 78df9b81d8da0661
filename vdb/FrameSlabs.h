// A frame's grid channels in slabs of z-layers, read through the C interface
// (nebloader_c.h) and nothing else of the library.
//
// A frame with stored grid records (a nebu2 frame, also one opened NEB_OPEN_GRID_IN_FILE)
// is read by slab readers (neb_slab_reader_open), in slabs of whole leaves (8 layers) of at
// least about 2M cells: the zones of a slab are decoded on the library's jobs, one zone per
// job at a time, and a slab of a few zones would leave jobs idle. A 256^3 frame reads 32
// layers at a time, 512^3 and larger 8. Each open channel holds one slab buffer, in the
// library's memory budget like everything else a frame holds.
//
// A frame without records (imported through a plug-in: a slab reader has nothing to read
// there) is one slab: the whole grid, the channels as neb_frame_channel gives them, without
// a copy. Such a channel's values go back to the frame (neb_frame_release_channel) when the
// builder is done with them, if the frame is not shared.
//
// Either way a channel reads bit for bit as neb_frame_channel gives it. Failures leave
// their reasons in the reports made on the calling thread (ZUtils::ThreadReportCapture).
#pragma once

#include <cstdint>
#include <memory>

#include "nebloader_c.h"

namespace NebVdb {

class SlabPass;

class FrameSlabs {
 public:
  // Layers: kAutomatic as above; kWholeChannels reads whole channels even when the frame
  // has records (not a frame whose grid stays in its file: it has no whole channels); n > 0,
  // a multiple of 8, reads a frame with records in slabs of n layers.
  static constexpr int kAutomatic = 0;
  static constexpr int kWholeChannels = -1;

  // `frame` stays open, and is the caller's, while this and its passes live.
  explicit FrameSlabs(neb_frame* frame, int layers = kAutomatic);

  // Cells nx, ny, nz; all 0 for a frame whose grid is empty or damaged.
  const int* size() const { return size_; }
  int64_t layerCells() const { return int64_t(size_[0]) * size_[1]; }
  // Layers of one slab (nz, or 0 for an empty grid, when whole).
  int slabLayers() const { return slabLayers_; }
  bool whole() const { return whole_; }

  // A new reader of the frame's channels: open every channel it is to read, then read them
  // slab by slab in ascending z. Several passes may run on several threads at once. Null
  // (reported) when no reader can be opened.
  std::unique_ptr<SlabPass> pass() const;

 private:
  friend class SlabPass;
  neb_frame* frame_;
  int size_[3] = {0, 0, 0};
  int slabLayers_ = 0;
  bool whole_ = false;
  bool releasable_ = false;  // the frame is not shared: its whole channels may be released
};

class SlabPass {
 public:
  ~SlabPass();
  SlabPass(const SlabPass&) = delete;
  SlabPass& operator=(const SlabPass&) = delete;

  // Readies a channel (0 .. 31). False when it cannot be read (absent, refused).
  bool open(int channel);
  // Layers [z0, z1) of an open channel (x fastest, layer z0 first); z0 a multiple of the
  // slab layers, z1 the next or nz (asking for the same slab again gives what was read).
  // Valid until the channel's release. Null when it cannot be read (or its slab buffer
  // was refused).
  const float* read(int channel, int z0, int z1);
  // This slab of `channel` is no longer needed (for a whole frame: the channel).
  void release(int channel);

 private:
  friend class FrameSlabs;
  SlabPass(neb_frame* frame, const FrameSlabs& slabs);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace NebVdb
