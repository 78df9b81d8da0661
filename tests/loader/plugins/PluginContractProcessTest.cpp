// The loader's side of the plug-in contract where one process per case is needed: the
// plug-in table is process-wide and a module once loaded is never loaded again, so each
// case runs the probe program (support/PluginProbe.cpp) in a fresh process, with module
// copies under the composed names in temporary directories.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/LoaderTestSupport.h"
#include "support/ProcessRun.h"

using loadertest::TempDir;
using loadertest::writeText;

namespace {

const char* const kGood = NEB_FAKEPORT_PATH;
const char* const kNoRelease = NEB_FAKEPORT_NORELEASE_PATH;
const char* const kMapping = "2,density;1,temperature;";
const char* const kBothChannels = "ok 1=1 2=1 10=0";

struct ProbeRun : testsupport::ProcessRun {
  // The text after "<key> " on the line starting with it, or "" when there is none.
  std::string line(const std::string& key) const {
    std::string head = key + " ";
    size_t at = out.compare(0, head.size(), head) == 0 ? 0 : out.find("\n" + head);
    if (at == std::string::npos) return "";
    if (at != 0) ++at;
    size_t from = at + head.size();
    return out.substr(from, out.find('\n', from) - from);
  }
};

// Runs the probe with `env` (NAME=VALUE words) added to a cleaned environment: the
// in-process tests of the same program toggle the stand-in's switches.
ProbeRun runProbe(const std::string& env, const std::vector<std::string>& args) {
  std::string cmd = "env -u FAKEPORT_INIT_FAIL -u FAKEPORT_REFUSE ASAN_OPTIONS=detect_leaks=0 " + env +
                    " " + testsupport::shellQuoted(NEB_PLUGIN_PROBE);
  for (const std::string& a : args) cmd += " " + testsupport::shellQuoted(a);
  ProbeRun run;
  static_cast<testsupport::ProcessRun&>(run) = testsupport::runCommand(cmd);
  return run;
}

// Module directories and two fake volume files, one per format.
class PluginContractProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    vdb = root.file("smoke.vdb");
    f3d = root.file("smoke.f3d");
    ASSERT_TRUE(writeText(vdb, "grid density 0\ngrid temperature 0\n"));
    ASSERT_TRUE(writeText(f3d, "grid density 0\ngrid temperature 0\n"));
  }

  std::string makeDir(const std::string& name) {
    std::string path = root.file(name);
    EXPECT_TRUE(testsupport::makeDirectory(path)) << path;
    return path;
  }

  // Copies `module` as <dir>/<fileName>.
  void put(const std::string& dir, const std::string& fileName, const char* module) {
    ASSERT_TRUE(loadertest::copyFile(module, dir + "/" + fileName)) << fileName;
  }

  // Runs the probe with both volume files: load 0 is the .vdb, load 1 the .f3d.
  ProbeRun probeWithImports(const std::string& env, const std::string& paths, const std::string& suffix,
                            const std::string& form) {
    return runProbe(env, {paths, suffix, form, vdb, kMapping, f3d, kMapping});
  }

  TempDir root;
  std::string vdb, f3d;
};

// The probe ran to its end: both finalisations returned.
#define EXPECT_FINISHED(run)                                                      \
  do {                                                                            \
    EXPECT_EQ((run).exitCode, 0) << (run).out;                                    \
    EXPECT_NE((run).out.find("\nfinalized\n"), std::string::npos) << (run).out;   \
  } while (0)

// The probe finished with this initialisation result and these outcomes of the .vdb
// import (load 0) and the .f3d import (load 1).
void expectOutcome(const ProbeRun& run, const std::string& init, const std::string& vdbLoad,
                   const std::string& f3dLoad) {
  EXPECT_FINISHED(run);
  EXPECT_EQ(run.line("init"), init) << run.out;
  EXPECT_EQ(run.line("load 0"), vdbLoad) << run.out;
  EXPECT_EQ(run.line("load 1"), f3dLoad) << run.out;
}

}  // namespace

