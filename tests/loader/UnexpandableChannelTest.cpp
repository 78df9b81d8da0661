// A particle channel whose stored record cannot be expanded costs the host that channel
// only: the frame loads, its grid and other groups are whole, and the channel access fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "nebloader.h"
#include "support/LoaderTestSupport.h"

using loadertest::LibraryReports;
using loadertest::TempDir;

TEST(UnexpandableChannel, OnlyThatChannelIsUnavailable) {
  const int n = 100;
  std::vector<float> positions(3 * n);
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<float>(i);
  const std::vector<float> smoke(16, 0.5f);
  const char junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    int method;
    int bytes;  // of junk; 0 is an empty record
    const char* report;
  };
  const Case cases[] = {
      {1, 0, nullptr},  // empty zlib payload: nothing stored, the channel is absent
      {1, 8, "Error decompressing particle channel 2 with method 1\n"},
      {2, 8, "Error decompressing particle channel 2 with method 2\n"},
      {3, 8, "Error decompressing particle channel 2 with method 3\n"},
      {4, 8, "Error decompressing particle channel 2 with method 4\n"},
      {9, 8, nullptr},  // unknown method: fails without a message
  };
  TempDir dir;
  int index = 0;
  for (const Case& c : cases) {
    const std::string path = dir.file("frame_" + std::to_string(++index) + ".neb");
    NebWriter w;
    w.setGridSize(4, 2, 2);
    ASSERT_TRUE(w.addChannel(2, smoke.data()));
    const int bad = w.addGroup("bad", n);
    const int good = w.addGroup("good", n);
    ASSERT_TRUE(w.setGroupChannel(bad, 0, positions.data()));
    ASSERT_TRUE(w.setGroupChannelStored(bad, 2, c.method, junk, c.bytes));
    ASSERT_TRUE(w.setGroupChannel(good, 0, positions.data(), 1));
    ASSERT_TRUE(w.write(path.c_str()));

    LibraryReports reports;
    INeb* frame = newINeb(path.c_str());
    ASSERT_NE(nullptr, frame) << c.method << " " << reports.text();
    ASSERT_NE(nullptr, frame->getChannel(2)) << c.method;
    EXPECT_EQ(0.5f, frame->getChannel(2)[15]);
    ASSERT_EQ(2, frame->getParticleGroupCount()) << c.method;
    IOstranePrtGroup* b = frame->findParticleGroup("bad");
    IOstranePrtGroup* g = frame->findParticleGroup("good");
    ASSERT_NE(nullptr, b);
    ASSERT_NE(nullptr, g);
    float v[3] = {0, 0, 0};
    EXPECT_EQ(c.bytes > 0, b->hasChannel(2)) << c.method;
    EXPECT_FALSE(b->getParticleValue(0, 2, v)) << c.method;
    EXPECT_FALSE(b->getParticleValue(n - 1, 2, v)) << c.method;  // a second attempt fails alike
    ASSERT_TRUE(b->getParticleValue(n - 1, 0, v)) << c.method;
    EXPECT_EQ(positions[3 * n - 1], v[2]);
    ASSERT_TRUE(g->getParticleValue(1, 0, v)) << c.method;
    EXPECT_EQ(positions[4], v[1]);
    if (c.report) {
      EXPECT_NE(std::string::npos, reports.text().find(c.report)) << c.method << reports.text();
    }
    deleteINeb(frame);
  }
}
