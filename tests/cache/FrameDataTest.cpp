// The frame object: construction and load defaults, clearing, and the particle-group
// queries of INeb.
#include <gtest/gtest.h>

#include <cstring>

#include "NebTestFiles.h"
#include "particles/PGroup.h"

namespace {

uint32_t bitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

TEST(FrameDefaults, NewAndLoadDefaultsDiffer) {
  OstraneFrameData frame;
  EXPECT_EQ(INT32_MIN, frame.frameNumber);
  EXPECT_EQ(INT32_MAX, frame.version);
  EXPECT_EQ(0.0f, frame.tag5Float);
  EXPECT_EQ(0.0f, frame.tag9Float);
  EXPECT_EQ(0x60AD78ECu, bitsOf(frame.bboxMin[1]));
  EXPECT_EQ(0xE0AD78ECu, bitsOf(frame.bboxMax[2]));
  EXPECT_EQ(0x7F7FFFFFu, bitsOf(frame.channelSlots[3].minimum));
  EXPECT_EQ(0x80800000u, bitsOf(frame.channelSlots[3].maximum));
  EXPECT_EQ(-1, frame.channelValues64[31]);
  const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(identity, frame.transform, 48));
  EXPECT_EQ(0, std::memcmp(identity, frame.auxTransforms[2], 48));
  EXPECT_EQ(0.0f, frame.auxTransforms[1][0]);

  frame.channelMask = 5;
  frame.auxTransforms[0][3] = 9.0f;
  frame.setPropsValue(3.5);
  frame.ResetForLoad(true);
  EXPECT_EQ(4u, frame.flags);
  EXPECT_EQ(0, frame.channelMask);
  EXPECT_EQ(0x3D088889u, bitsOf(frame.tag5Float));
  EXPECT_EQ(0x3A83126Fu, bitsOf(frame.tag9Float));
  EXPECT_EQ(0.0f, frame.auxTransforms[0][3]);
  EXPECT_EQ(0.0, frame.propsValue());
  EXPECT_EQ(INT32_MAX, frame.version);  // unchanged until a footer is read
}

TEST(FrameDefaults, PropsValueIsBytes8To15) {
  OstraneFrameData frame;
  frame.setPropsValue(-2.25);
  double d;
  std::memcpy(&d, frame.propsBlock + 8, 8);
  EXPECT_EQ(-2.25, d);
  EXPECT_EQ(0, frame.propsBlock[7]);
  EXPECT_EQ(0, frame.propsBlock[16]);
}

TEST(FrameClear, ClearFrameDataFreesLoadProducts) {
  NebWriter w;
  w.setGridSize(1, 1, 1);
  const float v = 1.0f;
  ASSERT_TRUE(w.addChannel(2, &v));
  w.setChunkText("x");
  w.addGroup("g", 0);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  ASSERT_NE(nullptr, frame.getChannel(2));
  frame.channelIntArrays[4].SetSize(3);
  frame.ClearFrameData();
  EXPECT_EQ(nullptr, frame.comprData);
  EXPECT_EQ(0, frame.comprDataSzInts);
  EXPECT_EQ(0, frame.groups.size);
  EXPECT_EQ("", frame.chunkText);
  EXPECT_EQ(0, frame.channelIntArrays[4].size);
  // Decoded channels stay until the slots are emptied.
  EXPECT_TRUE(frame.channelSlots[2].loaded);
  frame.EmptyChannelSlots();
  EXPECT_FALSE(frame.channelSlots[2].loaded);
}

TEST(FrameGroups, CountedGroupsHavePositionsNamesMatchExactly) {
  const float pos[3] = {1, 2, 3};
  NebWriter w;
  w.addGroup("NoPositions", 1);
  int a = w.addGroup("A", 1);
  w.addGroup("", 0);
  int b = w.addGroup("B", 1);
  ASSERT_TRUE(w.setGroupChannel(a, 0, pos));
  ASSERT_TRUE(w.setGroupChannel(b, 0, pos));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(2, frame.getParticleGroupCount());
  ASSERT_NE(nullptr, frame.getParticleGroup(0));
  EXPECT_STREQ("A", frame.getParticleGroup(0)->getName());
  EXPECT_STREQ("B", frame.getParticleGroup(1)->getName());
  EXPECT_EQ(nullptr, frame.getParticleGroup(2));
  EXPECT_EQ(nullptr, frame.getParticleGroup(-1));
  ASSERT_NE(nullptr, frame.findParticleGroup("NoPositions"));
  EXPECT_EQ(0, frame.findParticleGroup("NoPositions")->getParticleCount());
  EXPECT_EQ(nullptr, frame.findParticleGroup("NoPosition"));
  EXPECT_EQ(nullptr, frame.findParticleGroup("a"));
  EXPECT_EQ(&frame.groups[2], frame.findParticleGroup(nullptr));
  EXPECT_EQ(&frame.groups[2], frame.findParticleGroup(""));
}

TEST(FrameGroups, NameWithEmbeddedNulIsNotAPrefixMatch) {
  OstraneFrameData frame;
  ASSERT_TRUE(frame.groups.SetSize(1));
  ASSERT_TRUE(frame.groups[0].setName("ab\0c", 4));
  EXPECT_EQ(nullptr, frame.findParticleGroup("ab"));
}

}  // namespace
