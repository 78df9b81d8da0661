// The grids built slab by slab from a frame's file (in slabs of 8 layers, and in the
// automatic slabs: one for this small frame) against those built from its whole channels:
// the same grids, written the same file byte for byte (apart from its UUID), for every
// codec layout and output option.
#include "Neb2VdbTestSupport.h"

#include "compress/GridBlockWriter.h"
#include "nebloader_c.h"
#include "tools/neb2vdb/Options.h"
#include "vdb/FrameGridBuilder.h"
#include "vdb/VdbFileWriter.h"

namespace {

// OpenVDB's header: magic (8), file version (4), library version (8), offsets flag (1),
// then the 36 characters of the file's UUID.
std::string withoutUuid(std::string bytes) {
  if (bytes.size() >= 57) bytes.replace(21, 36, 36, '-');
  return bytes;
}

bool writeFrame(const std::string& path, int version, int64_t zoneLength, int zoneSlices) {
  const int size[3] = {21, 19, 35};
  NebWriter w;
  w.setVersion(version);
  if (version < 5) w.setGridCompressor(3);
  OSTUtils::GridBlockOptions o = OSTUtils::defaultGridBlockOptions();
  o.zoneLength = zoneLength;
  o.zoneSlices = zoneSlices;
  w.setGridBlockOptions(o);
  w.setGridSize(size[0], size[1], size[2]);
  w.setTransform(kFrameTransform);
  w.setFrameNumber(3);
  for (int c : {1, 2, 4, 5, 6, 10})
    if (!w.addChannel(c, channelValues(c, 3, size).data())) return false;
  std::vector<uint32_t> rgb(size_t(size[0]) * size[1] * size[2]);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = (i % 7 == 0) ? 0u : uint32_t(i * 40503u) & 0xFFFFFFu;
  return w.addPackedColour(rgb.data()) && w.write(path.c_str());
}

TEST(Neb2VdbStreaming, SameFileAsFromWholeChannels) {
  openvdb::initialize();
  struct Layout {
    int version;
    int64_t zoneLength;
    int zoneSlices;
  } layouts[] = {{5, 1000, 0}, {5, 1 << 20, 0}, {4, 500, 3}};
  const std::vector<std::vector<std::string>> optionSets = {
      {}, {"--dense", "--up-axis", "z"}, {"--preset", "blender"}, {"--preset", "native", "--half", "--tolerance", "0.3"}};
  TempDir dir;
  for (const Layout& l : layouts) {
    const std::string source = dir / "frame_0003.neb";
    ASSERT_TRUE(writeFrame(source, l.version, l.zoneLength, l.zoneSlices));
    for (const std::vector<std::string>& extra : optionSets) {
      std::vector<const char*> argv{"neb2vdb"};
      for (const std::string& a : extra) argv.push_back(a.c_str());
      argv.push_back(source.c_str());
      argv.push_back("out.vdb");
      Neb2Vdb::Options options;
      std::string error;
      ASSERT_EQ(Neb2Vdb::ParseOutcome::kRun, Neb2Vdb::parseOptions(int(argv.size()), argv.data(), options, error)) << error;
      NebVdb::GridBuildSettings settings;
      settings.tolerance = options.tolerance;
      settings.dense = options.dense;
      const std::string names[] = {"whole.vdb", "slabs8.vdb", "slabs.vdb"};
      const int layers[] = {NebVdb::FrameSlabs::kWholeChannels, 8, NebVdb::FrameSlabs::kAutomatic};
      for (int k = 0; k < 3; ++k) {
        // Whole channels come from a frame loaded whole; slabs from one left in its file.
        const bool whole = layers[k] == NebVdb::FrameSlabs::kWholeChannels;
        neb_open_options open{};
        open.size = sizeof open;
        open.flags = NEB_OPEN_UNSHARED | (whole ? 0 : NEB_OPEN_GRID_IN_FILE);
        neb_frame* frame = nullptr;
        ASSERT_EQ(NEB_OK, neb_frame_open_with(source.c_str(), &open, &frame));
        const auto plans = Neb2Vdb::planGrids(NebVdb::storedChannels(frame), options.naming);
        const NebVdb::FrameSlabs slabs(frame, layers[k]);
        ASSERT_EQ(whole, slabs.whole());
        std::string reports;
        std::vector<openvdb::GridBase::Ptr> built;
        ASSERT_EQ(NebVdb::kExportOk, NebVdb::FrameGridBuilder(slabs, settings).build(plans, reports, built).code)
            << reports;
        openvdb::GridCPtrVec grids;
        for (const openvdb::GridBase::Ptr& g : built) {
          g->setSaveFloatAsHalf(options.half);
          grids.push_back(g);
        }
        NebVdb::writeVdbFile(dir / names[k], grids, openvdb::MetaMap());
        neb_frame_close(frame);
      }

      const std::string a = fileBytes(dir / names[0]);
      EXPECT_GT(a.size(), 1000u);
      for (int k = 1; k < 3; ++k)
        EXPECT_TRUE(withoutUuid(a) == withoutUuid(fileBytes(dir / names[k])))
            << names[k] << " version " << l.version << " zones " << l.zoneLength << " options " << extra.size();
    }
  }
}

}  // namespace
