#include "tools/neb2vdb/FrameExporter.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/points/PointDataGrid.h>

#include "cache/OstraneFrameData.h"
#include "nebloader.h"
#include "tools/neb2vdb/PointGroupGrid.h"
#include "vdb/AtomicFile.h"
#include "vdb/DenseFloatTree.h"
#include "vdb/FrameTransform.h"
#include "vdb/SparseTree.h"
#include "vdb/VdbWriteGuard.h"
#include "zutils/ThreadReportCapture.h"

namespace Neb2Vdb {

using VolConvert::ExportResult;
using VolConvert::exportFailure;

FrameExporter::FrameExporter(const Options& options) : options_(options) {
  static std::once_flag once;
  std::call_once(once, [] { openvdb::initialize(); });  // registers the point grids too
}

std::string reportReason(const std::string& reports) {
  std::string out;
  size_t start = 0;
  while (start < reports.size()) {
    size_t end = reports.find('\n', start);
    if (end == std::string::npos) end = reports.size();
    std::string line = reports.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    if (!line.empty()) out += (out.empty() ? ": " : "; ") + line;
    start = end + 1;
  }
  return out;
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

// The largest finite component magnitude of a vector grid's channels.
float peakMagnitude(const float* const values[3], size_t cells) {
  float peak = 0.0f;
  for (int c = 0; c < 3; ++c)
    peak = tbb::parallel_reduce(
        tbb::blocked_range<size_t>(0, cells), peak,
        [&](const tbb::blocked_range<size_t>& r, float m) {
          for (size_t i = r.begin(); i != r.end(); ++i) {
            const float a = std::fabs(values[c][i]);
            if (a > m && std::isfinite(a)) m = a;
          }
          return m;
        },
        [](float a, float b) { return std::max(a, b); });
  return peak;
}

// Codec noise floor of vector grids (see FrameExporter.h).
constexpr float kVectorNoiseFloor = 1.0f / 65536.0f;

openvdb::GridBase::Ptr buildGrid(const GridPlan& plan, const float* const values[3], const int size[3],
                                 const Options& o) {
  if (plan.components == 3) {
    float tolerance = o.tolerance;
    if (!o.dense) {
      const size_t cells = size_t(VolConvert::DenseFloatTree::cellCount(size));
      tolerance = std::max(tolerance, peakMagnitude(values, cells) * kVectorNoiseFloor);
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

bool groupSelected(const Options& o, const std::string& original, const std::string& written) {
  return o.groupSelection.empty() || o.groupSelection.count(original) || o.groupSelection.count(written);
}

// Writes `grids` with the file metadata through an AtomicFile.
ExportResult writeFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                       const Options& o, long long& bytes) {
  AtomicFile output;
  std::string error;
  if (!output.open(path, error)) return exportFailure(VolConvert::kExportFailed, error.c_str());
  openvdb::io::File file(output.writePath());
  if (o.compression != Compression::kDefault) file.setCompression(compressionFlags(o.compression));
  file.write(grids, metadata);
  file.close();
  bytes += output.size();
  if (!output.commit(error)) return exportFailure(VolConvert::kExportFailed, error.c_str());
  return ExportResult();
}

ExportResult run(const FrameTask& task, INeb& frame, const Options& o, FrameOutcome& outcome) {
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
  std::string reports;
  openvdb::GridCPtrVec grids;
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
    grid->setTransform(openvdb::math::Transform::createLinearTransform(matrix));
    grid->setSaveFloatAsHalf(o.half);
    grids.push_back(grid);
    if (data)
      for (int i = 0; i < plan.components; ++i)
        if (lastUse[plan.channels[i]] == p) data->ReleaseChannelSlot(plan.channels[i]);
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

  if (task.pointsDestination.empty()) {
    grids.insert(grids.end(), points.begin(), points.end());
  } else if (!points.empty()) {
    const ExportResult written = writeFile(task.pointsDestination, points, metadata, o, outcome.bytesWritten);
    if (written.code != VolConvert::kExportOk) return written;
  }
  return writeFile(task.destination, grids, metadata, o, outcome.bytesWritten);
}

}  // namespace

FrameOutcome FrameExporter::exportFrame(const FrameTask& task, INeb& frame) const {
  FrameOutcome outcome;
  outcome.result = VolConvert::guardedVdbWrite([&] { return run(task, frame, options_, outcome); });
  if (outcome.result.code == VolConvert::kExportWriteFailed)
    outcome.result.reason = "cannot write " + task.destination;
  return outcome;
}

}  // namespace Neb2Vdb
