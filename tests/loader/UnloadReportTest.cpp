// Frames still held when the library is unloaded are reported and destroyed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "support/LoaderTestSupport.h"

TEST(UnloadReport, HeldFramesReportedLastToFirstAtProcessExit) {
  loadertest::TempDir dir;
  std::vector<float> smoke(8, 1.0f);
  for (int frame : {7, 9}) {
    NebWriter w;
    w.setGridSize(2, 2, 2);
    w.setFrameNumber(frame);
    ASSERT_TRUE(w.addChannel(2, smoke.data()));
    ASSERT_TRUE(w.write(dir.file("f_000" + std::to_string(frame) + ".neb").c_str()));
  }
  std::string report = dir.file("report.txt");
  // Leak checking is not what this child is for; the frames are destroyed at unload anyway.
  std::string cmd = "ASAN_OPTIONS=detect_leaks=0 '" + std::string(NEB_UNLOAD_PROBE) + "' '" + report + "' '" +
                    dir.file("f_0007.neb") + "' '" + dir.file("f_0009.neb") + "' > /dev/null";
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  std::string text = loadertest::readText(report);
  // Registry order is [7, 9]; reported last to first, then the unshared header-only frame.
  size_t nine = text.find("Ostrane cache file not released 9 ref:1\n");
  size_t seven = text.find("Ostrane cache file not released 7 ref:2\n");
  size_t header = text.rfind("Ostrane cache file not released 9 ref:1\n");
  ASSERT_NE(nine, std::string::npos) << text;
  ASSERT_NE(seven, std::string::npos) << text;
  EXPECT_LT(nine, seven);
  EXPECT_GT(header, seven) << text;
}
