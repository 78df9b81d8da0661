#include "tools/volconvert/VdbFrameExporter.h"

#include <mutex>
#include <new>
#include <stdexcept>

#include <openvdb/openvdb.h>

#include "nebloader.h"
#include "vdb/DenseFloatTree.h"
#include "vdb/FrameTransform.h"
#include "vdb/VdbFileWriter.h"
#include "vdb/VdbWriteGuard.h"

namespace VolConvert {

namespace {

struct GridRow {
  int channel;
  const char* name;
};

// File order. Rows 3..5 and 6..8 are all-or-nothing groups.
constexpr GridRow kGridTable[] = {
    {NEB_CHANNEL_SMOKE, "Smoke_ost"},       {NEB_CHANNEL_TEMPERATURE, "Temperature_ost"},
    {NEB_CHANNEL_FUEL, "Fuel_ost"},         {NEB_CHANNEL_VELOCITY_X, "VelocityX_ost"},
    {NEB_CHANNEL_VELOCITY_Y, "VelocityY_ost"}, {NEB_CHANNEL_VELOCITY_Z, "VelocityZ_ost"},
    {NEB_CHANNEL_COLOR_R, "ColorR_ost"},    {NEB_CHANNEL_COLOR_G, "ColorG_ost"},
    {NEB_CHANNEL_COLOR_B, "ColorB_ost"}};
constexpr int kGridRows = sizeof(kGridTable) / sizeof(kGridTable[0]);

}  // namespace

struct VdbFrameExporter::Impl {
  NebVdb::DenseFloatTree trees[kGridRows];  // per table row, kept for the next frame
  ExportResult run(const std::string& path, INeb& frame);
};

VdbFrameExporter::VdbFrameExporter() : impl_(new Impl) {
  static std::once_flag once;
  std::call_once(once, [] { openvdb::initialize(); });
}

VdbFrameExporter::~VdbFrameExporter() = default;

void VdbFrameExporter::releaseCachedTrees() {
  for (NebVdb::DenseFloatTree& tree : impl_->trees) tree.clear();
}

ExportResult VdbFrameExporter::exportFrame(const std::string& path, INeb& frame) {
  const ExportResult result = NebVdb::guardedVdbWrite([&] { return impl_->run(path, frame); });
  if (result.code != kExportOk) releaseCachedTrees();
  return result;
}

namespace {

// Which table rows a frame exports: present channels, groups whole or not at all.
void exportedRows(INeb& frame, bool wanted[kGridRows]) {
  for (int i = 0; i < kGridRows; ++i) wanted[i] = frame.hasChannel(kGridTable[i].channel) != 0;
  const bool velocity = wanted[3] && wanted[4] && wanted[5];
  const bool colour = wanted[6] && wanted[7] && wanted[8];
  for (int i = 3; i < 6; ++i) wanted[i] = velocity;
  for (int i = 6; i < 9; ++i) wanted[i] = colour;
}

}  // namespace

ExportResult VdbFrameExporter::Impl::run(const std::string& path, INeb& frame) {
  bool wanted[kGridRows];
  exportedRows(frame, wanted);

  int size[3] = {0, 0, 0};
  frame.getGridSize(size);

  // Every channel first: a missing one fails the frame before any grid is built.
  const float* values[kGridRows] = {};
  for (int i = 0; i < kGridRows; ++i) {
    if (!wanted[i]) continue;
    values[i] = frame.getChannel(kGridTable[i].channel);
    if (!values[i]) return exportFailure(kExportChannelUnavailable, "");
  }

  float t[12];
  frame.getTransform(t);
  openvdb::Mat4d matrix;
  if (!NebVdb::indexToWorldMatrix(t, matrix)) return exportFailure(kExportBadTransform, NebVdb::kSingularTransformReason);

  openvdb::GridCPtrVec grids;
  for (int i = 0; i < kGridRows; ++i) {
    if (!wanted[i]) {
      trees[i].clear();  // keep only what the sequence still uses
      continue;
    }
    trees[i].fill(values[i], size);
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(trees[i].tree());
    grid->setName(kGridTable[i].name);
    // Each grid owns its transform object, all made from the same matrix.
    grid->setTransform(openvdb::math::Transform::createLinearTransform(matrix));
    grids.push_back(grid);
  }

  openvdb::MetaMap metadata;
  metadata.insertMeta("OstraneVDBVer", openvdb::Int32Metadata(0));
  NebVdb::writeVdbFile(path, grids, metadata);
  return ExportResult();
}

}  // namespace VolConvert
