#include "vdb/FrameGridBuilder.h"

#include <algorithm>
#include <cstring>
#include <map>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>
#include <tbb/task_group.h>

#include "ostutils/OstArray.h"
#include "vdb/DenseFloatTree.h"
#include "vdb/FrameTransform.h"
#include "vdb/SparseTree.h"
#include "vdb/VdbWriteGuard.h"
#include "zutils/ReportLines.h"
#include "zutils/ThreadReportCapture.h"

namespace NebVdb {

using NebVdb::ExportResult;

uint32_t storedChannels(neb_frame* frame) {
  uint32_t present = 0;
  for (int c = 0; c < 32; ++c)
    if (neb_frame_has_channel(frame, c) == 1) present |= 1u << c;
  unsigned long long mask = 0;
  if (neb_frame_grid_mask(frame, &mask) == NEB_OK && !((mask >> 3) & 1u)) present &= ~(1u << 3);
  return present;
}

bool gridIndexToWorld(neb_frame* frame, bool zUp, openvdb::math::Mat4d& matrix) {
  float t[12];
  if (neb_frame_transform(frame, t) != NEB_OK || !NebVdb::indexToWorldMatrix(t, matrix)) return false;
  if (zUp) {
    // Row vectors: w' = w * R with R taking (x, y, z) to (x, -z, y); exact in double.
    const openvdb::math::Mat4d turn(1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1);
    matrix = matrix * turn;
  }
  return true;
}

std::string reportReason(const std::string& reports) {
  const std::string line = ZUtils::joinReportLines(reports);
  return line.empty() ? line : ": " + line;
}

namespace {

// Codec noise floor of vector grids (see FrameGridBuilder.h).
constexpr float kVectorNoiseFloor = 1.0f / 65536.0f;

// The largest finite magnitude of `cells` values. On the bits: a magnitude is the value
// without its sign bit, finite when below the infinity pattern, and non-negative floats
// order as their bit patterns do (a loop the compiler vectorises).
float peakMagnitude(const float* v, size_t cells) {
  const uint32_t peak = tbb::parallel_reduce(
        tbb::blocked_range<size_t>(0, cells, 1 << 16), uint32_t(0),
        [&](const tbb::blocked_range<size_t>& r, uint32_t m) {
          for (size_t i = r.begin(); i != r.end(); ++i) {
            uint32_t u;
            std::memcpy(&u, &v[i], sizeof u);
            u &= 0x7FFFFFFFu;
            u = u < 0x7F800000u ? u : 0u;
            m = u > m ? u : m;
          }
          return m;
        },
        [](uint32_t a, uint32_t b) { return std::max(a, b); });
  float f;
  std::memcpy(&f, &peak, sizeof f);
  return f;
}

ExportResult channelFailure(int channel, const std::string& reports) {
  const std::string reason = "cannot decode channel " + std::to_string(channel) + reportReason(reports);
  return NebVdb::exportFailure(NebVdb::kExportChannelUnavailable, reason.c_str());
}

bool isColour(int channel) { return channel >= 7 && channel <= 9; }

// The trees of one grid, filled slab by slab.
struct SlabGrid {
  const GridPlan* plan;
  openvdb::FloatTree::Ptr scalar;
  openvdb::Vec3STree::Ptr vector;
  float tolerance;
};

}  // namespace

FrameGridBuilder::FrameGridBuilder(const FrameSlabs& slabs, const GridBuildSettings& settings)
    : slabs_(slabs), settings_(settings) {}

ExportResult FrameGridBuilder::build(const std::vector<GridPlan>& plans, std::string& reports,
                                     std::vector<openvdb::GridBase::Ptr>& grids) const {
  const GridBuildSettings& o = settings_;
  const int* size = slabs_.size();
  const int64_t layer = slabs_.layerCells();
  const int nz = size[2], slabLayers = slabs_.slabLayers();

  // The last grid that reads each channel, and the colour channels, which a pass of their
  // own reads.
  std::map<int, size_t> lastUse;
  for (size_t p = 0; p < plans.size(); ++p)
    for (int i = 0; i < plans[p].components; ++i) lastUse[plans[p].channels[i]] = p;
  std::vector<int> colour;
  for (const auto& use : lastUse)
    if (isColour(use.first)) colour.push_back(use.first);

  std::unique_ptr<SlabPass> main, colourPass;
  if (!lastUse.empty()) {
    {
      ZUtils::ThreadReportCapture capture(&reports);
      main = slabs_.pass();
      if (main && !colour.empty()) colourPass = slabs_.pass();
    }
    if (!main || (!colour.empty() && !colourPass)) return channelFailure(lastUse.begin()->first, reports);
  }
  for (const auto& use : lastUse) {
    ZUtils::ThreadReportCapture capture(&reports);
    if (!(isColour(use.first) ? colourPass : main)->open(use.first)) return channelFailure(use.first, reports);
  }

  std::vector<SlabGrid> trees;
  for (const GridPlan& plan : plans) {
    SlabGrid t{&plan, nullptr, nullptr, o.tolerance};
    if (plan.components == 3) t.vector = std::make_shared<openvdb::Vec3STree>(openvdb::zeroVal<openvdb::Vec3s>());
    else t.scalar = std::make_shared<openvdb::FloatTree>(0.0f);
    trees.push_back(t);
  }

  // The vector grids' noise floor: from the slab itself when the frame is one slab, else
  // from a first pass over their channels.
  const bool oneSlab = nz <= slabLayers;
  if (!o.dense && !oneSlab) {
    std::unique_ptr<SlabPass> first;
    bool any = false;
    for (const GridPlan& plan : plans)
      for (int i = 0; plan.components == 3 && i < 3; ++i) {
        ZUtils::ThreadReportCapture capture(&reports);
        if (!first) first = slabs_.pass();
        if (!first || !first->open(plan.channels[i])) return channelFailure(plan.channels[i], reports);
        any = true;
      }
    std::vector<float> peak(plans.size(), 0.0f);
    std::map<int, size_t> lastVector;
    for (size_t p = 0; p < plans.size(); ++p)
      for (int i = 0; plans[p].components == 3 && i < 3; ++i) lastVector[plans[p].channels[i]] = p;
    for (int z0 = 0; any && z0 < nz; z0 += slabLayers) {
      const int z1 = std::min(nz, z0 + slabLayers);
      const size_t cells = size_t(z1 - z0) * size_t(layer);
      for (size_t p = 0; p < plans.size(); ++p) {
        if (plans[p].components != 3) continue;
        for (int i = 0; i < 3; ++i) {
          ZUtils::ThreadReportCapture capture(&reports);
          const float* values = first->read(plans[p].channels[i], z0, z1);
          if (!values) return channelFailure(plans[p].channels[i], reports);
          peak[p] = std::max(peak[p], peakMagnitude(values, cells));
          if (lastVector[plans[p].channels[i]] == p) first->release(plans[p].channels[i]);  // serves the next
        }
      }
    }
    for (size_t p = 0; p < plans.size(); ++p)
      if (plans[p].components == 3) trees[p].tolerance = std::max(o.tolerance, peak[p] * kVectorNoiseFloor);
  }

  // Turned copies of the components a plan negates, one slab each.
  using Buffer = OSTUtils::OstArray<float, int64_t>;
  Buffer turned[3];
  const int64_t slabCells = layer * slabLayers;

  std::map<int, const float*> colourValues;
  int colourFailed = -1;
  std::string colourReports;
  tbb::task_group background;  // waited for before anything it writes goes away
  struct Waiter {
    tbb::task_group& group;
    ~Waiter() { group.wait(); }
  } waiter{background};
  for (int z0 = 0; z0 < nz; z0 += slabLayers) {
    const int z1 = std::min(nz, z0 + slabLayers);
    const size_t cells = size_t(z1 - z0) * size_t(layer);
    bool colourPending = !colour.empty();
    if (colourPending) {
      colourFailed = -1;
      colourReports.clear();
      background.run([&, z0, z1] {
        ZUtils::ThreadReportCapture capture(&colourReports);
        for (int c : colour) {
          const float* values = colourPass->read(c, z0, z1);
          if (!values) {
            colourFailed = c;
            return;
          }
          colourValues[c] = values;
        }
      });
    }
    for (size_t p = 0; p < plans.size(); ++p) {
      const GridPlan& plan = plans[p];
      const float* values[3] = {};
      for (int i = 0; i < plan.components; ++i) {
        const int c = plan.channels[i];
        if (isColour(c)) {
          if (colourPending) {
            background.wait();
            colourPending = false;
            reports += colourReports;
            if (colourFailed >= 0) return channelFailure(colourFailed, reports);
          }
          values[i] = colourValues[c];
        } else {
          ZUtils::ThreadReportCapture capture(&reports);
          values[i] = main->read(c, z0, z1);
          if (!values[i]) return channelFailure(c, reports);
        }
        if (plan.negate[i]) {
          if (!turned[i].data) {
            ZUtils::ThreadReportCapture capture(&reports);
            if (!turned[i].SetSize(slabCells, nullptr, true)) return channelFailure(c, reports);
          }
          float* out = turned[i].data;
          const float* in = values[i];
          tbb::parallel_for(tbb::blocked_range<size_t>(0, cells), [&](const tbb::blocked_range<size_t>& r) {
            for (size_t k = r.begin(); k != r.end(); ++k) out[k] = -in[k];
          });
          values[i] = out;
        }
      }
      SlabGrid& t = trees[p];
      if (plan.components == 3 && !o.dense && oneSlab) {
        float peak = 0.0f;
        for (int i = 0; i < 3; ++i) peak = std::max(peak, peakMagnitude(values[i], cells));
        t.tolerance = std::max(o.tolerance, peak * kVectorNoiseFloor);
      }
      if (plan.components == 3) {
        addVec3Slab(*t.vector, values, size, z0, z1, t.tolerance, o.dense);
      } else if (o.dense) {
        NebVdb::DenseFloatTree::addSlab(*t.scalar, values[0], size, z0, z1);
      } else {
        NebVdb::addSparseFloatSlab(*t.scalar, values[0], size, z0, z1, o.tolerance);
      }
      for (int i = 0; i < plan.components; ++i)
        if (lastUse[plan.channels[i]] == p) (isColour(plan.channels[i]) ? colourPass : main)->release(plan.channels[i]);
    }
  }

  for (const SlabGrid& t : trees) {
    openvdb::GridBase::Ptr grid;
    if (t.vector) {
      openvdb::Vec3SGrid::Ptr g = openvdb::Vec3SGrid::create(t.vector);
      g->setVectorType(t.plan->vecType);
      grid = g;
    } else {
      openvdb::FloatGrid::Ptr g = openvdb::FloatGrid::create(t.scalar);
      if (t.plan->fog) g->setGridClass(openvdb::GRID_FOG_VOLUME);
      grid = g;
    }
    grid->setName(t.plan->name);
    grids.push_back(grid);
  }
  return ExportResult();
}

}  // namespace NebVdb
