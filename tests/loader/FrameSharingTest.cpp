// Frames handed out by the shared library: sharing, reference counts, unshared frames
// and load failures, observed as a host sees them plus the library's own reports.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "nebloader.h"
#include "support/LoaderTestSupport.h"

using loadertest::LibraryReports;
using loadertest::TempDir;

namespace {

// A small nebu2 frame: nx x 2 x 2 cells with a smoke channel.
bool writeFrame(const std::string& path, int frameNumber, int nx = 4) {
  NebWriter w;
  w.setGridSize(nx, 2, 2);
  std::vector<float> smoke(static_cast<size_t>(nx) * 4);
  for (size_t i = 0; i < smoke.size(); ++i) smoke[i] = static_cast<float>(i) * 0.25f;
  w.setFrameNumber(frameNumber);
  return w.addChannel(2, smoke.data()) && w.write(path.c_str());
}

class FrameSharing : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("smoke_0001.neb");
    ASSERT_TRUE(writeFrame(path, 1));
    ASSERT_TRUE(loadertest::setModificationTime(path, 1500000000));
  }
  TempDir dir;
  std::string path;
};

int gridX(INeb* frame) {
  int size[3] = {0, 0, 0};
  frame->getGridSize(size);
  return size[0];
}

}  // namespace

TEST(FrameExports, VersionNumber) { EXPECT_EQ(OstraneSDKGetVersionNumber(), 201216u); }

TEST_F(FrameSharing, SameUnchangedFileIsOneObjectCountedTwice) {
  LibraryReports reports;
  INeb* a = newINeb(path.c_str());
  ASSERT_NE(a, nullptr);
  INeb* b = newINeb(path.c_str());
  EXPECT_EQ(a, b);
  EXPECT_EQ(reports.count("refCount=1 "), 1);
  EXPECT_EQ(reports.count(" 2, I:0, " + path + "\n"), 1) << reports.text();
  EXPECT_TRUE(a->hasChannel(2));
  ASSERT_NE(a->getChannel(2), nullptr);
  EXPECT_NEAR(a->getChannel(2)[3], 0.75f, 1e-3f);  // lossy grid codec

  deleteINeb(a);
  EXPECT_EQ(reports.count("refCount-- "), 1);
  EXPECT_EQ(gridX(b), 4);  // still alive for its second holder
  deleteINeb(b);
  EXPECT_EQ(reports.count("refCount-- "), 2);
  EXPECT_EQ(reports.count(" 0, I:0, " + path + "\n"), 1) << reports.text();

  // Destroyed and unlisted: the next request loads again.
  INeb* c = newINeb(path.c_str());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(reports.count("refCount=1 "), 2);
  deleteINeb(c);
}

TEST_F(FrameSharing, RewrittenFileWithLaterTimeLoadsNewObject) {
  INeb* before = newINeb(path.c_str());
  ASSERT_NE(before, nullptr);
  ASSERT_TRUE(writeFrame(path, 1, 6));
  ASSERT_TRUE(loadertest::setModificationTime(path, 1500000000));
  // Same recorded time: the change is not noticed and the registered object is reused.
  INeb* sameTime = newINeb(path.c_str());
  EXPECT_EQ(sameTime, before);
  deleteINeb(sameTime);

  ASSERT_TRUE(loadertest::setModificationTime(path, 1500000010));
  INeb* after = newINeb(path.c_str());
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, before);
  EXPECT_EQ(gridX(before), 4);  // the first holder keeps the old frame
  EXPECT_EQ(gridX(after), 6);
  // Both entries coexist; each request finds the one matching the current file.
  INeb* again = newINeb(path.c_str());
  EXPECT_EQ(again, after);
  deleteINeb(again);
  deleteINeb(after);
  deleteINeb(before);
}

TEST_F(FrameSharing, MappingTextIsPartOfTheKey) {
  INeb* nullMapping = newINebWithChannelsMapping(path.c_str(), nullptr);
  INeb* emptyMapping = newINebWithChannelsMapping(path.c_str(), "");
  INeb* other = newINebWithChannelsMapping(path.c_str(), "2,density;");
  ASSERT_NE(nullMapping, nullptr);
  EXPECT_EQ(nullMapping, emptyMapping);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, nullMapping);
  // newINeb uses the default (native) mapping text: yet another key.
  INeb* byDefault = newINeb(path.c_str());
  EXPECT_NE(byDefault, nullMapping);
  EXPECT_NE(byDefault, other);
  for (INeb* f : {nullMapping, emptyMapping, other, byDefault}) deleteINeb(f);
}

TEST_F(FrameSharing, PathTextIsComparedByteForByte) {
  std::string other = dir.path() + "//smoke_0001.neb";
  INeb* a = newINeb(path.c_str());
  INeb* b = newINeb(other.c_str());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  deleteINeb(a);
  deleteINeb(b);
}

