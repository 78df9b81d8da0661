#include "vdb/FrameSlabs.h"

#include <algorithm>
#include <map>
#include <vector>

#include "ostutils/OstArray.h"

namespace NebVdb {

namespace {

int slabLayersFor(int64_t layer, int nz) {
  const int64_t wanted = (int64_t(1) << 21) / std::max<int64_t>(layer, 1);
  const int64_t whole = (int64_t(std::max(nz, 1)) + 7) / 8 * 8;
  return int(std::min(std::max<int64_t>(8, (wanted + 7) / 8 * 8), whole));
}

}  // namespace

FrameSlabs::FrameSlabs(neb_frame* frame, int layers) : frame_(frame) {
  int size[3];
  if (neb_frame_grid_size(frame, size) == NEB_OK && size[0] > 0 && size[1] > 0 && size[2] > 0)
    std::copy(size, size + 3, size_);
  whole_ = layers == kWholeChannels || neb_frame_grid_record_count(frame) <= 0;
  if (whole_) slabLayers_ = size_[2];
  else if (layers > 0 && layers % 8 == 0) slabLayers_ = layers;
  else slabLayers_ = slabLayersFor(layerCells(), size_[2]);
  neb_frame_info info{};
  info.size = sizeof info;
  releasable_ = neb_frame_get_info(frame, &info) == NEB_OK && (info.open_flags & NEB_OPEN_UNSHARED);
}

using Buffer = OSTUtils::OstArray<float, int64_t>;

// The slab a channel holds.
struct Slab {
  std::unique_ptr<Buffer> values;
  int z0 = -1, z1 = -1;  // the layers `values` holds
};

struct SlabPass::Impl {
  neb_frame* frame = nullptr;
  neb_slab_reader* reader = nullptr;  // null: whole channels
  bool releasable = false;
  int64_t slabCells = 0;
  std::map<int, Slab> held;                   // channels read for the current slab
  std::vector<std::unique_ptr<Buffer>> pool;  // slab buffers not in use
};

SlabPass::SlabPass(neb_frame* frame, const FrameSlabs& slabs) : impl_(new Impl) {
  impl_->frame = frame;
  impl_->releasable = slabs.releasable_;
  impl_->slabCells = slabs.layerCells() * slabs.slabLayers();
}

SlabPass::~SlabPass() { neb_slab_reader_close(impl_->reader); }

std::unique_ptr<SlabPass> FrameSlabs::pass() const {
  std::unique_ptr<SlabPass> p(new SlabPass(frame_, *this));
  if (!whole_ && neb_slab_reader_open(frame_, &p->impl_->reader) != NEB_OK) p.reset();
  return p;
}

bool SlabPass::open(int channel) {
  Impl& m = *impl_;
  if (!m.reader) return neb_frame_has_channel(m.frame, channel) == 1;
  return neb_slab_open_channel(m.reader, channel, nullptr) == NEB_OK;
}

const float* SlabPass::read(int channel, int z0, int z1) {
  Impl& m = *impl_;
  if (!m.reader) {
    const float* values = nullptr;
    return neb_frame_channel(m.frame, channel, &values) == NEB_OK ? values : nullptr;
  }
  Slab& slab = m.held[channel];
  if (slab.values && slab.z0 == z0 && slab.z1 == z1) return slab.values->data;  // two grids use it
  if (!slab.values) {
    // A buffer a channel released earlier, or a new one in the library's memory budget.
    if (!m.pool.empty()) {
      slab.values = std::move(m.pool.back());
      m.pool.pop_back();
    } else {
      slab.values.reset(new Buffer);
      if (!slab.values->SetSize(m.slabCells, nullptr, true)) {
        m.held.erase(channel);
        return nullptr;
      }
    }
  }
  slab.z0 = slab.z1 = -1;
  if (neb_slab_read(m.reader, channel, z0, z1, slab.values->data, m.slabCells) != NEB_OK) return nullptr;
  slab.z0 = z0;
  slab.z1 = z1;
  return slab.values->data;
}

void SlabPass::release(int channel) {
  Impl& m = *impl_;
  if (!m.reader) {
    // The whole channel goes back to the frame: the next channel reuses its memory
    // (ostutils/LargeBlockCache.h) instead of touching fresh pages.
    if (m.releasable) neb_frame_release_channel(m.frame, channel);
    return;
  }
  auto at = m.held.find(channel);
  if (at == m.held.end()) return;
  if (at->second.values) m.pool.push_back(std::move(at->second.values));
  m.held.erase(at);
}

}  // namespace NebVdb