TEST_F(PluginContractProcess, ProbeImportsThroughBothGoodModules) {
  // The baseline the other cases deviate from.
  std::string dir = makeDir("plugins");
  put(dir, "f3dport_test.so", kGood);
  put(dir, "vdbport_test.so", kGood);
  ProbeRun run = probeWithImports("", dir, "test", "none");
  expectOutcome(run, "3", kBothChannels, kBothChannels);
}

TEST_F(PluginContractProcess, FailedInitializeDisablesTheModules) {
  std::string dir = makeDir("plugins");
  put(dir, "f3dport_test.so", kGood);
  put(dir, "vdbport_test.so", kGood);
  ProbeRun run = probeWithImports("FAKEPORT_INIT_FAIL=1", dir, "test", "none");
  expectOutcome(run, "0", "null", "null");

  // With a manager nothing is ready to take it; finalising must not call into the
  // disabled modules.
  ProbeRun managed = probeWithImports("FAKEPORT_INIT_FAIL=1", dir, "test", "manager");
  EXPECT_FINISHED(managed);
  EXPECT_EQ(managed.line("init"), "0") << managed.out;
  EXPECT_EQ(managed.line("load 0"), "null") << managed.out;
  EXPECT_EQ(managed.line("manager calls"), "0") << managed.out;
}

TEST_F(PluginContractProcess, MissingEntryPointDisablesOnlyThatModule) {
  std::string dir = makeDir("plugins");
  put(dir, "f3dport_test.so", kGood);
  put(dir, "vdbport_test.so", kNoRelease);
  ProbeRun run = probeWithImports("", dir, "test", "none");
  expectOutcome(run, "1", "null", kBothChannels);

  // The manager goes to the ready module only, and finalising must skip the disabled one
  // (its ReleaseThreadManager does not exist).
  ProbeRun managed = probeWithImports("", dir, "test", "manager");
  expectOutcome(managed, "1", "null", kBothChannels);
}

TEST_F(PluginContractProcess, MissingEntryPointInTheF3dModule) {
  std::string dir = makeDir("plugins");
  put(dir, "f3dport_test.so", kNoRelease);
  put(dir, "vdbport_test.so", kGood);
  ProbeRun run = probeWithImports("", dir, "test", "manager");
  expectOutcome(run, "2", kBothChannels, "null");
}

TEST_F(PluginContractProcess, OnlyTheVdbModulePresent) {
  std::string dir = makeDir("plugins");
  put(dir, "vdbport_test.so", kGood);
  ProbeRun run = probeWithImports("", dir, "test", "none");
  expectOutcome(run, "2", kBothChannels, "null");
}

TEST_F(PluginContractProcess, RefusedManagerGivesZero) {
  std::string dir = makeDir("plugins");
  put(dir, "f3dport_test.so", kGood);
  put(dir, "vdbport_test.so", kGood);
  ProbeRun refused = probeWithImports("FAKEPORT_REFUSE=1", dir, "test", "manager");
  EXPECT_FINISHED(refused);
  EXPECT_EQ(refused.line("init"), "0") << refused.out;

  ProbeRun accepted = probeWithImports("", dir, "test", "manager");
  EXPECT_FINISHED(accepted);
  EXPECT_EQ(accepted.line("init"), "3") << accepted.out;
  EXPECT_EQ(accepted.line("manager calls"), "0") << accepted.out;

  // Only a manager actually handed over can be refused.
  ProbeRun without = probeWithImports("FAKEPORT_REFUSE=1", dir, "test", "none");
  EXPECT_FINISHED(without);
  EXPECT_EQ(without.line("init"), "3") << without.out;
  ProbeRun nullManager = probeWithImports("FAKEPORT_REFUSE=1", dir, "test", "null");
  EXPECT_FINISHED(nullManager);
  EXPECT_EQ(nullManager.line("init"), "3") << nullManager.out;
}

