#include "tools/neb2vdb/FrameExporter.h"

#include <map>
#include <mutex>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/points/PointDataGrid.h>

#include "cache/OstraneFrameData.h"
#include "nebloader.h"
#include "tools/neb2vdb/AtomicFile.h"
#include "tools/neb2vdb/PointGroupGrid.h"
#include "tools/volconvert/DenseFloatTree.h"
#include "tools/volconvert/ExportGuard.h"
#include "tools/volconvert/FrameTransform.h"
#include "tools/volconvert/SparseTree.h"
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

openvdb::GridBase::Ptr buildGrid(const GridPlan& plan, const float* const values[3], const int size[3],
                                 const Options& o) {
  if (plan.components == 3) {
    openvdb::Vec3SGrid::Ptr grid = openvdb::Vec3SGrid::create(VolConvert::buildVec3Tree(values, size, o.tolerance, o.dense));
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

ExportResult run(const FrameTask& task, INeb& frame, const Options& o, FrameOutcome& outcome) {
  const std::vector<GridPlan> plans = planGrids(FrameExporter::storedChannels(frame), o.naming);
  int size[3] = {0, 0, 0};
  frame.getGridSize(size);
  float t[12];
  frame.getTransform(t);
  openvdb::Mat4d matrix;
  if (!VolConvert::indexToWorldMatrix(t, matrix))
    return exportFailure(VolConvert::kExportBadTransform, VolConvert::kSingularTransformReason);

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
    for (int i = 0; i < plan.components; ++i) {
      {
        ZUtils::ThreadReportCapture capture(&reports);
        values[i] = frame.getChannel(plan.channels[i]);
      }
      if (!values[i]) {
        const std::string reason = "cannot decode channel " + std::to_string(plan.channels[i]) + reportReason(reports);
        return exportFailure(VolConvert::kExportChannelUnavailable, reason.c_str());
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
  if (o.particles) {
    for (int g = 0; g < frame.getParticleGroupCount(); ++g) {
      IOstranePrtGroup* group = frame.getParticleGroup(g);
      if (!group) continue;
      std::string name = group->getName() ? group->getName() : "";
      const auto renamed = o.naming.renames.find(name);
      if (renamed != o.naming.renames.end()) name = renamed->second;
      size_t leftOut = 0;
      grids.push_back(
          makePointDataGrid(*group, *openvdb::math::Transform::createLinearTransform(matrix), name, &leftOut));
      outcome.particlesLeftOut += leftOut;
    }
  }

  openvdb::MetaMap metadata;
  if (task.hasNumber) metadata.insertMeta("frame", openvdb::Int32Metadata(task.number));
  metadata.insertMeta("source_file", openvdb::StringMetadata(task.source));
  metadata.insertMeta("converter", openvdb::StringMetadata("neb2vdb"));
  metadata.insertMeta("converter_version", openvdb::StringMetadata(kConverterVersion));

  AtomicFile output;
  std::string error;
  if (!output.open(task.destination, error)) return exportFailure(VolConvert::kExportFailed, error.c_str());
  openvdb::io::File file(output.writePath());
  if (o.compression != Compression::kDefault) file.setCompression(compressionFlags(o.compression));
  file.write(grids, metadata);
  file.close();
  outcome.bytesWritten = output.size();
  if (!output.commit(error)) return exportFailure(VolConvert::kExportFailed, error.c_str());
  return ExportResult();
}

}  // namespace

FrameOutcome FrameExporter::exportFrame(const FrameTask& task, INeb& frame) const {
  FrameOutcome outcome;
  outcome.result = VolConvert::guardedExport([&] { return run(task, frame, options_, outcome); });
  if (outcome.result.code == VolConvert::kExportWriteFailed)
    outcome.result.reason = "cannot write " + task.destination;
  return outcome;
}

}  // namespace Neb2Vdb
