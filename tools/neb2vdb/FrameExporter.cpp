#include "tools/neb2vdb/FrameExporter.h"

#include <mutex>
#include <vector>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/points/PointDataGrid.h>

#include "tools/neb2vdb/PointGroupGrid.h"
#include "vdb/VdbFileWriter.h"
#include "vdb/VdbWriteGuard.h"
#include "zutils/platform/AtomicFile.h"

namespace Neb2Vdb {

using NebVdb::ExportResult;
using NebVdb::exportFailure;

FrameExporter::FrameExporter(const Options& options) : options_(options) {
  static std::once_flag once;
  std::call_once(once, [] { openvdb::initialize(); });  // registers the point grids too
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

bool groupSelected(const Options& o, const std::string& original, const std::string& written) {
  return o.groupSelection.empty() || o.groupSelection.count(original) || o.groupSelection.count(written);
}

// Writes `grids` with the file metadata through an AtomicFile.
ExportResult writeFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                       const Options& o, long long& bytes) {
  ZUtils::platform::AtomicFile output;
  std::string error;
  if (!output.open(path, error)) return exportFailure(NebVdb::kExportFailed, error.c_str());
  NebVdb::writeVdbFile(output.writePath(), grids, metadata,
                           o.compression == Compression::kDefault ? NebVdb::kLibraryCompression
                                                                  : compressionFlags(o.compression));
  bytes += output.size();
  if (!output.commit(error)) return exportFailure(NebVdb::kExportFailed, error.c_str());
  return ExportResult();
}

ExportResult run(const FrameTask& task, neb_frame* frame, const Options& o, FrameOutcome& outcome) {
  const std::vector<GridPlan> plans = planGrids(NebVdb::storedChannels(frame), o.naming);
  openvdb::Mat4d matrix;
  if (!NebVdb::gridIndexToWorld(frame, o.naming.zUp, matrix))
    return exportFailure(NebVdb::kExportBadTransform, NebVdb::kSingularTransformReason);

  std::string reports;
  std::vector<openvdb::GridBase::Ptr> volumes;
  NebVdb::GridBuildSettings settings;
  settings.tolerance = o.tolerance;
  settings.dense = o.dense;
  const NebVdb::FrameSlabs slabs(frame);
  const ExportResult built = NebVdb::FrameGridBuilder(slabs, settings).build(plans, reports, volumes);
  if (built.code != NebVdb::kExportOk) return built;
  openvdb::GridCPtrVec grids;
  for (const openvdb::GridBase::Ptr& g : volumes) {
    g->setTransform(openvdb::math::Transform::createLinearTransform(matrix));
    g->setSaveFloatAsHalf(o.half);
    grids.push_back(g);
  }
  openvdb::GridCPtrVec points;
  if (o.particles) {
    const int groups = neb_frame_group_count(frame);
    for (int g = 0; g < groups; ++g) {
      neb_group* group = nullptr;
      if (neb_frame_group(frame, g, &group) != NEB_OK) continue;
      const std::string original = groupName(group);
      std::string name = original;
      const auto renamed = o.naming.renames.find(name);
      if (renamed != o.naming.renames.end()) name = renamed->second;
      if (!groupSelected(o, original, name)) continue;
      size_t leftOut = 0;
      points.push_back(makePointDataGrid(group, *openvdb::math::Transform::createLinearTransform(matrix), name,
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
    if (written.code != NebVdb::kExportOk) return written;
  }
  return writeFile(task.destination, grids, metadata, o, outcome.bytesWritten);
}

}  // namespace

FrameOutcome FrameExporter::exportFrame(const FrameTask& task, neb_frame* frame) const {
  FrameOutcome outcome;
  outcome.result = NebVdb::guardedVdbWrite([&] { return run(task, frame, options_, outcome); });
  if (outcome.result.code == NebVdb::kExportWriteFailed)
    outcome.result.reason = "cannot write " + task.destination;
  return outcome;
}

}  // namespace Neb2Vdb
