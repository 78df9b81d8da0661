#include "tools/nebview/FrameSource.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "frameinfo/FrameSummary.h"
#include "frameinfo/Imports.h"
#include "frameinfo/Reasons.h"
#include "frameinfo/TextResult.h"
#include "nebloader_c.h"
#include "tools/nebview/BoxDownsampler.h"

namespace NebView {
namespace FrameSource {

using NebFrameInfo::channelLabel;
using NebFrameInfo::importLock;
using NebFrameInfo::isImport;
using NebFrameInfo::lastFailure;

namespace {

const int kSlabLayers = 16;

// Bytes the library's budget has left for what nebview holds beside it.
unsigned long long budgetLeft() {
  const unsigned long long limit = neb_memory_limit(), held = neb_memory_held();
  return limit > held ? limit - held : 0;
}

// `count` values of type T, sized from a file: within the budget, or false.
template <class T>
bool allocate(std::vector<T>& v, int64_t count) {
  if (count < 0 || static_cast<unsigned long long>(count) > budgetLeft() / sizeof(T)) return false;
  try {
    v.assign(static_cast<size_t>(count), T());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

struct FrameHandle {
  neb_frame* frame = nullptr;
  FrameHandle() = default;
  FrameHandle(const FrameHandle&) = delete;
  FrameHandle& operator=(const FrameHandle&) = delete;
  ~FrameHandle() { neb_frame_close(frame); }

  // Opens the frame as a frame of its own: a nebu2 frame with its grid left in the file,
  // an import loaded by its plug-in (downsampled to maxVoxels cells per channel, -1: full),
  // under the import lock. False with the library's reason in the thread's last failure.
  bool open(const std::string& path, long long maxVoxels) {
    neb_open_options options{};
    options.size = sizeof options;
    options.flags = NEB_OPEN_UNSHARED;
    if (!isImport(path)) {
      options.flags |= NEB_OPEN_GRID_IN_FILE;
      options.mapping = "";  // the native channel names
      return neb_frame_open_with(path.c_str(), &options, &frame) == NEB_OK;
    }
    options.max_voxels = maxVoxels;
    std::lock_guard<std::mutex> lock(importLock());
    return neb_frame_open_with(path.c_str(), &options, &frame) == NEB_OK;
  }
};

// A frame's grid channels, layer slab after layer slab in ascending z: every channel is
// opened first, then each slab is read for every channel before the next (the slab
// reader's rule). A nebu2 frame is read from its file through a slab reader; an import is
// loaded whole and its decoded channels are handed out in place.
class GridLayers {
 public:
  GridLayers() = default;
  GridLayers(const GridLayers&) = delete;
  GridLayers& operator=(const GridLayers&) = delete;
  ~GridLayers() { neb_slab_reader_close(reader_); }

  // False with the library's reason. maxVoxels (-1: full) applies to imports only. A grid
  // whose stored size is damaged counts as no grid (cells() -1).
  bool open(const std::string& path, long long maxVoxels, std::string& failure) {
    import_ = isImport(path);
    if (!frame_.open(path, maxVoxels)) {
      failure = lastFailure();
      return false;
    }
    neb_frame_info info{};
    info.size = sizeof info;
    if (neb_frame_get_info(frame_.frame, &info) != NEB_OK || neb_frame_grid_size(frame_.frame, size_) != NEB_OK ||
        info.cells <= 0)
      return true;
    cells_ = info.cells;
    if (!import_ && neb_slab_reader_open(frame_.frame, &reader_) != NEB_OK) {
      failure = "the frame's grid cannot be read: " + lastFailure();
      return false;
    }
    return true;
  }

  // A fresh slab reader of the same frame, for channels read in a pass of their own (a
  // reader's channels are all opened before its first read). Imports need none.
  bool restart(std::string& failure) {
    if (import_ || cells_ <= 0) return true;
    neb_slab_reader_close(reader_);
    reader_ = nullptr;
    for (std::string& why : streamFailure_) why.clear();
    const bool ok = neb_slab_reader_open(frame_.frame, &reader_) == NEB_OK;
    if (!ok) failure = "the frame's grid cannot be read again: " + lastFailure();
    return ok;
  }

  const int* size() const { return size_; }
  void transform(float out[12]) const { neb_frame_transform(frame_.frame, out); }
  int64_t cells() const { return cells_; }
  int64_t layerCells() const { return cells_ > 0 ? static_cast<int64_t>(size_[0]) * size_[1] : 0; }

  ChannelStatus openChannel(int channel, std::string& failure) {
    int status;
    if (channel < 0 || channel >= NEB_CHANNELS || cells_ <= 0) {
      status = NEB_E_ABSENT;
    } else if (import_) {
      const float* values = nullptr;
      status = neb_frame_channel(frame_.frame, channel, &values);
      if (status == NEB_OK) whole_[channel] = values;
    } else {
      status = neb_slab_open_channel(reader_, channel, &source_[channel]);
    }
    if (status == NEB_OK) return ChannelStatus::Ok;
    if (status == NEB_E_ABSENT) {
      failure = "the frame has no channel " + std::to_string(channel);
      return ChannelStatus::Absent;
    }
    failure = channelLabel(channel) + ": " + lastFailure();
    return ChannelStatus::Failed;
  }

  // The most layers (up to `wanted`) one read may take within the memory budget; 0 when
  // not even one layer fits. Imports are in memory already.
  int layersFitting(int wanted) const {
    if (import_ || layerCells() <= 0) return wanted;
    const unsigned long long layerBytes = static_cast<unsigned long long>(layerCells()) * sizeof(float);
    return static_cast<int>(std::min<unsigned long long>(static_cast<unsigned long long>(wanted), budgetLeft() / layerBytes));
  }

  // Layers z0 .. z1-1 of an opened channel; `values` is valid until the next read.
  bool read(int channel, int z0, int z1, const float*& values, std::string& failure) {
    if (import_) {
      values = whole_[channel] + static_cast<size_t>(layerCells()) * static_cast<size_t>(z0);
      return true;
    }
    const int64_t need = layerCells() * (z1 - z0);
    if (static_cast<int64_t>(buffer_.size()) < need && !allocate(buffer_, need)) {
      failure = "a slab of " + std::to_string(z1 - z0) + " layers does not fit the memory budget";
      return false;
    }
    const int status = neb_slab_read(reader_, channel, z0, z1, buffer_.data(), static_cast<long long>(buffer_.size()));
    if (status != NEB_OK) {
      // The channels of one stored stream (7, 8, 9 of packed colour) fail together: the
      // first one's reason is the stream's, which the others only refer back to.
      const int source = source_[channel] >= 0 && source_[channel] < NEB_CHANNELS ? source_[channel] : channel;
      std::string& why = streamFailure_[source];
      if (why.empty()) why = lastFailure();
      failure = channelLabel(channel) + ", layers " + std::to_string(z0) + ".." + std::to_string(z1 - 1) + ": " + why;
      return false;
    }
    values = buffer_.data();
    return true;
  }

 private:
  bool import_ = false;
  FrameHandle frame_;
  neb_slab_reader* reader_ = nullptr;
  int size_[3] = {0, 0, 0};
  int64_t cells_ = -1;
  const float* whole_[NEB_CHANNELS] = {};
  int source_[NEB_CHANNELS] = {};            // what each open channel is read from
  std::string streamFailure_[NEB_CHANNELS];  // by source: why its reads failed
  std::vector<float> buffer_;
};

// Every stride-th particle of a slot (`components` floats or one 64-bit integer each) into
// `out`. Close strides read runs of particles and keep the taken ones; wide ones read each
// taken particle alone. Either way only a run of the slot is held at a time.
template <class T>
bool readSlot(neb_group* g, const std::string& name, int slot, int components, int64_t count, int64_t stride,
              std::vector<T>& out, std::string& failure) {
  const int64_t run = stride < 64 ? (65536 / stride) * stride : 1;
  const int64_t step = stride < 64 ? run : stride;
  std::vector<T> buffer;
  if (!allocate(buffer, std::min(count, run) * components)) {
    failure = "no memory for particles";
    return false;
  }
  size_t at = 0;
  for (int64_t first = 0; first < count; first += step) {
    const int64_t n = std::min(run, count - first);
    if (neb_group_values(g, slot, first, n, buffer.data(), static_cast<long long>(buffer.size() * sizeof(T))) !=
        NEB_OK) {
      failure = "group \"" + name + "\" slot " + std::to_string(slot) + ": " + lastFailure();
      return false;
    }
    for (int64_t i = 0; i < n; i += stride)
      for (int c = 0; c < components; ++c) out[at++] = buffer[static_cast<size_t>(i * components + c)];
  }
  return true;
}

}  // namespace

std::string libraryVersion() { return neb_version(); }

namespace {

// The channels of a request in groups read together: the colour channels 7, 8 and 9 share
// one stored stream, read once for all three; every other channel on its own, so that only
// one group's values are held at a time.
std::vector<std::vector<int>> readingGroups(const std::vector<int>& channels) {
  std::vector<std::vector<int>> groups;
  std::vector<int> colour;
  for (int c : channels) {
    if (c >= NEB_CHANNEL_COLOR_R && c <= NEB_CHANNEL_COLOR_B) {
      if (colour.empty()) groups.emplace_back();  // the colour group's place
      colour.push_back(c);
    } else {
      groups.push_back({c});
    }
  }
  for (std::vector<int>& g : groups)
    if (g.empty()) g = colour;
  return groups;
}

}  // namespace

ReadStatus readVolume(const std::string& path, const std::vector<int>& channels, int64_t maxCells,
                      VolumeReceiver& receiver, std::string& failure) {
  Volume header;
  try {
    GridLayers grid;
    if (!grid.open(path, maxCells, failure)) return ReadStatus::Failed;
    const int* size = grid.size();
    grid.transform(header.transform);
    const bool empty = grid.cells() <= 0;
    const int factor = empty ? 1 : downsampleFactor(size, maxCells);
    if (!empty) {
      std::copy(size, size + 3, header.fullSize);
      downsampledSize(size, factor, header.size);
    }
    header.factor = factor;
    if (!receiver.begin(header)) return ReadStatus::Ok;
    const int64_t cells = static_cast<int64_t>(header.size[0]) * header.size[1] * header.size[2];

    bool firstPass = true;
    for (const std::vector<int>& group : readingGroups(channels)) {
      std::vector<VolumeChannel> read(group.size());
      std::vector<BoxDownsampler> reducers(group.size());
      // A new slab reader of the same frame for every group after the first.
      std::string restartFailure;
      const bool ready = firstPass || grid.restart(restartFailure);
      firstPass = false;
      for (size_t i = 0; i < group.size(); ++i) {
        VolumeChannel& v = read[i];
        v.channel = group[i];
        if (empty) {
          v.status = ChannelStatus::Absent;
          v.failure = "the frame has no grid";
          continue;
        }
        if (!ready) {
          v.status = ChannelStatus::Failed;
          v.failure = restartFailure;
          continue;
        }
        v.status = grid.openChannel(group[i], v.failure);
        if (v.status == ChannelStatus::Ok &&
            (static_cast<unsigned long long>(cells) > budgetLeft() / sizeof(float) || !reducers[i].start(size, factor))) {
          v.status = ChannelStatus::Failed;
          v.failure = "no memory for the downsampled channel";
        }
      }
      // Slabs of 16 layers where the budget allows (the reducer takes layers in any runs):
      // every read of a slab reader has a cost of its own, and single layers took several
      // times as long.
      const int height = empty ? 0 : grid.layersFitting(kSlabLayers);
      for (VolumeChannel& v : read) {
        if (height == 0 && v.status == ChannelStatus::Ok) {
          v.status = ChannelStatus::Failed;
          v.failure = "a layer of " + std::to_string(size[0]) + " x " + std::to_string(size[1]) +
                      " cells does not fit the memory budget";
        }
      }
      for (int z0 = 0, z1 = 0; !empty && z0 < size[2] && height > 0; z0 = z1) {
        z1 = std::min(size[2], z0 + height);
        for (size_t i = 0; i < group.size(); ++i) {
          VolumeChannel& v = read[i];
          if (v.status != ChannelStatus::Ok) continue;
          const float* values = nullptr;
          if (!grid.read(v.channel, z0, z1, values, v.failure)) {
            v.status = ChannelStatus::Failed;
            continue;
          }
          reducers[i].addLayers(z0, z1, values);
        }
      }
      for (size_t i = 0; i < group.size(); ++i) {
        if (read[i].status == ChannelStatus::Ok) read[i].values = std::move(reducers[i].finish());
        if (!receiver.channel(read[i])) return ReadStatus::Ok;
        read[i].values = FloatArray();
      }
    }
    return ReadStatus::Ok;
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
    return ReadStatus::Failed;
  }
}

ReadStatus readSlice(const std::string& path, int channel, int axis, int64_t index, Slice& out, std::string& failure) {
  out = Slice();
  try {
    GridLayers grid;
    if (!grid.open(path, -1, failure)) return ReadStatus::Failed;
    const int* n = grid.size();
    if (grid.cells() <= 0) {
      failure = "the frame has no grid";
      return ReadStatus::BadArgument;
    }
    if (axis < 0 || axis > 2) {
      failure = "no axis " + std::to_string(axis);
      return ReadStatus::BadArgument;
    }
    if (index < 0 || index >= n[axis]) {
      failure = "layer " + std::to_string(index) + " is outside the grid (" + std::to_string(n[axis]) + " layers)";
      return ReadStatus::BadArgument;
    }
    const ChannelStatus channelStatus = grid.openChannel(channel, failure);
    if (channelStatus != ChannelStatus::Ok)
      return channelStatus == ChannelStatus::Absent ? ReadStatus::BadArgument : ReadStatus::Failed;
    std::copy(n, n + 3, out.fullSize);
    out.width = axis == 0 ? n[1] : n[0];
    out.height = axis == 2 ? n[1] : n[2];
    if (!allocate(out.values, static_cast<int64_t>(out.width) * out.height)) {
      failure = "no memory for a slice of " + std::to_string(out.width) + " x " + std::to_string(out.height) + " cells";
      return ReadStatus::Failed;
    }
    const size_t nx = static_cast<size_t>(n[0]), ny = static_cast<size_t>(n[1]);
    const float* values = nullptr;
    if (axis == 2) {
      const int z = static_cast<int>(index);
      if (!grid.read(channel, z, z + 1, values, failure)) return ReadStatus::Failed;
      std::copy(values, values + nx * ny, out.values.begin());
      return ReadStatus::Ok;
    }
    const int height = grid.layersFitting(kSlabLayers);
    if (height == 0) {
      failure = "a layer of the grid does not fit the memory budget";
      return ReadStatus::Failed;
    }
    for (int z0 = 0; z0 < n[2]; z0 += height) {
      const int z1 = std::min(n[2], z0 + height);
      if (!grid.read(channel, z0, z1, values, failure)) return ReadStatus::Failed;
      for (int z = z0; z < z1; ++z) {
        const float* layer = values + static_cast<size_t>(z - z0) * nx * ny;
        float* row = out.values.data() + static_cast<size_t>(z) * static_cast<size_t>(out.width);
        if (axis == 1) {
          std::copy(layer + static_cast<size_t>(index) * nx, layer + static_cast<size_t>(index + 1) * nx, row);
        } else {
          for (size_t y = 0; y < ny; ++y) row[y] = layer[y * nx + static_cast<size_t>(index)];
        }
      }
    }
    return ReadStatus::Ok;
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
    return ReadStatus::Failed;
  }
}

ReadStatus readParticles(const std::string& path, int64_t group, int64_t maxShown, Particles& out,
                         std::string& failure) {
  out = Particles();
  try {
    FrameHandle frame;
    // Particles only: an import's grids are kept to a few cells.
    if (!frame.open(path, 4096)) {
      failure = lastFailure();
      return ReadStatus::Failed;
    }
    const int groups = neb_frame_stored_group_count(frame.frame);
    neb_group* g = nullptr;
    if (group < 0 || group >= groups || neb_frame_stored_group(frame.frame, static_cast<int>(group), &g) != NEB_OK) {
      failure = "the frame has " + std::to_string(groups < 0 ? 0 : groups) + " particle groups";
      return ReadStatus::BadArgument;
    }
    out.name = NebFrameInfo::groupName(g);
    out.count = std::max(0LL, neb_group_particle_count(g));
    out.stride = maxShown > 0 && out.count > maxShown ? (out.count + maxShown - 1) / maxShown : 1;
    const int64_t shown = (out.count + out.stride - 1) / out.stride;
    out.hasVelocity = neb_group_has_slot(g, 1) == 1 && neb_group_slot_bytes(g, 1) == 12;
    out.hasIds = neb_group_has_slot(g, 10) == 1 && neb_group_slot_bytes(g, 10) == 8;
    if (!allocate(out.positions, shown * 3) || (out.hasVelocity && !allocate(out.velocities, shown * 3)) ||
        (out.hasIds && !allocate(out.ids, shown))) {
      failure = "no memory for " + std::to_string(shown) + " particles";
      return ReadStatus::Failed;
    }
    if (out.count == 0) return ReadStatus::Ok;
    if (!readSlot(g, out.name, 0, 3, out.count, out.stride, out.positions, failure)) return ReadStatus::Failed;
    if (out.hasVelocity && !readSlot(g, out.name, 1, 3, out.count, out.stride, out.velocities, failure))
      return ReadStatus::Failed;
    if (out.hasIds && !readSlot(g, out.name, 10, 1, out.count, out.stride, out.ids, failure)) return ReadStatus::Failed;
    return ReadStatus::Ok;
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
    return ReadStatus::Failed;
  }
}

}  // namespace FrameSource
}  // namespace NebView
