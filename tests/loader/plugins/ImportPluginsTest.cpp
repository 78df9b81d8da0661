// Loading the import plug-ins and importing through them, with a stand-in plug-in module
// (support/FakePort.cpp) copied under the names the loader composes. The plug-in table is
// process-wide and modules stay loaded, so the test that needs no module to be found runs
// first; the others load the modules themselves (a second load is a no-op).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "nebloader.h"
#include "nebloader_c.h"
#include "support/LoaderTestSupport.h"

using loadertest::LibraryReports;
using loadertest::TempDir;
using loadertest::writeText;

namespace {

class IdleManager : public ZUtils::ThreadManager {
 public:
  void terminateThreads(bool) override {}
  int runOnThreads(int, ZUtils::ThreadProcedure*, ZUtils::ThreadProgress*, bool) override { return 0; }
  void setLowPriority(int) override {}
  int runProcedure(ZUtils::ThreadProcedure*, int) override { return 0; }
  void setStackSize(int) override {}
  int currentThreadIndex() override { return -1; }
};

// Directories: `empty` holds nothing, `plugins` the two module copies.
struct PluginDirs {
  PluginDirs() {
    emptyDir = root.file("empty");
    pluginDir = root.file("plugins");
    testsupport::makeDirectory(emptyDir);
    testsupport::makeDirectory(pluginDir);
    f3d = pluginDir + "/f3dport_test" + loadertest::kModuleExtension;
    vdb = pluginDir + "/vdbport_test" + loadertest::kModuleExtension;
    copied = loadertest::copyFile(NEB_FAKEPORT_PATH, f3d) && loadertest::copyFile(NEB_FAKEPORT_PATH, vdb);
  }
  TempDir root;
  std::string emptyDir, pluginDir, f3d, vdb;
  bool copied = false;
};

PluginDirs& dirs() {
  static PluginDirs* d = new PluginDirs;
  return *d;
}

int loadPlugins() {
  std::string paths = dirs().emptyDir + ";;" + dirs().pluginDir;
  return initalizeNebuLoader(paths.c_str(), "test", 0);
}

// Sum of the thread-manager calls seen by both module copies.
void managerCalls(int& set, int& release) {
  set = release = 0;
  for (const std::string& path : {dirs().f3d, dirs().vdb}) {
    auto counters = reinterpret_cast<void (*)(int*, int*)>(loadertest::loadedModuleSymbol(path, "FakePortCounters"));
    ASSERT_NE(counters, nullptr) << path;
    int s = 0, r = 0;
    counters(&s, &r);
    set += s;
    release += r;
  }
}

std::string defaultMapping(const std::string& path) {
  char buffer[512];
  EXPECT_EQ(nebGenerateDefaultChannelMappings(buffer, sizeof buffer, path.c_str()), 1);
  return buffer;
}

class ImportPlugins : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dirs().copied);
    ASSERT_EQ(loadPlugins(), 3);
  }
  TempDir files;
};

}  // namespace

TEST(ImportPluginsAbsent, NothingFoundGivesZeroAndForeignLoadsFail) {
  ASSERT_TRUE(dirs().copied);
  IdleManager manager;
  EXPECT_EQ(initalizeNebuLoader(dirs().emptyDir.c_str(), "test", 0), 0);
  EXPECT_EQ(initalizeNebuLoader(dirs().emptyDir.c_str(), "test", 0, &manager), 0);
  // Without a suffix the platform's own search runs (and finds nothing here).
  EXPECT_EQ(initalizeNebuLoader(dirs().pluginDir.c_str(), nullptr, 0), 0);
  finalizeNebuLoader();

  TempDir d;
  std::string vdb = d.file("a.vdb");
  ASSERT_TRUE(writeText(vdb, "grid density 0\n"));
  EXPECT_EQ(newINebWithChannelsMapping(vdb.c_str(), "2,density;"), nullptr);
}

TEST_F(ImportPlugins, SearchPathWithEmptyPieceFindsBothModules) {
  // Loaded in SetUp through "<empty>;;<plugins>"; a second call keeps the loaded modules.
  EXPECT_EQ(loadPlugins(), 3);
  std::string withSlash = dirs().pluginDir + "/";
  EXPECT_EQ(initalizeNebuLoader(withSlash.c_str(), "test", 0), 3);
}

// The C interface's form: a pool of its own with the given thread count, handed to both
// plug-ins, stopped again by neb_finalize.
TEST_F(ImportPlugins, CInitializeHandsAPoolOfTheGivenThreadCount) {
  const int environment = neb_default_thread_count();
  int set0, release0;
  managerCalls(set0, release0);
  EXPECT_EQ(neb_initialize(dirs().pluginDir.c_str(), "test", environment + 2), 3);
  EXPECT_EQ(neb_default_thread_count(), environment + 2);
  int set1, release1;
  managerCalls(set1, release1);
  EXPECT_EQ(set1 - set0, 2);
  neb_finalize();
  EXPECT_EQ(neb_initialize(dirs().pluginDir.c_str(), "test", 0), 3);
  EXPECT_EQ(neb_default_thread_count(), environment);
  neb_finalize();
  int set2, release2;
  managerCalls(set2, release2);
  EXPECT_EQ(set2 - set1, 2);
  EXPECT_EQ(release2 - release0, 4);
}

