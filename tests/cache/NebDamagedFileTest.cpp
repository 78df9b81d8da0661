// Damaged files: a small frame using every part of the container, cut at every offset and
// hit by random byte flips (fixed seed). Every load ends with a status and no crash,
// overrun or runaway allocation (the sanitizer build runs these), and whatever loaded can
// be read completely.
#include <gtest/gtest.h>

#include <random>

#include "NebTestFiles.h"
#include "ostutils/MemoryLimit.h"
#include "particles/PGroup.h"
#include "support/ReportCapture.h"

namespace {

std::vector<char> richFrame(int blockTag) {
  NebWriter w;
  w.setGridSize(4, 3, 2);
  w.setFrameNumber(17);
  const std::vector<float> smoke = testField(24, 0.5f);
  const std::vector<float> fuel = testField(24, -1.0f);
  w.addChannel(2, smoke.data());
  w.addChannel(10, fuel.data());
  uint32_t rgb[24];
  for (int i = 0; i < 24; ++i) rgb[i] = 0x00010203u * static_cast<uint32_t>(i);
  w.addPackedColour(rgb);
  unsigned char props[20] = {1, 2, 3};
  w.setPropsBlock(props, sizeof props);
  w.setChunkText("damaged");
  w.addChannelRange(2, 0.0f, 1.0f);
  w.addChannelValue64(2, 99);
  float pos[5 * 3];
  int64_t ids[5] = {3, 1, 4, 1, 5};
  float density[5] = {1, 2, 3, 4, 5};
  for (int i = 0; i < 15; ++i) pos[i] = static_cast<float>(i) * 0.5f;
  int g = w.addGroup("Spray", 5, 1);
  w.setGroupChannel(g, 0, pos, 3);
  w.setGroupChannel(g, 2, density, 1);
  w.setGroupChannel(g, 10, ids, 4);
  w.setParticleLayout(blockTag == 0, true, blockTag);
  return writerBytes(w);
}

// Touches everything a host could read.
void readAll(OstraneFrameData& frame) {
  for (int c = -1; c <= 32; ++c) {
    frame.hasChannel(c);
    frame.getChannel(c);
  }
  for (int i = 0; i < frame.groups.size; ++i) {
    PGroup& g = frame.groups[i];
    unsigned char value[12];
    for (int slot = 0; slot < 32; ++slot) {
      for (int p = -1; p <= 6; ++p) g.getParticleValue(p, slot, value);
    }
    g.findParticleById(4);
  }
  frame.getParticleGroupCount();
  frame.findParticleGroup("Spray");
}

// A flipped grid size or particle count may legitimately ask for gigabytes (the format lets
// a few bytes claim any number of cells); the memory budget, lowered here to what a small
// test may take, is what bounds them.
class NebDamage : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { OSTUtils::setMemoryLimitBytes(64 << 20); }
  void TearDown() override { OSTUtils::setMemoryLimitBytes(0); }
};

TEST_P(NebDamage, EveryTruncationFailsCleanly) {
  ReportCapture quiet;
  const std::vector<char> whole = richFrame(GetParam());
  ASSERT_FALSE(whole.empty());
  {
    OstraneFrameData frame;
    ASSERT_EQ(0, loadBytes(frame, whole));
  }
  TempNebFile file;
  for (size_t length = 0; length < whole.size(); ++length) {
    ASSERT_TRUE(file.writeBytes(whole.data(), length));
    OstraneFrameData frame;
    const int status = frame.ImportNeb(file.path(), true, false);
    // Without its footer a cut file is never taken for a complete one.
    if (length < 8) {
      EXPECT_EQ(4, status) << length;
    } else {
      EXPECT_EQ(12, status) << length;
    }
    readAll(frame);
  }
}

TEST_P(NebDamage, RandomByteFlipsFailCleanly) {
  ReportCapture quiet;
  const std::vector<char> whole = richFrame(GetParam());
  std::mt19937 random(20240607u + static_cast<unsigned>(GetParam()));
  TempNebFile file;
  int loaded = 0, broken = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<char> bytes = whole;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < flips; ++k) {
      bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
    }
    ASSERT_TRUE(file.writeBytes(bytes));
    for (bool headerOnly : {false, true}) {
      OstraneFrameData frame;
      const int status = frame.ImportNeb(file.path(), true, headerOnly);
      EXPECT_TRUE(status == 0 || status == 3 || status == 4 || status == 12) << status;
      if (status == 0) {
        ++loaded;
        readAll(frame);
      } else {
        ++broken;
        EXPECT_EQ(nullptr, frame.comprData);
      }
    }
  }
  // Both outcomes occur, so the damage reaches parsing and data alike.
  EXPECT_GT(loaded, 0);
  EXPECT_GT(broken, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, NebDamage, ::testing::Values(0, 7, 13));

}  // namespace
