#include "plugins/vdbport/VdbFrameImport.h"

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "cache/ChannelBuffer.h"
#include "plugins/vdbport/DenseCopy.h"
#include "plugins/vdbport/SparseBlockMeans.h"
#include "plugins/vdbport/VdbSources.h"
#include "zutils/Report.h"

namespace VdbPort {

namespace {

const int kPackedColourChannel = 18;  // holds packed integers in nebu2 files, never floats

struct Source {
  int channel;
  int component;
  openvdb::GridBase::Ptr grid;  // tree loaded, or metadata only in a header-only load
  openvdb::CoordBBox active;
};

// The dense grid in the source index space: `box` is covered, `factor` source voxels per
// dense cell along each axis.
struct DenseLayout {
  openvdb::CoordBBox box;
  int64_t src[3] = {0, 0, 0};
  int64_t factor = 1;
  int64_t dims[3] = {0, 0, 0};

  int64_t cellsAt(int64_t s) const {
    // Saturates instead of overflowing: sources may span the whole 32-bit index range.
    long double n = 1;
    for (int a = 0; a < 3; ++a) n *= static_cast<long double>((src[a] + s - 1) / s);
    return n > static_cast<long double>(INT64_MAX / 2) ? INT64_MAX / 2 : static_cast<int64_t>(n);
  }
};

bool fileReadable(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Active box from the statistics OpenVDB stores with each grid; false when they are missing.
bool storedActiveBox(const openvdb::GridBase& grid, openvdb::CoordBBox& box) {
  auto lo = grid.getMetadata<openvdb::Vec3IMetadata>(openvdb::GridBase::META_FILE_BBOX_MIN);
  auto hi = grid.getMetadata<openvdb::Vec3IMetadata>(openvdb::GridBase::META_FILE_BBOX_MAX);
  if (!lo || !hi) return false;
  box = openvdb::CoordBBox(openvdb::Coord(lo->value()), openvdb::Coord(hi->value()));
  return true;
}

// Smallest factor with at most `limit` dense cells; the cell count falls as the factor grows.
int64_t downsampleFactor(const DenseLayout& layout, int64_t limit) {
  int64_t lo = 1, hi = std::max({layout.src[0], layout.src[1], layout.src[2], int64_t(1)});
  if (layout.cellsAt(lo) <= limit) return 1;
  while (lo + 1 < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (layout.cellsAt(mid) <= limit) hi = mid; else lo = mid;
  }
  return hi;
}

// World -> dense-cell transform: v = w * A + o, A by rows then o, as frames store it.
// The grid maps index v to world w = v * L + t (row vectors); dense cell u has its centre
// at index min + (s - 1) / 2 + s * u.
bool frameTransform(const openvdb::math::Transform& xform, const DenseLayout& layout, float out[12]) {
  const openvdb::Mat4d m = xform.baseMap()->getAffineMap()->getMat4();
  const openvdb::Mat3d linear = m.getMat3();
  const double det = linear.det();
  if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
  const openvdb::Mat3d inv = linear.inverse();
  const double s = static_cast<double>(layout.factor);
  const double centre = (s - 1.0) / 2.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[r * 3 + c] = static_cast<float>(inv[r][c] / s);
  for (int c = 0; c < 3; ++c) {
    const double toIndex = -(m[3][0] * inv[0][c] + m[3][1] * inv[1][c] + m[3][2] * inv[2][c]);
    out[9 + c] = static_cast<float>((toIndex - layout.box.min()[c] - centre) / s);
  }
  for (int i = 0; i < 12; ++i)
    if (!std::isfinite(out[i])) return false;
  return true;
}

// Fills one channel's dense array from its grid. Tasks are bundles of whole dense planes
// (direct copy) or single dense rows (downsampling, with a running sum per dense cell), so
// any number of threads can take them in any order.
class FillJob : public ZUtils::ThreadProcedure {
 public:
  FillJob(const Source& source, const DenseLayout& layout, float* out)
      : source_(source), layout_(layout), out_(out) {
    const int64_t plane = layout.dims[0] * layout.dims[1];
    if (layout.factor == 1) {
      planesPerTask_ = std::max<int64_t>(1, (int64_t(1) << 16) / std::max<int64_t>(plane, 1));
      tasks_ = (layout.dims[2] + planesPerTask_ - 1) / planesPerTask_;
    } else {
      tasks_ = layout.dims[1] * layout.dims[2];
    }
  }

  int64_t tasks() const { return tasks_; }
  bool failed() const { return failed_.load(); }
  float minimum() const { return minimum_; }
  float maximum() const { return maximum_; }

  void run(volatile int* /*status*/, volatile int* /*progress*/, int /*index*/, int /*count*/) override {
    float lo = FLT_MAX, hi = -FLT_MAX;
    try {
      for (;;) {
        const int64_t task = next_.fetch_add(1);
        if (task >= tasks_) break;
        if (!(layout_.factor == 1 ? copyPlanes(task, lo, hi) : averageRow(task, lo, hi))) failed_ = true;
      }
    } catch (...) {  // memory or a damaged tree; the import reports it
      failed_ = true;
      next_ = tasks_;
    }
    std::lock_guard<std::mutex> lock(rangeLock_);
    minimum_ = std::min(minimum_, lo);
    maximum_ = std::max(maximum_, hi);
  }
  const char* name() override { return "vdbport dense fill"; }

 private:
  static void widen(const float* v, int64_t n, float& lo, float& hi) {
    for (int64_t i = 0; i < n; ++i) {
      lo = std::min(lo, v[i]);
      hi = std::max(hi, v[i]);
    }
  }

  bool copyPlanes(int64_t task, float& lo, float& hi) {
    const int64_t z0 = task * planesPerTask_;
    const int64_t z1 = std::min(layout_.dims[2], z0 + planesPerTask_);
    openvdb::CoordBBox box = layout_.box;
    box.min().z() = static_cast<int32_t>(layout_.box.min().z() + z0);
    box.max().z() = static_cast<int32_t>(layout_.box.min().z() + z1 - 1);
    float* dst = out_ + z0 * layout_.dims[0] * layout_.dims[1];
    if (!copyBoxToDense(*source_.grid, source_.component, box, dst)) return false;
    widen(dst, (z1 - z0) * layout_.dims[0] * layout_.dims[1], lo, hi);
    return true;
  }

  // Dense row (j, k): the mean of each s x s x s block of source voxels, clipped at the
  // far edges of the box. Source rows are fetched s at a time, one source plane after the
  // other, so the scratch stays at s source rows whatever the factor.
  bool averageRow(int64_t task, float& lo, float& hi) {
    const int64_t s = layout_.factor;
    const int64_t j = task % layout_.dims[1], k = task / layout_.dims[1];
    const int64_t nx = layout_.src[0];
    const int64_t y0 = j * s, y1 = std::min(layout_.src[1], y0 + s);
    const int64_t z0 = k * s, z1 = std::min(layout_.src[2], z0 + s);
    const openvdb::Coord& min = layout_.box.min();
    std::vector<float> rows(static_cast<size_t>(nx * (y1 - y0)));
    std::vector<double> sum(static_cast<size_t>(layout_.dims[0]), 0.0);
    for (int64_t z = z0; z < z1; ++z) {
      openvdb::CoordBBox box(openvdb::Coord(min.x(), static_cast<int32_t>(min.y() + y0), static_cast<int32_t>(min.z() + z)),
                             openvdb::Coord(layout_.box.max().x(), static_cast<int32_t>(min.y() + y1 - 1),
                                            static_cast<int32_t>(min.z() + z)));
      if (!copyBoxToDense(*source_.grid, source_.component, box, rows.data())) return false;
      for (int64_t y = 0; y < y1 - y0; ++y) {
        const float* row = rows.data() + y * nx;
        for (int64_t i = 0; i < layout_.dims[0]; ++i) {
          const int64_t x1 = std::min(nx, (i + 1) * s);
          double acc = 0.0;
          for (int64_t x = i * s; x < x1; ++x) acc += row[x];
          sum[static_cast<size_t>(i)] += acc;
        }
      }
    }
    float* dst = out_ + (k * layout_.dims[1] + j) * layout_.dims[0];
    for (int64_t i = 0; i < layout_.dims[0]; ++i) {
      const int64_t bx = std::min(nx, (i + 1) * s) - i * s;
      dst[i] = static_cast<float>(sum[static_cast<size_t>(i)] / static_cast<double>(bx * (y1 - y0) * (z1 - z0)));
    }
    widen(dst, layout_.dims[0], lo, hi);
    return true;
  }

  const Source& source_;
  const DenseLayout& layout_;
  float* out_;
  int64_t planesPerTask_ = 1;
  int64_t tasks_ = 0;
  std::atomic<int64_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex rangeLock_;
  float minimum_ = FLT_MAX;
  float maximum_ = -FLT_MAX;
};

// The row-by-row average visits every voxel of the source box, which costs what the box
// spans, not what the file holds: a damaged or very sparse file spans 2^32 voxels a side
// with a few leaves. Such a grid (a box of more voxels than a floor and more than 64 times
// the voxels its leaves store) is averaged from its tree instead. Grids whose leaves fill
// a fair share of the box keep the row-by-row sums and their order.
const int64_t kDenseAverageFloor = int64_t(1) << 24;
const int64_t kDenseAverageFill = 64;

bool averageFromTree(const Source& source, const DenseLayout& layout) {
  if (layout.factor == 1) return false;
  const int64_t volume = layout.cellsAt(1);
  return volume > kDenseAverageFloor && volume / kDenseAverageFill > storedLeafVoxels(*source.grid);
}

bool fillFromTree(const Source& source, const DenseLayout& layout, float* out, float& lo, float& hi) {
  try {
    if (!sparseBlockMeans(*source.grid, source.component, layout.box, layout.factor, layout.dims, out)) return false;
  } catch (...) {  // memory for the block sums
    return false;
  }
  lo = FLT_MAX;
  hi = -FLT_MAX;
  const int64_t cells = layout.dims[0] * layout.dims[1] * layout.dims[2];
  for (int64_t i = 0; i < cells; ++i) {
    lo = std::min(lo, out[i]);
    hi = std::max(hi, out[i]);
  }
  return true;
}

void runFill(FillJob& job, ZUtils::ThreadManager* manager) {
  if (manager && job.tasks() > 1) manager->runOnThreads(0, &job, nullptr, false);
  // Whatever the pool did not take (all of it without a pool, or when it could not start).
  job.run(nullptr, nullptr, 0, 1);
}

// The mapped grids found in the file, one per channel (the first entry of a channel wins).
std::vector<Source> findSources(const openvdb::GridPtrVec& grids, const CacheIO::GridMapping* entries, int count) {
  std::vector<Source> sources;
  bool taken[OstraneFrameData::kChannelCount] = {};
  for (int i = 0; i < count; ++i) {
    const int channel = entries[i].channel;
    if (!entries[i].name || channel < 0 || channel >= OstraneFrameData::kChannelCount ||
        channel == kPackedColourChannel || taken[channel])
      continue;
    int component = -1;
    openvdb::GridBase::Ptr grid = findSourceGrid(grids, entries[i].name, component);
    if (!grid) continue;
    taken[channel] = true;
    sources.push_back({channel, component, grid, openvdb::CoordBBox()});
  }
  return sources;
}

int importOpenFile(openvdb::io::File& file, const char* path, OstraneFrameData& frame, bool headerOnly,
                   const CacheIO::GridMapping* entries, int count, int64_t maxVoxels,
                   ZUtils::ThreadManager* manager) {
  openvdb::GridPtrVecPtr grids = file.readAllGridMetadata();
  std::vector<Source> sources = findSources(*grids, entries, count);

  // Trees are read once per grid (the three components of a vector share one). A
  // header-only load reads none when the stored statistics give the active boxes.
  std::map<std::string, openvdb::GridBase::Ptr> loaded;
  for (Source& s : sources) {
    if (headerOnly && storedActiveBox(*s.grid, s.active)) continue;
    const std::string name = s.grid->getName();
    auto it = loaded.find(name);
    if (it == loaded.end()) it = loaded.emplace(name, file.readGrid(name)).first;
    s.grid = it->second;
    s.active = s.grid->evalActiveVoxelBoundingBox();
  }

  // One transform for all: the first linear one; grids that differ from it are left out.
  const openvdb::math::Transform* reference = nullptr;
  std::string referenceName;
  std::vector<Source> used;
  for (Source& s : sources) {
    const openvdb::math::Transform& xform = s.grid->constTransform();
    if (!reference) {
      if (!xform.isLinear()) {
        ZUtils::logReport("vdbport: grid \"%s\" of %s has a non-linear transform and is left out\n",
                          s.grid->getName().c_str(), path);
        continue;
      }
      reference = &xform;
      referenceName = s.grid->getName();
    } else if (!(xform == *reference)) {
      ZUtils::logReport("vdbport: grid \"%s\" of %s is left out: its transform differs from grid \"%s\"\n",
                        s.grid->getName().c_str(), path, referenceName.c_str());
      continue;
    }
    used.push_back(s);
  }

  DenseLayout layout;
  for (const Source& s : used)
    if (!s.active.empty()) layout.box.expand(s.active);
  if (!reference || layout.box.empty()) return 0;  // nothing mapped holds a voxel: an empty frame

  for (int a = 0; a < 3; ++a)
    layout.src[a] = static_cast<int64_t>(layout.box.max()[a]) - layout.box.min()[a] + 1;
  if (maxVoxels >= 0) layout.factor = downsampleFactor(layout, std::max<int64_t>(maxVoxels, 1));
  for (int a = 0; a < 3; ++a) {
    layout.dims[a] = (layout.src[a] + layout.factor - 1) / layout.factor;
    if (layout.dims[a] > std::numeric_limits<int32_t>::max()) {
      ZUtils::logReport("vdbport: %s spans %lld voxels along one axis, more than a frame can hold\n", path,
                        static_cast<long long>(layout.dims[a]));
      return 4;
    }
  }
  if (!frameTransform(*reference, layout, frame.transform)) {
    ZUtils::logReport("vdbport: the transform of grid \"%s\" of %s cannot be inverted\n", referenceName.c_str(), path);
    return 4;
  }
  for (int a = 0; a < 3; ++a) frame.gridSize[a] = static_cast<int32_t>(layout.dims[a]);

  for (const Source& s : used) {
    if (headerOnly) {
      frame.channelMask |= int32_t(1u << s.channel);
      continue;
    }
    if (!frame.PrepareChannelSlot(s.channel, 0)) {
      ZUtils::logReport("[ERROR] vdbport: no memory for a dense grid of %lld cells from %s\n",
                        static_cast<long long>(layout.cellsAt(layout.factor)), path);
      return 4;
    }
    OstraneFrameData::ChannelSlot& slot = frame.channelSlots[s.channel];
    float lo = FLT_MAX, hi = -FLT_MAX;
    bool filled;
    if (averageFromTree(s, layout)) {
      filled = fillFromTree(s, layout, slot.holder->values.data, lo, hi);
    } else {
      FillJob job(s, layout, slot.holder->values.data);
      runFill(job, manager);
      filled = !job.failed();
      lo = job.minimum();
      hi = job.maximum();
    }
    if (!filled) {
      ZUtils::logReport("vdbport: grid \"%s\" of %s could not be read\n", s.grid->getName().c_str(), path);
      frame.ReleaseChannelSlot(s.channel);
      return 4;
    }
    slot.minimum = lo;
    slot.maximum = hi;
    frame.channelMask |= int32_t(1u << s.channel);
  }
  return 0;
}

}  // namespace

int importFrame(const char* path, OstraneFrameData& frame, bool headerOnly, const CacheIO::GridMapping* entries,
                int count, int64_t maxVoxels, ZUtils::ThreadManager* manager) {
  if (!path || !fileReadable(path)) {
    ZUtils::logReport("vdbport: cannot open %s\n", path ? path : "(null)");
    return 3;
  }
  try {
    openvdb::io::File file(path);
    file.open(false);  // whole trees on read: no file mapping kept behind the frame's back
    const int status = importOpenFile(file, path, frame, headerOnly, entries, count, maxVoxels, manager);
    file.close();
    return status;
  } catch (const std::bad_alloc&) {
    ZUtils::logReport("[ERROR] vdbport: out of memory reading %s\n", path);
  } catch (const std::exception& e) {
    ZUtils::logReport("vdbport: %s is not a readable OpenVDB file: %s\n", path, e.what());
  } catch (...) {
    ZUtils::logReport("vdbport: %s is not a readable OpenVDB file\n", path);
  }
  return 4;
}

}  // namespace VdbPort
