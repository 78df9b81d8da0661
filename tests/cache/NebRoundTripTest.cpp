// Frames written by NebWriter read back exactly by ImportNeb: every container version,
// every tag and chunk, every particle storage method and both old-style particle blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "NebTestFiles.h"
#include "particles/PGroup.h"

namespace {

const float kTransform[12] = {2, 0, 0, 0, 3, 0, 0, 0, 4, 1.5f, -2.5f, 7};

class NebRoundTripByVersion : public ::testing::TestWithParam<int> {};

TEST_P(NebRoundTripByVersion, GridTransformAndScalarTagsComeBackExactly) {
  const int version = GetParam();
  NebWriter w;
  w.setVersion(version);
  w.setGridSize(5, 4, 3);
  w.setTransform(kTransform);
  w.setGridBlockOptions(losslessOptions());
  const std::vector<float> smoke = testField(60, 1.0f);
  const std::vector<float> temperature = testField(60, -3.0f);
  ASSERT_TRUE(w.addChannel(2, smoke.data()));
  ASSERT_TRUE(w.addChannel(1, temperature.data()));
  w.setFrameNumber(42);
  w.setTag5(0.04f);
  const float aux[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  w.setAuxTransform(aux);

  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(version, frame.version);
  EXPECT_EQ(42, frame.frameNumber);
  EXPECT_EQ((1 << 1) | (1 << 2), frame.channelMask);
  int size[3];
  frame.getGridSize(size);
  EXPECT_EQ(5, size[0]);
  EXPECT_EQ(4, size[1]);
  EXPECT_EQ(3, size[2]);
  float t[12];
  frame.getTransform(t);
  EXPECT_EQ(0, std::memcmp(t, kTransform, sizeof t));
  EXPECT_EQ(0.04f, frame.tag5Float);
  EXPECT_EQ(0, std::memcmp(frame.auxTransforms[0], aux, sizeof aux));

  const float* s = frame.getChannel(2);
  const float* tt = frame.getChannel(1);
  ASSERT_NE(nullptr, s);
  ASSERT_NE(nullptr, tt);
  EXPECT_EQ(0, std::memcmp(s, smoke.data(), 60 * sizeof(float)));
  EXPECT_EQ(0, std::memcmp(tt, temperature.data(), 60 * sizeof(float)));
}

TEST_P(NebRoundTripByVersion, ChunksComeBackExceptAfterTheGroupTableOfVersion2) {
  const int version = GetParam();
  NebWriter w;
  w.setVersion(version);
  w.setChunkText("made by a test");
  w.addChannelRange(2, -1.0f, 5.0f);
  w.addChannelValue64(3, 0x123456789LL);
  const float pos[6] = {1, 2, 3, -4, -5, -6};
  int g = w.addGroup("Sparks", 2, 7);
  ASSERT_TRUE(w.setGroupChannel(g, 0, pos));

  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  ASSERT_EQ(1, frame.groups.size);
  EXPECT_STREQ("Sparks", frame.groups[0].getName());
  EXPECT_EQ(2, frame.groups[0].particleCount);
  EXPECT_EQ(7, frame.groups[0].groupType);
  EXPECT_EQ(-4.0f, frame.bboxMin[0]);
  EXPECT_EQ(3.0f, frame.bboxMax[2]);
  if (version < 3) {
    // The chunk list of a version-2 file ends after the group table.
    EXPECT_EQ("", frame.chunkText);
    EXPECT_EQ(-1, frame.channelValues64[3]);
    EXPECT_FALSE(frame.groups[0].slotHasData(0));
  } else {
    EXPECT_EQ("made by a test", frame.chunkText);
    EXPECT_EQ(-1.0f, frame.channelSlots[2].minimum);
    EXPECT_EQ(5.0f, frame.channelSlots[2].maximum);
    EXPECT_EQ(0x123456789LL, frame.channelValues64[3]);
    float p[3];
    ASSERT_TRUE(frame.groups[0].getParticleValue(1, 0, p));
    EXPECT_EQ(-5.0f, p[1]);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, NebRoundTripByVersion, ::testing::Values(2, 3, 4, 5, 6));

TEST(NebRoundTrip, PropertyTagsApplyInFileOrder) {
  NebWriter w;
  const unsigned char b16[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const unsigned char b384[8] = {9, 10, 11, 12, 13, 14, 15, 16};
  float aux[3][12] = {};
  aux[1][0] = 5.0f;
  aux[2][11] = -1.0f;
  w.setPropsValueFloat(2.5f);
  w.setTag9(0x01020304, 0.25f);
  w.setTag10(7.75, b16);
  w.setTag11(aux, b384);
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(7.75, frame.propsValue());  // tag 10 comes after tag 8
  int32_t word;
  std::memcpy(&word, frame.propsBlock + 348, 4);
  EXPECT_EQ(0x01020304, word);
  EXPECT_EQ(0.25f, frame.tag9Float);
  EXPECT_EQ(0, std::memcmp(frame.propsBlock + 16, b16, 8));
  EXPECT_EQ(0, std::memcmp(frame.propsBlock + 384, b384, 8));
  EXPECT_EQ(5.0f, frame.auxTransforms[1][0]);
  EXPECT_EQ(-1.0f, frame.auxTransforms[2][11]);

  // Tag 12 is written after the single-field tags and replaces the whole block.
  unsigned char props[392];
  for (int i = 0; i < 392; ++i) props[i] = static_cast<unsigned char>(i * 7);
  w.setPropsBlock(props, 392);
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(0, std::memcmp(frame.propsBlock, props, 392));
}

TEST(NebRoundTrip, PackedColourUnpacksIntoThreeChannels) {
  NebWriter w;
  w.setGridSize(3, 2, 1);
  const uint32_t rgb[6] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00102030, 0xFF000000, 0x00808080};
  ASSERT_TRUE(w.addPackedColour(rgb));
  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  EXPECT_EQ(1 << 18, frame.channelMask);
  const float* r = frame.getChannel(7);
  const float* g = frame.getChannel(8);
  const float* b = frame.getChannel(9);
  ASSERT_TRUE(r && g && b);
  const float k = 1.0f / 255.0f;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(static_cast<float>((rgb[i] >> 16) & 0xFF) * k, r[i]) << i;
    EXPECT_EQ(static_cast<float>((rgb[i] >> 8) & 0xFF) * k, g[i]) << i;
    EXPECT_EQ(static_cast<float>(rgb[i] & 0xFF) * k, b[i]) << i;
  }
}

// Chunk-1002 groups: every storage method, expanded lazily on first access.
class NebParticleMethods : public ::testing::TestWithParam<int> {};

TEST_P(NebParticleMethods, ChunkChannelsExpandToWhatWasWritten) {
  const int method = GetParam();
  const int n = 37;
  std::vector<float> pos(n * 3), density(n);
  std::vector<int64_t> ids(n);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) pos[i * 3 + c] = 0.5f * static_cast<float>(i) + static_cast<float>(c);
    density[i] = 1.0f + 0.125f * static_cast<float>(i % 4);
    ids[i] = 1000 + 3 * i;
  }
  NebWriter w;
  int g = w.addGroup("Water", n, 1);
  const bool lossy = method == 2 || method == 3;
  ASSERT_TRUE(w.setGroupChannel(g, 0, pos.data(), method));
  ASSERT_TRUE(w.setGroupChannel(g, 2, density.data(), method));
  // Identifiers are integers: only the lossless methods keep them.
  ASSERT_TRUE(w.setGroupChannel(g, 10, ids.data(), lossy ? 0 : method));
  const unsigned char extra[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  w.setGroupExtra(g, extra);

  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  ASSERT_EQ(1, frame.getParticleGroupCount());
  PGroup& group = frame.groups[0];
  EXPECT_EQ((1 << 0) | (1 << 2) | (1 << 10), group.presentChannels);
  EXPECT_EQ(method, group.channels[0].method);
  EXPECT_EQ(0, std::memcmp(extra, group.groupExtra, 8));
  EXPECT_EQ(&frame, group.owner);
  for (int i = 0; i < n; ++i) {
    float p[3], d;
    ASSERT_TRUE(group.getParticleValue(i, 0, p));
    ASSERT_TRUE(group.getParticleValue(i, 2, &d));
    for (int c = 0; c < 3; ++c) {
      if (lossy) {
        EXPECT_NEAR(pos[i * 3 + c], p[c], 1e-3f);
      } else {
        EXPECT_EQ(pos[i * 3 + c], p[c]);
      }
    }
    if (lossy) {
      EXPECT_NEAR(density[i], d, 1e-3f);
    } else {
      EXPECT_EQ(density[i], d);
    }
  }
  EXPECT_EQ(5, group.findParticleById(1015));
}

INSTANTIATE_TEST_SUITE_P(Methods, NebParticleMethods, ::testing::Values(0, 1, 2, 3, 4));

// Old-style blocks: raw (tag 7) and compressed (tag 13), identifiers in sub-record 2.
class NebParticleBlocks : public ::testing::TestWithParam<int> {};

TEST_P(NebParticleBlocks, BlockGroupsComeBackWithIdsAndBox) {
  const int tag = GetParam();
  const int n = 40;
  std::vector<float> posA(n * 3), velA(n * 3), posB(5 * 3);
  std::vector<int64_t> idsA(n), idsB(5);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      posA[i * 3 + c] = static_cast<float>(i) * 0.25f - static_cast<float>(c);
      velA[i * 3 + c] = static_cast<float>(c) - 1.0f;
    }
    idsA[i] = (int64_t{1} << 40) + 2 * i;  // ascending, above 32 bits
  }
  const int64_t unordered[5] = {9, 5, 7, -2, 100};
  for (int i = 0; i < 5; ++i) {
    idsB[i] = unordered[i];
    for (int c = 0; c < 3; ++c) posB[i * 3 + c] = 100.0f + static_cast<float>(i);
  }
  NebWriter w;
  w.setParticleLayout(false, false, tag);
  w.setParticleBlockOptions(losslessOptions());
  int a = w.addGroup("A", n, 0x30000);
  int b = w.addGroup("B", 5, 2);
  ASSERT_TRUE(w.setGroupChannel(a, 0, posA.data()));
  ASSERT_TRUE(w.setGroupChannel(a, 1, velA.data()));
  ASSERT_TRUE(w.setGroupChannel(a, 10, idsA.data()));
  ASSERT_TRUE(w.setGroupChannel(b, 0, posB.data()));
  ASSERT_TRUE(w.setGroupChannel(b, 10, idsB.data()));

  OstraneFrameData frame;
  ASSERT_EQ(0, loadBytes(frame, writerBytes(w)));
  ASSERT_EQ(2, frame.groups.size);
  PGroup& ga = frame.groups[0];
  PGroup& gb = frame.groups[1];
  EXPECT_EQ(0x30000, ga.groupType);
  EXPECT_EQ(2, gb.groupType);
  for (int i = 0; i < n; ++i) {
    float p[3], v[3];
    ASSERT_TRUE(ga.getParticleValue(i, 0, p));
    ASSERT_TRUE(ga.getParticleValue(i, 1, v));
    EXPECT_EQ(0, std::memcmp(p, &posA[i * 3], 12)) << i;
    EXPECT_EQ(0, std::memcmp(v, &velA[i * 3], 12)) << i;
    int64_t id;
    ASSERT_TRUE(ga.getParticleValue(i, 10, &id));
    EXPECT_EQ(idsA[i], id);
  }
  EXPECT_EQ(0, ga.idOrder.size);  // ascending: no index built at load
  EXPECT_EQ(7, ga.findParticleById(idsA[7]));
  // Non-ascending identifiers get their index at load time.
  ASSERT_EQ(5, gb.idOrder.size);
  EXPECT_EQ(3, gb.idOrder[0]);  // -2 first
  EXPECT_EQ(0, gb.findParticleById(9));
  EXPECT_EQ(3, gb.findParticleById(-2));
  EXPECT_EQ(-1, gb.findParticleById(8));
  // Without a group table the box comes from the positions.
  EXPECT_EQ(-2.0f, frame.bboxMin[2]);
  EXPECT_EQ(104.0f, frame.bboxMax[0]);
}

INSTANTIATE_TEST_SUITE_P(Tags, NebParticleBlocks, ::testing::Values(7, 13));

}  // namespace