TEST_F(PluginContractProcess, SearchPathsSkipEmptyPiecesAndAcceptTrailingSeparators) {
  std::string dir = makeDir("plugins");
  std::string missing = root.file("missing");
  put(dir, "f3dport_test.so", kGood);
  put(dir, "vdbport_test.so", kGood);
  for (const std::string& paths : {";" + dir, dir + ";", ";;" + dir + ";;", missing + ";;" + dir + "/",
                                   dir + "//", missing + "/;" + dir + "/;" + missing}) {
    ProbeRun run = probeWithImports("", paths, "test", "none");
    EXPECT_FINISHED(run);
    EXPECT_EQ(run.line("init"), "3") << paths << "\n" << run.out;
    EXPECT_EQ(run.line("load 0"), kBothChannels) << paths << "\n" << run.out;
  }
  for (const std::string& paths : {std::string(), std::string(";;;"), missing + ";" + missing + "/"}) {
    ProbeRun run = probeWithImports("", paths, "test", "none");
    EXPECT_FINISHED(run);
    EXPECT_EQ(run.line("init"), "0") << paths << "\n" << run.out;
    EXPECT_EQ(run.line("load 0"), "null") << paths << "\n" << run.out;
  }
}

TEST_F(PluginContractProcess, FirstDirectoryHoldingTheComposedNameWins) {
  // `first` holds a disabled-on-load module, so the result tells which copy was loaded.
  std::string first = makeDir("first");
  std::string second = makeDir("second");
  put(first, "vdbport_other.so", kNoRelease);
  put(second, "vdbport_other.so", kGood);
  put(second, "vdbport_test.so", kGood);

  // `first` has the module only under another suffix: the copy in `second` is loaded.
  ProbeRun skipped = probeWithImports("", first + ";" + second, "test", "none");
  EXPECT_FINISHED(skipped);
  EXPECT_EQ(skipped.line("init"), "2") << skipped.out;
  EXPECT_EQ(skipped.line("load 0"), kBothChannels) << skipped.out;

  ProbeRun firstWins = probeWithImports("", first + ";" + second, "other", "none");
  EXPECT_FINISHED(firstWins);
  EXPECT_EQ(firstWins.line("init"), "0") << firstWins.out;
  EXPECT_EQ(firstWins.line("load 0"), "null") << firstWins.out;

  ProbeRun reversed = probeWithImports("", second + ";" + first, "other", "none");
  EXPECT_FINISHED(reversed);
  EXPECT_EQ(reversed.line("init"), "2") << reversed.out;
}

TEST_F(PluginContractProcess, NothingFoundWithManagerAndFinalizeIsHarmless) {
  std::string dir = makeDir("empty");
  ProbeRun run = probeWithImports("", dir, "test", "manager");
  expectOutcome(run, "0", "null", "null");
  EXPECT_EQ(run.line("manager calls"), "0") << run.out;
}

TEST_F(PluginContractProcess, WithoutSearchPathsOrSuffixTheSystemSearchApplies) {
  std::string plugins = makeDir("plugins");
  std::string systemDir = makeDir("system");
  put(plugins, "f3dport_test.so", kGood);
  put(plugins, "vdbport_test.so", kGood);
  put(systemDir, "vdbport_test.so", kGood);
  put(systemDir, "f3dport.so", kGood);
  const std::string libraryPath = "LD_LIBRARY_PATH=" + testsupport::shellQuoted(systemDir);

  // No search paths: the bare composed name goes to the dynamic loader's own search.
  ProbeRun bare = probeWithImports(libraryPath, "-", "test", "none");
  EXPECT_FINISHED(bare);
  EXPECT_EQ(bare.line("init"), "2") << bare.out;
  EXPECT_EQ(bare.line("load 0"), kBothChannels) << bare.out;

  // No suffix: "<stem>.so" through the system search; the search paths play no part.
  ProbeRun noSuffix = probeWithImports(libraryPath, plugins, "-", "none");
  EXPECT_FINISHED(noSuffix);
  EXPECT_EQ(noSuffix.line("init"), "1") << noSuffix.out;
  EXPECT_EQ(noSuffix.line("load 1"), kBothChannels) << noSuffix.out;

  ProbeRun unset = probeWithImports("", "-", "test", "none");
  EXPECT_FINISHED(unset);
  EXPECT_EQ(unset.line("init"), "0") << unset.out;
}
