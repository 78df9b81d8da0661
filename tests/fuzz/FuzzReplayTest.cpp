// Every input that ever made a fuzz target fail, replayed through that target's entry
// function: tests/fuzz/regressions/<target>/* (the folder name is the target name). Under
// the sanitizer build a fault comes back as the sanitizer's report.
//
// Built twice: test_fuzz_replay links the layers statically and replays the targets of the
// reader and, on Linux (NEB_REPLAY_F3DPORT), the Field3D plug-in's readers linked with
// them; test_fuzz_replay_vdbport (NEB_REPLAY_VDBPORT) links libnebloader.so alone, as a
// host does, and replays the OpenVDB plug-in's inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTarget.h"

#if defined(NEB_REPLAY_VDBPORT)
int nebFuzz_vdbport(const uint8_t*, size_t);
#else
int nebFuzz_frame(const uint8_t*, size_t);
int nebFuzz_grid_block(const uint8_t*, size_t);
int nebFuzz_entropy(const uint8_t*, size_t);
int nebFuzz_zip_block(const uint8_t*, size_t);
int nebFuzz_particle_methods(const uint8_t*, size_t);
int nebFuzz_channel_mappings(const uint8_t*, size_t);
int nebFuzz_paths(const uint8_t*, size_t);
int nebFuzz_c_interface(const uint8_t*, size_t);
#if defined(NEB_REPLAY_F3DPORT)
int nebFuzz_f3dport(const uint8_t*, size_t);
#endif
#endif

namespace {

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Target kTargets[] = {
#if defined(NEB_REPLAY_VDBPORT)
    {"vdbport", nebFuzz_vdbport},
#else
    {"frame", nebFuzz_frame},
    {"c_interface", nebFuzz_c_interface},
    {"grid_block", nebFuzz_grid_block},
    {"entropy", nebFuzz_entropy},
    {"zip_block", nebFuzz_zip_block},
    {"particle_methods", nebFuzz_particle_methods},
    {"channel_mappings", nebFuzz_channel_mappings},
    {"paths", nebFuzz_paths},
#if defined(NEB_REPLAY_F3DPORT)
    {"f3dport", nebFuzz_f3dport},
#endif
#endif
};

TEST(FuzzReplay, EveryRegressionInputRunsCleanly) {
  namespace fs = std::filesystem;
  const fs::path root = NEB_FUZZ_REGRESSIONS;
  ASSERT_TRUE(fs::is_directory(root)) << root;
  for (const Target& t : kTargets) {
    const fs::path dir = root / t.name;
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
      SCOPED_TRACE(f.string());
      std::ifstream in(f, std::ios::binary);
      ASSERT_TRUE(in) << f;
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(t.run(bytes.data(), bytes.size()), 0);
    }
  }
  // Every folder names a target of this program or of the other replay program.
  for (const fs::directory_entry& e : fs::directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "vdbport" || name == "frame" || name == "grid_block" || name == "entropy" ||
                name == "zip_block" || name == "particle_methods" || name == "channel_mappings" || name == "paths" ||
                name == "c_interface" || name == "f3dport")
        << "regressions of an unknown target: " << name;
  }
}

}  // namespace
