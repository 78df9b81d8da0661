// AtomicFile and makeFolderFor through the platform layer, on every system: output that
// appears under its name only when committed, and leaves nothing behind otherwise.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "zutils/platform/AtomicFile.h"
#include "zutils/platform/File.h"
#include "zutils/platform/Misc.h"

using ZUtils::platform::AtomicFile;

namespace {

bool writeText(const std::string& path, const std::string& text) {
  FILE* f = ZUtils::platform::openFile(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

std::string readText(const std::string& path) {
  FILE* f = ZUtils::platform::openFile(path.c_str(), "rb");
  if (!f) return "<missing>";
  std::string text;
  char buf[256];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

// The folder's entries other than "." and "..".
std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names, found;
  ZUtils::platform::listDirectory(folder.c_str(), &found);
  for (const std::string& n : found)
    if (n != "." && n != "..") names.push_back(n);
  return names;
}

}  // namespace

TEST(AtomicFile, DataAppearUnderTheNameOnlyWhenCommitted) {
  TempDir dir;
  const std::string destination = dir / "frame_0001.vdb";
  AtomicFile file;
  std::string error;
  ASSERT_TRUE(file.open(destination, error)) << error;
  ASSERT_TRUE(writeText(file.writePath(), "complete"));
  EXPECT_FALSE(ZUtils::platform::fileExists(destination.c_str()));
  EXPECT_EQ(file.size(), 8);
  ASSERT_TRUE(file.commit(error)) << error;
  EXPECT_EQ(readText(destination), "complete");
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"frame_0001.vdb"});
}

TEST(AtomicFile, CommitReplacesAnOlderFile) {
  TempDir dir;
  const std::string destination = dir / "frame_0001.vdb";
  ASSERT_TRUE(writeText(destination, "old"));
  AtomicFile file;
  std::string error;
  ASSERT_TRUE(file.open(destination, error)) << error;
  ASSERT_TRUE(writeText(file.writePath(), "new"));
  EXPECT_EQ(readText(destination), "old");
  ASSERT_TRUE(file.commit(error)) << error;
  EXPECT_EQ(readText(destination), "new");
  EXPECT_EQ(entries(dir.path()).size(), 1u);
}

TEST(AtomicFile, UncommittedDataLeaveNothing) {
  TempDir dir;
  {
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.open(dir / "frame_0001.vdb", error)) << error;
    ASSERT_TRUE(writeText(file.writePath(), "partial"));
  }
  EXPECT_TRUE(entries(dir.path()).empty());
}

// What the interruption handlers rely on: a file still open for writing can be removed by
// its name (on Windows too, where openFile shares files for deletion; there the name stays
// until the file is closed).
TEST(PlatformOpenFile, AnOpenFileCanBeRemovedByName) {
  TempDir dir;
  const std::string path = dir / ".frame_0001.vdb.part";
  FILE* f = ZUtils::platform::openFile(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_GE(std::fputs("partial", f), 0);
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::remove(std::filesystem::u8path(path), ec)) << ec.message();
  EXPECT_GE(std::fputs(" data", f), 0);
  EXPECT_EQ(std::fclose(f), 0);
  EXPECT_TRUE(entries(dir.path()).empty());
}

TEST(AtomicFile, OpenInAMissingFolderFailsNamingIt) {
  TempDir dir;
  AtomicFile file;
  std::string error;
  EXPECT_FALSE(file.open(dir / "missing/frame_0001.vdb", error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

TEST(MakeFolderFor, MakesEveryMissingFolderAlsoUnderNonAsciiNames) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(ZUtils::platform::makeFolderFor(dir / "out/\xC3\xBCn\xC3\xAF/\xE9\x9B\xB2/f_0001.vdb", error)) << error;
  AtomicFile file;
  ASSERT_TRUE(file.open(dir / "out/\xC3\xBCn\xC3\xAF/\xE9\x9B\xB2/f_0001.vdb", error)) << error;
  ASSERT_TRUE(writeText(file.writePath(), "x"));
  ASSERT_TRUE(file.commit(error)) << error;
  EXPECT_EQ(entries(dir / "out/\xC3\xBCn\xC3\xAF"), std::vector<std::string>{"\xE9\x9B\xB2"});
  // An existing folder is success; a file where a folder should be is not.
  EXPECT_TRUE(ZUtils::platform::makeFolderFor(dir / "out/f_0002.vdb", error)) << error;
  ASSERT_TRUE(writeText(dir / "plain", "x"));
  EXPECT_FALSE(ZUtils::platform::makeFolderFor(dir / "plain/sub/f_0001.vdb", error));
  EXPECT_NE(error.find("plain"), std::string::npos) << error;
}