TEST_F(ImportPlugins, ManagerHandedToBothPluginsAndRefused) {
  IdleManager manager;
  int set0, release0;
  managerCalls(set0, release0);

  EXPECT_EQ(initalizeNebuLoader(dirs().pluginDir.c_str(), "test", 0, &manager), 3);
  int set1, release1;
  managerCalls(set1, release1);
  EXPECT_EQ(set1 - set0, 2);
  finalizeNebuLoader();
  managerCalls(set1, release1);
  EXPECT_EQ(release1 - release0, 2);

  testsupport::setEnv("FAKEPORT_REFUSE", "1");
  EXPECT_EQ(initalizeNebuLoader(dirs().pluginDir.c_str(), "test", 0, &manager), 0);
  testsupport::unsetEnv("FAKEPORT_REFUSE");
  finalizeNebuLoader();
  int set2, release2;
  managerCalls(set2, release2);
  EXPECT_EQ(set2 - set1, 2);
  EXPECT_EQ(release2 - release1, 2);

  // Finalising without any registration only asks the plug-ins to release.
  finalizeNebuLoader();
  int set3, release3;
  managerCalls(set3, release3);
  EXPECT_EQ(set3, set2);
  EXPECT_EQ(release3 - release2, 2);
}

TEST_F(ImportPlugins, ImportDeliversMappedGrids) {
  std::string vdb = files.file("fire_0003.vdb");
  ASSERT_TRUE(writeText(vdb, "size 3 2 2\ngrid density 0\ngrid temperature 0\ngrid other 0\n"));
  INeb* f = newINebWithChannelsMapping(vdb.c_str(), "2,density;1,temperature;");
  ASSERT_NE(f, nullptr);
  int size[3];
  f->getGridSize(size);
  EXPECT_EQ(size[0], 3);
  EXPECT_EQ(size[2], 2);
  EXPECT_EQ(f->hasChannel(2), 1);
  EXPECT_EQ(f->hasChannel(1), 1);
  EXPECT_EQ(f->hasChannel(10), 0);
  ASSERT_NE(f->getChannel(2), nullptr);
  EXPECT_FLOAT_EQ(f->getChannel(2)[11], 2.5f);
  EXPECT_FLOAT_EQ(f->getChannel(1)[0], 1.5f);
  float t[12];
  f->getTransform(t);
  EXPECT_FLOAT_EQ(t[9], -1.0f);  // no voxel limit reached the plug-in
  // Shared like nebu2 frames.
  EXPECT_EQ(newINebWithChannelsMapping(vdb.c_str(), "2,density;1,temperature;"), f);
  deleteINeb(f);
  deleteINeb(f);

  INeb* limited = newINebWithChannelsMappingMaxVox(vdb.c_str(), "2,density;", 5000, false);
  ASSERT_NE(limited, nullptr);
  limited->getTransform(t);
  EXPECT_FLOAT_EQ(t[9], 5000.0f);
  deleteINeb(limited);

  std::string f3d = files.file("fire_0003.F3D");
  ASSERT_TRUE(writeText(f3d, "grid density 0\n"));
  INeb* g = newINebWithChannelsMapping(f3d.c_str(), "2,density;");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->hasChannel(2), 1);
  deleteINeb(g);
}

TEST_F(ImportPlugins, IncompleteVelocityIsDroppedWhole) {
  std::string vdb = files.file("vel.vdb");
  ASSERT_TRUE(writeText(vdb, "grid vel.x 0\ngrid vel.y 0\ngrid density 0\n"));
  INeb* f = newINebWithChannelsMapping(vdb.c_str(), "4,vel.x;5,vel.y;6,vel.z;2,density;");
  ASSERT_NE(f, nullptr);
  for (int c = 3; c <= 6; ++c) {
    EXPECT_EQ(f->hasChannel(c), 0) << c;
    EXPECT_EQ(f->getChannel(c), nullptr) << c;
  }
  EXPECT_EQ(f->hasChannel(2), 1);
  deleteINeb(f);

  std::string full = files.file("full.vdb");
  ASSERT_TRUE(writeText(full, "grid vel.x 0\ngrid vel.y 0\ngrid vel.z 0\n"));
  INeb* g = newINebWithChannelsMapping(full.c_str(), "4,vel.x;5,vel.y;6,vel.z;");
  ASSERT_NE(g, nullptr);
  for (int c = 4; c <= 6; ++c) EXPECT_EQ(g->hasChannel(c), 1) << c;
  ASSERT_NE(g->getChannel(6), nullptr);
  EXPECT_FLOAT_EQ(g->getChannel(6)[0], 6.5f);
  deleteINeb(g);
}

