// --skip-existing keeps an output only while it records the source's state and the options
// of the run: what re-simulating a cache, another cache of the same name, other options
// and a damaged output do to a sequence converted before.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "Neb2VdbTestSupport.h"

namespace {

const int kSize[3] = {8, 8, 8};
constexpr time_t kSecond = 1600000000;  // every source's modification time, before a change

bool setModified(const std::string& path, long nanoseconds, time_t seconds = kSecond) {
  const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int64_t recordedInt(const std::string& vdb, const char* name) {
  const VdbFile f = readVdbFile(vdb);
  return f.opened ? f.metadata->metaValue<int64_t>(name) : -1;
}

std::string recordedText(const std::string& vdb, const char* name) {
  const VdbFile f = readVdbFile(vdb);
  return f.opened ? f.metadata->metaValue<std::string>(name) : "";
}

struct Case {
  const char* what;
  // Changes the sources or outputs of frames 0 and 1 (converted from s_####.neb into
  // o_####.vdb); returns the source pattern and options of the run that follows.
  std::function<void(const TempDir&, std::string& source, std::vector<std::string>& options)> change;
  int exitCode;
  const char* summary;  // what standard output holds
  std::function<void(const TempDir&)> check;
};

}  // namespace

TEST(Neb2VdbSourceState, SkipExistingRedoesExactlyTheOutputsThatAreOutOfDate) {
  const Case cases[] = {
      {"nothing changed", [](const TempDir&, std::string&, std::vector<std::string>&) {}, 0,
       "2 frames: 0 converted, 2 skipped, 0 failed; 0 B read", nullptr},
      {"frame 1 re-simulated",
       [](const TempDir& dir, std::string&, std::vector<std::string>&) {
         ASSERT_TRUE(writeTestFrame(numbered(dir, "s", 1, "neb"), kSize, {2, 1}, true, 7));
       },
       0, "2 frames: 1 converted, 1 skipped, 0 failed; 1 redone as out of date;",
       [](const TempDir& dir) {
         struct stat st;
         ASSERT_EQ(stat(numbered(dir, "s", 1, "neb").c_str(), &st), 0);
         EXPECT_EQ(recordedInt(numbered(dir, "o", 1, "vdb"), "source_size"), int64_t(st.st_size));
         EXPECT_TRUE(readVdbFile(numbered(dir, "o", 1, "vdb")).find("Sparks"));
       }},
      // The same bytes written again within the same second: only the nanoseconds differ.
      {"frame 1 rewritten with the same size in the same second",
       [](const TempDir& dir, std::string&, std::vector<std::string>&) {
         ASSERT_TRUE(setModified(numbered(dir, "s", 1, "neb"), 200));
       },
       0, "2 frames: 1 converted, 1 skipped, 0 failed; 1 redone as out of date;",
       [](const TempDir& dir) {
         EXPECT_EQ(recordedInt(numbered(dir, "o", 1, "vdb"), "source_mtime_ns"), int64_t(kSecond) * 1000000000 + 200);
       }},
      // The same files (bytes and times) in another folder.
      {"another cache of the same name",
       [](const TempDir& dir, std::string& source, std::vector<std::string>&) {
         ASSERT_EQ(mkdir((dir / "other").c_str(), 0777), 0);
         for (int f = 0; f < 2; ++f) {
           const std::string copy = dir / ("other/s_000" + std::to_string(f) + ".neb");
           ASSERT_TRUE(dir.touch("other/s_000" + std::to_string(f) + ".neb", fileBytes(numbered(dir, "s", f, "neb"))));
           ASSERT_TRUE(setModified(copy, 100));
         }
         source = dir / "other/s_####.neb";
       },
       0, "2 frames: 2 converted, 0 skipped, 0 failed; 2 redone as out of date;",
       [](const TempDir& dir) {
         EXPECT_EQ(recordedText(numbered(dir, "o", 0, "vdb"), "source_path"), dir / "other/s_0000.neb");
       }},
      {"other output options",
       [](const TempDir&, std::string&, std::vector<std::string>& options) { options.push_back("--half"); }, 0,
       "2 frames: 2 converted, 0 skipped, 0 failed; 2 redone as out of date;", nullptr},
      {"output of frame 1 cut short",
       [](const TempDir& dir, std::string&, std::vector<std::string>&) {
         ASSERT_EQ(truncate(numbered(dir, "o", 1, "vdb").c_str(), 90), 0);
       },
       0, "2 frames: 1 converted, 1 skipped, 0 failed; 1 redone as out of date;", nullptr},
      // A stale output whose conversion fails is not left to pass for the frame.
      {"frame 1 re-simulated into a damaged file",
       [](const TempDir& dir, std::string&, std::vector<std::string>&) {
         ASSERT_TRUE(dir.touch("s_0001.neb", "not a cache"));
       },
       1, "2 frames: 0 converted, 1 skipped, 1 failed;",
       [](const TempDir& dir) {
         struct stat st;
         EXPECT_NE(stat(numbered(dir, "o", 1, "vdb").c_str(), &st), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (int f = 0; f < 2; ++f) {
      ASSERT_TRUE(writeTestFrame(numbered(dir, "s", f, "neb"), kSize, {2}, false, f));
      ASSERT_TRUE(setModified(numbered(dir, "s", f, "neb"), 100));
    }
    const std::string target = dir / "o_####.vdb";
    ASSERT_EQ(runNeb2vdb({"-q", "--skip-existing", "--frames", "0-1", dir / "s_####.neb", target}).exitCode, 0);
    std::string source = dir / "s_####.neb";
    std::vector<std::string> options{"--skip-existing", "--frames", "0-1"};
    c.change(dir, source, options);
    options.push_back(source);
    options.push_back(target);
    const ProgramResult run = runNeb2vdb(options);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.out.find(c.summary), std::string::npos) << run.out;
    if (c.check) c.check(dir);
  }
}
