// neb2vdb as a process over sequences: parallel jobs, failing frames, output folders,
// killed runs, usage errors and exit codes, --skip-existing.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "Neb2VdbTestSupport.h"

namespace {

std::set<std::string> filesIn(const TempDir& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.path().c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Offset and length of the file's unique identifier in an OpenVDB header: magic (8),
// file version (4), library version (8), grid-offsets flag (1), then 36 UUID characters.
constexpr size_t kUuidAt = 21, kUuidLength = 36;

}  // namespace

TEST(Neb2VdbSequence, TwoJobsWriteTheSameFilesAsOne) {
  TempDir dir;
  const int size[3] = {24, 17, 9};
  for (int f = 3; f <= 8; ++f) ASSERT_TRUE(writeTestFrame(numbered(dir, "s", f, "neb"), size, {2, 1, 4, 5, 6}, true, f));
  for (const char* jobs : {"1", "2"}) {
    const ProgramResult run = runNeb2vdb({"--jobs", jobs, "--frames", "3-8", dir / "s_####.neb", dir / (std::string("j") + jobs + "_####.vdb")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("6 frames: 6 converted, 0 skipped, 0 failed"), std::string::npos) << run.out;
  }
  for (int f = 3; f <= 8; ++f) {
    std::string one = fileBytes(numbered(dir, "j1", f, "vdb")), two = fileBytes(numbered(dir, "j2", f, "vdb"));
    ASSERT_EQ(one.size(), two.size()) << f;
    ASSERT_GT(one.size(), kUuidAt + kUuidLength);
    EXPECT_NE(one.substr(kUuidAt, kUuidLength), two.substr(kUuidAt, kUuidLength));  // really the identifier
    one.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    two.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    EXPECT_TRUE(one == two) << "frame " << f;
  }
  // Frames listed again share one frame object between the jobs: still the same files.
  const ProgramResult again =
      runNeb2vdb({"--jobs", "2", "--frames", "3,3,3,4,4,3,5-8", dir / "s_####.neb", dir / "r_####.vdb"});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  for (int f = 3; f <= 8; ++f) {
    std::string one = fileBytes(numbered(dir, "j1", f, "vdb")), repeated = fileBytes(numbered(dir, "r", f, "vdb"));
    ASSERT_EQ(one.size(), repeated.size()) << f;
    one.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    repeated.replace(kUuidAt, kUuidLength, kUuidLength, '-');
    EXPECT_TRUE(one == repeated) << "frame " << f;
  }
}

TEST(Neb2VdbSequence, UnreadableAndMissingFramesAreListedAndLeaveNoOutput) {
  TempDir dir;
  const int size[3] = {9, 9, 9};
  ASSERT_TRUE(writeTestFrame(numbered(dir, "s", 1, "neb"), size, {2}, false, 1));
  ASSERT_TRUE(writeTestFrame(numbered(dir, "s", 3, "neb"), size, {2}, false, 3));
  std::FILE* junk = std::fopen(numbered(dir, "s", 2, "neb").c_str(), "wb");
  ASSERT_TRUE(junk);
  std::fputs("NEBU this is no cache frame", junk);
  std::fclose(junk);
  const ProgramResult run = runNeb2vdb({"-j", "2", "--frames=1-4", dir / "s_####.neb", dir / "o_####.vdb"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("frame 2 (" + numbered(dir, "s", 2, "neb") + "): cannot load"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("failed frames: 2, 4\n"), std::string::npos) << run.err;
  EXPECT_EQ(filesIn(dir), (std::set<std::string>{"s_0001.neb", "s_0002.neb", "s_0003.neb", "o_0001.vdb", "o_0003.vdb"}));

  // Missing output folders are made; one that cannot be made fails the frame before it is
  // read (frame 4 has no source, yet the folder is what is reported).
  const ProgramResult made = runNeb2vdb({"-q", "-j", "2", "--frames=1,3", dir / "s_####.neb", dir / "new/sub/o_####.vdb"});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  EXPECT_TRUE(readVdbFile(dir / "new/sub/o_0003.vdb").opened);
  const ProgramResult blocked = runNeb2vdb({"--frames=4", dir / "s_####.neb", dir / "s_0001.neb/sub/o_####.vdb"});
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.err.find("frame 4 (" + numbered(dir, "s", 4, "neb") + "): cannot create the folder " + dir / "s_0001.neb/sub" +
                             ": " + numbered(dir, "s", 1, "neb") + " is not a folder"),
            std::string::npos)
      << blocked.err;

  // Channels are read in slabs (8 layers, at least 2M cells): a frame whose whole channel
  // (18.9 MB) exceeds the memory budget converts, and one whose slab does not fit fails
  // with the budget's report as its reason, the run going on with the next frame.
  const int wide[3] = {768, 768, 9};  // 8 layers of 589824 cells: 18874368 bytes
  const int deep[3] = {96, 96, 512};  // 4718592 cells, slabs of 232 layers: 8.6 MB
  ASSERT_TRUE(writeTestFrame(numbered(dir, "b", 1, "neb"), wide, {2}, false, 1));
  ASSERT_TRUE(writeTestFrame(numbered(dir, "b", 2, "neb"), deep, {2}, false, 2));
  setenv("NEB_MEMORY_LIMIT_MB", "16", 1);
  const ProgramResult refused = runNeb2vdb({"--frames=1-2", dir / "b_####.neb", dir / "p_####.vdb"});
  unsetenv("NEB_MEMORY_LIMIT_MB");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("frame 1 (" + numbered(dir, "b", 1, "neb") +
                             "): cannot decode channel 2: [ERROR] allocation of 18874368 bytes refused: "),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(exists(numbered(dir, "p", 1, "vdb")));
  EXPECT_TRUE(readVdbFile(numbered(dir, "p", 2, "vdb")).opened) << refused.err;
}

TEST(Neb2VdbSequence, KilledRunLeavesOnlyCompleteFiles) {
  TempDir dir;
  const int size[3] = {96, 96, 96};
  for (int f = 0; f < 4; ++f) ASSERT_TRUE(writeTestFrame(numbered(dir, "s", f, "neb"), size, {2, 1, 10, 4, 5, 6}, true, f));
  const std::string source = dir / "s_####.neb", destination = dir / "o_####.vdb";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(NEB2VDB_PATH, NEB2VDB_PATH, "-q", "--jobs", "2", "--dense", "--frames", "0-3", source.c_str(),
          destination.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Killed while the first frames are being written.
  for (int i = 0; i < 4000 && !exists(numbered(dir, "o", 0, "vdb")) && !exists(numbered(dir, "o", 1, "vdb")); ++i)
    usleep(1000);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  for (const std::string& name : filesIn(dir)) {
    if (name.rfind("s_", 0) == 0) continue;
    ASSERT_EQ(name.substr(name.size() - 4), ".vdb") << name << " left behind";
    const VdbFile file = readVdbFile(dir / name);  // complete: every grid reads
    EXPECT_EQ(file.grids.size(), 6u) << name;
  }
}

TEST(Neb2VdbSequence, UsageErrorsHelpAndVersion) {
  const std::vector<std::vector<std::string>> usage = {
      {},
      {"a.neb"},
      {"a.neb", "b.vdb", "c"},
      {"--bogus", "a.neb", "b.vdb"},
      {"--frames", "5-3", "a_#.neb", "b_#.vdb"},
      {"--frames", "1-9x0", "a_#.neb", "b_#.vdb"},
      {"--frames=1,,2", "a_#.neb", "b_#.vdb"},
      {"--frames", "1-3", "a.neb", "b.vdb"},
      {"--preset", "maya", "a.neb", "b.vdb"},
      {"--tolerance", "-1", "a.neb", "b.vdb"},
      {"--compression", "lz4", "a.neb", "b.vdb"},
      {"--channels", "density,", "a.neb", "b.vdb"},
      {"--up-axis", "x", "a.neb", "b.vdb"},
      {"--points-file", "p.vdb", "--no-particles", "a.neb", "b.vdb"},
      {"--frames", "1-3", "--points-file", "p.vdb", "a_#.neb", "b_#.vdb"},
      {"--rename", "density", "a.neb", "b.vdb"},
      {"--jobs", "0", "a.neb", "b.vdb"},
      {"--half=1", "a.neb", "b.vdb"},
      {"a.neb", "b.vdb", "--frames"},
  };
  for (const auto& args : usage) {
    const ProgramResult run = runNeb2vdb(args);
    EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(run.err.rfind("neb2vdb: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
  }
  const ProgramResult help = runNeb2vdb({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: neb2vdb", 0), 0u);
  const ProgramResult version = runNeb2vdb({"-V"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("neb2vdb ", 0), 0u);
}

TEST(Neb2VdbSequence, SkipExistingResumesASequence) {
  TempDir dir;
  const int size[3] = {8, 8, 8};
  for (int f = 0; f < 3; ++f) ASSERT_TRUE(writeTestFrame(numbered(dir, "s", f, "neb"), size, {2}, false, f));
  ASSERT_EQ(runNeb2vdb({"-q", "--frames", "1", dir / "s_####.neb", dir / "o_####.vdb"}).exitCode, 0);
  const std::string earlier = fileBytes(numbered(dir, "o", 1, "vdb"));
  const ProgramResult run = runNeb2vdb({"--skip-existing", "--frames", "0-2", dir / "s_####.neb", dir / "o_####.vdb"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("3 frames: 2 converted, 1 skipped, 0 failed"), std::string::npos) << run.out;
  EXPECT_EQ(fileBytes(numbered(dir, "o", 1, "vdb")), earlier);
  EXPECT_TRUE(readVdbFile(numbered(dir, "o", 2, "vdb")).opened);
  // Without the option an existing file is replaced (each write has its own UUID).
  ASSERT_EQ(runNeb2vdb({"-q", "--frames", "1", dir / "s_####.neb", dir / "o_####.vdb"}).exitCode, 0);
  EXPECT_NE(fileBytes(numbered(dir, "o", 1, "vdb")).substr(kUuidAt, kUuidLength), earlier.substr(kUuidAt, kUuidLength));
}