TEST_F(ImportPlugins, FailuresGiveNull) {
  LibraryReports reports;
  std::string vdb = files.file("bad.vdb");
  ASSERT_TRUE(writeText(vdb, "grid density 0\nstatus 7\n"));
  EXPECT_EQ(newINebWithChannelsMapping(vdb.c_str(), "2,density;"), nullptr);

  std::string good = files.file("good.vdb");
  ASSERT_TRUE(writeText(good, "grid density 0\n"));
  EXPECT_EQ(newINebWithChannelsMapping(good.c_str(), nullptr), nullptr);
  EXPECT_EQ(newINebWithChannelsMapping(good.c_str(), "no entries"), nullptr);
  EXPECT_EQ(reports.count("Trying to import VDB files with no mappings specified!\n"), 2);
  std::string f3d = files.file("good.f3d");
  ASSERT_TRUE(writeText(f3d, "grid density 0\n"));
  EXPECT_EQ(newINebWithChannelsMapping(f3d.c_str(), ""), nullptr);
  EXPECT_EQ(reports.count("Trying to import F3D files with no mappings specified!\n"), 1);
  EXPECT_EQ(reports.count("refCount=1"), 0);
}

TEST_F(ImportPlugins, SurveyAndDefaultMappingOfAVdbFile) {
  std::string vdb = files.file("mist.vdb");
  ASSERT_TRUE(writeText(vdb, "grid vel.x 0\ngrid vel.y 0\ngrid vel.z 0\ngrid mist 0\n"));
  EXPECT_EQ(defaultMapping(vdb), "4,vel.x;5,vel.y;6,vel.z;2,mist;");

  INeb* f = newINeb(vdb.c_str());
  ASSERT_NE(f, nullptr);
  for (int c : {2, 4, 5, 6}) EXPECT_EQ(f->hasChannel(c), 1) << c;
  deleteINeb(f);

  std::string both = files.file("both.vdb");
  ASSERT_TRUE(writeText(both, "grid density 0\ngrid mist 0\n"));
  EXPECT_EQ(defaultMapping(both), "2,density;");
  std::string twoUnknown = files.file("two.vdb");
  ASSERT_TRUE(writeText(twoUnknown, "grid mist 0\ngrid fog 0\n"));
  EXPECT_EQ(defaultMapping(twoUnknown), "2,mist;");
  // Only the first unflagged candidate counts; a flagged grid is never smoke.
  std::string flagged = files.file("flagged.vdb");
  ASSERT_TRUE(writeText(flagged, "grid mask 1\ngrid fog 0\n"));
  EXPECT_EQ(defaultMapping(flagged), "2,fog;");
  std::string tableTraps = files.file("traps.vdb");
  ASSERT_TRUE(writeText(tableTraps, "grid VelocitiesY 0\ngrid VelocitiesZ 0\ngrid surface 0\ngrid Density 1\n"));
  EXPECT_EQ(defaultMapping(tableTraps), "6,VelocitiesY;5,VelocitiesZ;1,surface;");
}

TEST_F(ImportPlugins, SurveyOfAnF3dSequenceAndChannelListing) {
  ASSERT_TRUE(writeText(files.file("seq_0001.f3d"), "grid VelocitiesX 0\ngrid heat 1\n"));
  ASSERT_TRUE(writeText(files.file("seq_0002.f3d"), "grid Density 0\ngrid VelocitiesX 0\ngrid VelocitiesZ 0\n"));
  std::string pattern = files.file("seq_####.f3d");
  EXPECT_EQ(defaultMapping(pattern), "6,VelocitiesX;2,Density;4,VelocitiesZ;");

  char name[64];
  int flag = -1;
  EXPECT_EQ(nebGet3rdPartyChannelName(name, sizeof name, &flag, pattern.c_str(), 1), 1);
  EXPECT_STREQ(name, "heat");
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(nebGet3rdPartyChannelName(name, sizeof name, &flag, pattern.c_str(), 3), 1);
  EXPECT_STREQ(name, "VelocitiesZ");
  EXPECT_EQ(flag, 0);
  char small[4];
  EXPECT_EQ(nebGet3rdPartyChannelName(small, sizeof small, &flag, pattern.c_str(), 2), 0);
  EXPECT_STREQ(small, "Den");
  EXPECT_EQ(nebGet3rdPartyChannelName(name, sizeof name, &flag, pattern.c_str(), 4), -1);

  // The only grid outside the table is flagged: no smoke fallback.
  std::string onlyFlagged = files.file("flag.f3d");
  ASSERT_TRUE(writeText(onlyFlagged, "grid fuel 0\ngrid heat 1\n"));
  EXPECT_EQ(defaultMapping(onlyFlagged), "10,fuel;");
}