TEST_F(FrameSharing, MaxVoxMinusOneSharesLikeNewINeb) {
  INeb* a = newINeb(path.c_str());
  INeb* b = newINebMaxVox(path.c_str(), -1, false);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  deleteINeb(b);
  deleteINeb(a);
}

TEST_F(FrameSharing, HeaderOnlyAndVoxelLimitedFramesAreUnsharedAndDestroyedByDelete) {
  LibraryReports reports;
  INeb* shared = newINeb(path.c_str());
  INeb* header1 = newINebMaxVox(path.c_str(), -1, true);
  INeb* header2 = newINebMaxVox(path.c_str(), -1, true);
  INeb* limited = newINebMaxVox(path.c_str(), 1000, false);
  INeb* limitedMapped = newINebWithChannelsMappingMaxVox(path.c_str(), "", 1000, false);
  ASSERT_NE(shared, nullptr);
  ASSERT_NE(header1, nullptr);
  ASSERT_NE(header2, nullptr);
  ASSERT_NE(limited, nullptr);
  ASSERT_NE(limitedMapped, nullptr);
  EXPECT_NE(header1, header2);
  EXPECT_NE(header1, shared);
  EXPECT_NE(limited, shared);
  // Only the shared one was registered.
  EXPECT_EQ(reports.count("refCount=1 "), 1);
  // A header-only frame describes the grid but has no channel data.
  EXPECT_EQ(gridX(header1), 4);
  EXPECT_EQ(header1->getChannel(2), nullptr);
  EXPECT_NE(limited->getChannel(2), nullptr);

  deleteINeb(header1);
  EXPECT_EQ(reports.count(" 0, I:1, " + path + "\n"), 1) << reports.text();
  deleteINeb(limited);
  deleteINeb(limitedMapped);
  EXPECT_EQ(reports.count(" 0, I:0, " + path + "\n"), 2) << reports.text();
  // The shared frame is untouched by all that.
  EXPECT_EQ(gridX(shared), 4);
  deleteINeb(header2);
  deleteINeb(shared);
  EXPECT_EQ(reports.count("refCount-- "), 5);
}

TEST_F(FrameSharing, DeleteIgnoresNullAndForeignPointers) {
  class NotAFrame : public INeb {
   public:
    const float* getChannel(int) override { return nullptr; }
    int hasChannel(int) override { return 0; }
    void getGridSize(int out[3]) override { out[0] = out[1] = out[2] = 7; }
    void getTransform(float*) override {}
    int getParticleGroupCount() override { return 0; }
    IOstranePrtGroup* getParticleGroup(int) override { return nullptr; }
    IOstranePrtGroup* findParticleGroup(const char*) override { return nullptr; }
  } foreign;
  LibraryReports reports;
  deleteINeb(nullptr);
  deleteINeb(&foreign);
  EXPECT_EQ(reports.count("refCount"), 0);
  EXPECT_EQ(gridX(&foreign), 7);
}

TEST_F(FrameSharing, CapitalExtensionSelectsTheSameReader) {
  std::string upper = dir.file("SMOKE_0002.NEB");
  ASSERT_TRUE(writeFrame(upper, 2));
  INeb* f = newINeb(upper.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(gridX(f), 4);
  deleteINeb(f);
}

TEST_F(FrameSharing, FailedLoadsGiveNullAndRegisterNothing) {
  LibraryReports reports;
  EXPECT_EQ(newINeb(nullptr), nullptr);
  EXPECT_EQ(newINeb(""), nullptr);
  EXPECT_EQ(newINebWithChannelsMapping(nullptr, "2,density;"), nullptr);
  EXPECT_EQ(newINeb(dir.file("missing_0001.neb").c_str()), nullptr);

  std::string text = dir.file("notes.txt");
  ASSERT_TRUE(loadertest::writeText(text, "not a frame"));
  EXPECT_EQ(newINeb(text.c_str()), nullptr);

  std::string garbage = dir.file("garbage_0001.neb");
  ASSERT_TRUE(loadertest::writeText(garbage, std::string(300, '\x5a')));
  EXPECT_EQ(newINeb(garbage.c_str()), nullptr);

  // Footer cut off: the file ends early.
  std::string bytes = loadertest::readText(path);
  ASSERT_GT(bytes.size(), 16u);
  std::string noFooter = dir.file("nofooter_0001.neb");
  ASSERT_TRUE(loadertest::writeText(noFooter, bytes.substr(0, bytes.size() - 8)));
  EXPECT_EQ(newINeb(noFooter.c_str()), nullptr);

  // Broken in the middle: the second half is gone, the footer still points into it.
  std::string broken = dir.file("broken_0001.neb");
  std::string damaged = bytes.substr(0, bytes.size() / 2) + bytes.substr(bytes.size() - 16);
  ASSERT_TRUE(loadertest::writeText(broken, damaged));
  EXPECT_EQ(newINeb(broken.c_str()), nullptr);
  EXPECT_EQ(newINebMaxVox(broken.c_str(), -1, true), nullptr);

  EXPECT_EQ(reports.count("refCount=1 "), 0) << reports.text();
}
