#include "tools/neb2vdb/FrameExporter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>
#include <tbb/task_group.h>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/points/PointDataGrid.h>

#include "cache/FrameSlabReader.h"
#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "ostutils/OstArray.h"
#include "nebloader.h"
#include "tools/neb2vdb/PointGroupGrid.h"
#include "vdb/DenseFloatTree.h"
#include "vdb/FrameTransform.h"
#include "vdb/SparseTree.h"
#include "vdb/VdbFileWriter.h"
#include "vdb/VdbWriteGuard.h"
#include "zutils/ReportLines.h"
#include "zutils/ThreadReportCapture.h"
#include "zutils/platform/AtomicFile.h"

namespace Neb2Vdb {

using VolConvert::ExportResult;
using VolConvert::exportFailure;

FrameExporter::FrameExporter(const Options& options) : options_(options) {
  static std::once_flag once;
  std::call_once(once, [] { openvdb::initialize(); });  // registers the point grids too
}

std::string reportReason(const std::string& reports) {
  const std::string line = ZUtils::joinReportLines(reports);
  return line.empty() ? line : ": " + line;
}

uint32_t FrameExporter::storedChannels(INeb& frame) {
  uint32_t present = 0;
  for (int c = 0; c < 32; ++c)
    if (frame.hasChannel(c)) present |= 1u << c;
  // Frames of this program come from the library; its mask tells stored speed from
  // derived speed. Other INeb implementations keep what they announce.
  if (auto* data = dynamic_cast<OstraneFrameData*>(&frame))
    if (!((uint32_t(data->channelMask) >> 3) & 1u)) present &= ~(1u << 3);
  return present;
}

namespace {

uint32_t compressionFlags(Compression c) {
  switch (c) {
    case Compression::kBlosc:
      return openvdb::io::COMPRESS_BLOSC | openvdb::io::COMPRESS_ACTIVE_MASK;
    case Compression::kZip:
      return openvdb::io::COMPRESS_ZIP | openvdb::io::COMPRESS_ACTIVE_MASK;
    case Compression::kNone:
    default:
      // Inactive values are still left out (lossless): only the byte codec is off.
      return openvdb::io::COMPRESS_ACTIVE_MASK;
  }
}

// The largest finite magnitude of a channel's values. On the bits: a
// magnitude is the value without its sign bit, finite when below the infinity pattern, and
// non-negative floats order as their bit patterns do (a loop the compiler vectorises).
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

// Codec noise floor of vector grids (see FrameExporter.h).
constexpr float kVectorNoiseFloor = 1.0f / 65536.0f;

openvdb::GridBase::Ptr buildGrid(const GridPlan& plan, const float* const values[3], const int size[3],
                                 const Options& o) {
  if (plan.components == 3) {
    float tolerance = o.tolerance;
    if (!o.dense) {
      const size_t cells = size_t(VolConvert::DenseFloatTree::cellCount(size));
      float peak = 0.0f;
      for (int c = 0; c < 3; ++c) peak = std::max(peak, peakMagnitude(values[c], cells));
      tolerance = std::max(tolerance, peak * kVectorNoiseFloor);
    }
    openvdb::Vec3SGrid::Ptr grid = openvdb::Vec3SGrid::create(VolConvert::buildVec3Tree(values, size, tolerance, o.dense));
    grid->setVectorType(plan.vecType);
    return grid;
  }
  openvdb::FloatGrid::Ptr grid;
  if (o.dense) {
    VolConvert::DenseFloatTree dense;
    dense.fill(values[0], size);
    grid = openvdb::FloatGrid::create(dense.tree());
  } else {
    grid = openvdb::FloatGrid::create(VolConvert::buildSparseFloatTree(values[0], size, o.tolerance));
  }
  if (plan.fog) grid->setGridClass(openvdb::GRID_FOG_VOLUME);
  return grid;
}

// -values, for a component the Z-up turn negates. Sign flips are exact.
std::vector<float> negated(const float* values, size_t cells) {
  std::vector<float> out(cells);
  tbb::parallel_for(tbb::blocked_range<size_t>(0, cells), [&](const tbb::blocked_range<size_t>& r) {
    for (size_t i = r.begin(); i != r.end(); ++i) out[i] = -values[i];
  });
  return out;
}

// Every planned grid from the frame's whole channels (getChannel).
ExportResult buildGrids(const std::vector<GridPlan>& plans, const FrameTask& task, INeb& frame, const int size[3],
                        const Options& o, std::string& reports, std::vector<openvdb::GridBase::Ptr>& grids) {
  // Each channel's buffer goes back as soon as the last grid that reads it is built: the
  // next channel then reuses it (ostutils/LargeBlockCache.h) instead of touching fresh
  // pages, and a frame holds a few channels at a time instead of all of them.
  auto* data = task.exclusive ? dynamic_cast<OstraneFrameData*>(&frame) : nullptr;
  std::map<int, size_t> lastUse;
  for (size_t p = 0; p < plans.size(); ++p)
    for (int i = 0; i < plans[p].components; ++i) lastUse[plans[p].channels[i]] = p;

  // Channel buffers are allocated on this thread, and a stored record may fill several
  // channels at the first request of one of them: the reports of every request so far
  // (a refusal of the memory budget above all) become the reason of a channel that fails.
  for (size_t p = 0; p < plans.size(); ++p) {
    const GridPlan& plan = plans[p];
    const float* values[3] = {};
    std::vector<float> flipped[3];
    for (int i = 0; i < plan.components; ++i) {
      {
        ZUtils::ThreadReportCapture capture(&reports);
        values[i] = frame.getChannel(plan.channels[i]);
      }
      if (!values[i]) {
        const std::string reason = "cannot decode channel " + std::to_string(plan.channels[i]) + reportReason(reports);
        return exportFailure(VolConvert::kExportChannelUnavailable, reason.c_str());
      }
      if (plan.negate[i]) {
        flipped[i] = negated(values[i], size_t(VolConvert::DenseFloatTree::cellCount(size)));
        values[i] = flipped[i].data();
      }
    }
    openvdb::GridBase::Ptr grid = buildGrid(plan, values, size, o);
    grid->setName(plan.name);
    grids.push_back(grid);
    if (data)
      for (int i = 0; i < plan.components; ++i)
        if (lastUse[plan.channels[i]] == p) data->ReleaseChannelSlot(plan.channels[i]);
  }
  return ExportResult();
}

ExportResult channelFailure(int channel, const std::string& reports) {
  const std::string reason = "cannot decode channel " + std::to_string(channel) + reportReason(reports);
  return exportFailure(VolConvert::kExportChannelUnavailable, reason.c_str());
}

int firstVectorChannel(const std::vector<GridPlan>& plans) {
  for (const GridPlan& plan : plans)
    if (plan.components == 3) return plan.channels[0];
  return -1;
}

// Slabs are whole leaves deep (8 layers), and at least about 2M cells: the zones of a
// slab are decoded on the jobs, one zone per job at a time, and a slab of a few zones
// would leave jobs idle. A 256^3 frame reads 32 layers at a time, 512^3 and larger 8.
int slabLayers(int64_t layer, int nz) {
  const int64_t wanted = (int64_t(1) << 21) / std::max<int64_t>(layer, 1);
  const int64_t whole = (int64_t(std::max(nz, 1)) + 7) / 8 * 8;
  return int(std::min(std::max<int64_t>(8, (wanted + 7) / 8 * 8), whole));
}

// The trees of one grid, filled slab by slab.
struct SlabGrid {
  const GridPlan* plan;
  openvdb::FloatTree::Ptr scalar;
  openvdb::Vec3STree::Ptr vector;
  float tolerance;
};

// Every planned grid from slabs of the frame's records: each slab of a channel
// is read once (a channel two grids use is kept until its last grid of the slab), turned
// where the plan negates it, and added to the trees, so no channel is ever held whole. The
// vector grids' noise floor needs the frame's largest component first: a first pass reads
// their channels for it alone. The trees are the ones the whole channels give.
ExportResult buildStreamedGrids(const std::vector<GridPlan>& plans, OstraneFrameData& frame,
                                const GridRecordBytes& bytes, const int size[3], const Options& o,
                                std::string& reports, std::vector<openvdb::GridBase::Ptr>& grids) {
  const int64_t layer = int64_t(std::max(size[0], 0)) * std::max(size[1], 0);
  const int nz = VolConvert::DenseFloatTree::cellCount(size) > 0 ? size[2] : 0;
  const int kSlabLayers = slabLayers(layer, nz);
  const size_t slabCells = size_t(layer) * kSlabLayers;
  FrameSlabReader reader(frame, bytes);
  for (const GridPlan& plan : plans)
    for (int i = 0; i < plan.components; ++i) {
      ZUtils::ThreadReportCapture capture(&reports);
      if (!reader.open(plan.channels[i])) return channelFailure(plan.channels[i], reports);
    }

  std::vector<SlabGrid> trees;
  for (const GridPlan& plan : plans) {
    SlabGrid t{&plan, nullptr, nullptr, o.tolerance};
    if (plan.components == 3) t.vector = std::make_shared<openvdb::Vec3STree>(openvdb::zeroVal<openvdb::Vec3s>());
    else t.scalar = std::make_shared<openvdb::FloatTree>(0.0f);
    trees.push_back(t);
  }

  // Slab buffers, in the library's memory budget like everything else a frame holds.
  using Buffer = std::unique_ptr<OSTUtils::OstArray<float, int64_t>>;
  std::vector<Buffer> pool;  // not in use
  auto takeBuffer = [&]() {
    Buffer b;
    if (!pool.empty()) {
      b = std::move(pool.back());
      pool.pop_back();
    } else {
      b.reset(new OSTUtils::OstArray<float, int64_t>);
    }
    if (!b->SetSize(int64_t(slabCells), nullptr, true)) b.reset();
    return b;
  };

  if (!o.dense) {
    // First pass: the largest finite component magnitude of each vector grid.
    FrameSlabReader first(frame, bytes);
    std::vector<float> peak(plans.size(), 0.0f);
    bool any = false;
    for (const GridPlan& plan : plans)
      for (int i = 0; plan.components == 3 && i < 3; ++i) {
        ZUtils::ThreadReportCapture capture(&reports);
        if (!first.open(plan.channels[i])) return channelFailure(plan.channels[i], reports);
        any = true;
      }
    Buffer buffer;
    if (any) {
      ZUtils::ThreadReportCapture capture(&reports);
      buffer = takeBuffer();
      if (!buffer) return channelFailure(firstVectorChannel(plans), reports);
    }
    for (int z0 = 0; any && z0 < nz; z0 += kSlabLayers) {
      const int z1 = std::min(nz, z0 + kSlabLayers);
      const size_t cells = size_t(z1 - z0) * size_t(layer);
      for (size_t p = 0; p < plans.size(); ++p) {
        if (plans[p].components != 3) continue;
        for (int i = 0; i < 3; ++i) {
          ZUtils::ThreadReportCapture capture(&reports);
          if (!first.read(plans[p].channels[i], z0, z1, buffer->data)) return channelFailure(plans[p].channels[i], reports);
          peak[p] = std::max(peak[p], peakMagnitude(buffer->data, cells));
        }
      }
    }
    if (any) pool.push_back(std::move(buffer));
    for (size_t p = 0; p < plans.size(); ++p)
      if (plans[p].components == 3) trees[p].tolerance = std::max(o.tolerance, peak[p] * kVectorNoiseFloor);
  }

  // The last grid of each slab that reads a channel.
  std::map<int, size_t> lastUse;
  for (size_t p = 0; p < plans.size(); ++p)
    for (int i = 0; i < plans[p].components; ++i) lastUse[plans[p].channels[i]] = p;
  std::map<int, Buffer> held;
  Buffer turned[3];
  // The colour channels come from one zlib stream, inflated on one thread: each slab's
  // colour is read in the background while the slab's other grids are built (the task
  // runs at the wait when TBB has no thread to spare).
  std::vector<int> colour;
  for (const auto& use : lastUse)
    if (use.first >= 7 && use.first <= 9) colour.push_back(use.first);
  int colourFailed = -1;
  std::string colourReports;
  tbb::task_group background;  // waited for before anything it writes goes away
  struct Waiter {
    tbb::task_group& group;
    ~Waiter() { group.wait(); }
  } waiter{background};
  for (int z0 = 0; z0 < nz; z0 += kSlabLayers) {
    const int z1 = std::min(nz, z0 + kSlabLayers);
    const size_t cells = size_t(z1 - z0) * size_t(layer);
    bool colourPending = false;
    colourFailed = -1;
    colourReports.clear();
    if (!colour.empty()) {
      std::vector<float*> into;
      for (int c : colour) {
        ZUtils::ThreadReportCapture capture(&reports);
        Buffer b = takeBuffer();
        if (!b) return channelFailure(c, reports);
        into.push_back(b->data);
        held.emplace(c, std::move(b));
      }
      background.run([&, into, z0, z1] {
        ZUtils::ThreadReportCapture capture(&colourReports);
        for (size_t k = 0; k < colour.size() && colourFailed < 0; ++k)
          if (!reader.read(colour[k], z0, z1, into[k])) colourFailed = colour[k];
      });
      colourPending = true;
    }
    for (size_t p = 0; p < plans.size(); ++p) {
      const GridPlan& plan = plans[p];
      const float* values[3] = {};
      for (int i = 0; i < plan.components; ++i) {
        const int c = plan.channels[i];
        if (colourPending && c >= 7 && c <= 9) {
          background.wait();
          colourPending = false;
          reports += colourReports;
          if (colourFailed >= 0) return channelFailure(colourFailed, reports);
        }
        auto at = held.find(c);
        if (at == held.end()) {
          ZUtils::ThreadReportCapture capture(&reports);
          Buffer b = takeBuffer();
          if (!b || !reader.read(c, z0, z1, b->data)) return channelFailure(c, reports);
          at = held.emplace(c, std::move(b)).first;
        }
        values[i] = at->second->data;
        if (plan.negate[i]) {
          if (!turned[i]) {
            ZUtils::ThreadReportCapture capture(&reports);
            turned[i] = takeBuffer();
            if (!turned[i]) return channelFailure(c, reports);
          }
          float* out = turned[i]->data;
          for (size_t k = 0; k < cells; ++k) out[k] = -values[i][k];
          values[i] = out;
        }
      }
      SlabGrid& t = trees[p];
      if (plan.components == 3) {
        VolConvert::addVec3Slab(*t.vector, values, size, z0, z1, t.tolerance, o.dense);
      } else if (o.dense) {
        VolConvert::DenseFloatTree::addSlab(*t.scalar, values[0], size, z0, z1);
      } else {
        VolConvert::addSparseFloatSlab(*t.scalar, values[0], size, z0, z1, o.tolerance);
      }
      for (int i = 0; i < plan.components; ++i) {
        auto at = held.find(plan.channels[i]);
        if (at != held.end() && lastUse[plan.channels[i]] == p) {
          pool.push_back(std::move(at->second));
          held.erase(at);
        }
      }
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

bool groupSelected(const Options& o, const std::string& original, const std::string& written) {
  return o.groupSelection.empty() || o.groupSelection.count(original) || o.groupSelection.count(written);
}

// Writes `grids` with the file metadata through an AtomicFile.
ExportResult writeFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                       const Options& o, long long& bytes) {
  ZUtils::platform::AtomicFile output;
  std::string error;
  if (!output.open(path, error)) return exportFailure(VolConvert::kExportFailed, error.c_str());
  VolConvert::writeVdbFile(output.writePath(), grids, metadata,
                           o.compression == Compression::kDefault ? VolConvert::kLibraryCompression
                                                                  : compressionFlags(o.compression));
  bytes += output.size();
  if (!output.commit(error)) return exportFailure(VolConvert::kExportFailed, error.c_str());
  return ExportResult();
}

ExportResult run(const FrameTask& task, INeb& frame, const GridRecordBytes* streamFrom, const Options& o,
                 FrameOutcome& outcome) {
  const std::vector<GridPlan> plans = planGrids(FrameExporter::storedChannels(frame), o.naming);
  int size[3] = {0, 0, 0};
  frame.getGridSize(size);
  float t[12];
  frame.getTransform(t);
  openvdb::Mat4d matrix;
  if (!VolConvert::indexToWorldMatrix(t, matrix))
    return exportFailure(VolConvert::kExportBadTransform, VolConvert::kSingularTransformReason);
  if (o.naming.zUp) {
    // Row vectors: w' = w * R with R taking (x, y, z) to (x, -z, y); exact in double.
    const openvdb::Mat4d turn(1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1);
    matrix = matrix * turn;
  }

  std::string reports;
  std::vector<openvdb::GridBase::Ptr> volumes;
  auto* data = dynamic_cast<OstraneFrameData*>(&frame);
  const ExportResult built = streamFrom && data ? buildStreamedGrids(plans, *data, *streamFrom, size, o, reports, volumes)
                                                : buildGrids(plans, task, frame, size, o, reports, volumes);
  if (built.code != VolConvert::kExportOk) return built;
  openvdb::GridCPtrVec grids;
  for (const openvdb::GridBase::Ptr& g : volumes) {
    g->setTransform(openvdb::math::Transform::createLinearTransform(matrix));
    g->setSaveFloatAsHalf(o.half);
    grids.push_back(g);
  }
  openvdb::GridCPtrVec points;
  if (o.particles) {
    for (int g = 0; g < frame.getParticleGroupCount(); ++g) {
      IOstranePrtGroup* group = frame.getParticleGroup(g);
      if (!group) continue;
      const std::string original = group->getName() ? group->getName() : "";
      std::string name = original;
      const auto renamed = o.naming.renames.find(name);
      if (renamed != o.naming.renames.end()) name = renamed->second;
      if (!groupSelected(o, original, name)) continue;
      size_t leftOut = 0;
      points.push_back(makePointDataGrid(*group, *openvdb::math::Transform::createLinearTransform(matrix), name,
                                         o.naming.zUp, &leftOut));
      outcome.particlesLeftOut += leftOut;
    }
  }

  openvdb::MetaMap metadata;
  if (task.hasNumber) metadata.insertMeta("frame", openvdb::Int32Metadata(task.number));
  metadata.insertMeta("source_file", openvdb::StringMetadata(task.source));
  metadata.insertMeta("converter", openvdb::StringMetadata("neb2vdb"));
  metadata.insertMeta("converter_version", openvdb::StringMetadata(kConverterVersion));
  recordSourceState(task.sourceState, metadata);

  if (task.pointsDestination.empty()) {
    grids.insert(grids.end(), points.begin(), points.end());
  } else if (!points.empty()) {
    const ExportResult written = writeFile(task.pointsDestination, points, metadata, o, outcome.bytesWritten);
    if (written.code != VolConvert::kExportOk) return written;
  }
  return writeFile(task.destination, grids, metadata, o, outcome.bytesWritten);
}

}  // namespace

FrameOutcome FrameExporter::exportFrame(const FrameTask& task, INeb& frame, const GridRecordBytes* records) const {
  FrameOutcome outcome;
  outcome.result = VolConvert::guardedVdbWrite([&] { return run(task, frame, records, options_, outcome); });
  if (outcome.result.code == VolConvert::kExportWriteFailed)
    outcome.result.reason = "cannot write " + task.destination;
  return outcome;
}

}  // namespace Neb2Vdb
