// The channel-mapping exports and their output rule, without any plug-in loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nebloader.h"

namespace {

const char* const kNative =
    "1,Temperature_ost;2,Smoke_ost;4,VelocityX_ost;5,VelocityY_ost;6,VelocityZ_ost;7,ColorR_ost;8,ColorG_ost;"
    "9,ColorB_ost;10,Fuel_ost;14,WaveletEnergy_ost;19,WaveletU_ost;20,WaveletV_ost;21,WaveletW_ost;"
    "15,AdvectionOriginX_ost;16,AdvectionOriginY_ost;17,AdvectionOriginZ_ost;";

std::string generate(const char* path) {
  char buffer[1024];
  EXPECT_EQ(nebGenerateDefaultChannelMappings(buffer, sizeof buffer, path), 1);
  return buffer;
}

}  // namespace

TEST(ComposeMappings, BufferRuleWholeCutAndUntouched) {
  int channels[2] = {2, 1};
  const char* names[2] = {"density", "temperature"};
  char buffer[32];
  EXPECT_EQ(nebComposeChannelMappingsString(buffer, 32, channels, names, 2), 1);
  EXPECT_STREQ(buffer, "2,density;1,temperature;");

  char small[10];
  EXPECT_EQ(nebComposeChannelMappingsString(small, 10, channels, names, 2), 0);
  EXPECT_STREQ(small, "2,density");

  // Exactly the text length: one byte short for the NUL.
  // Exactly the text length: one byte short for the NUL. One more and it fits.
  char exact[25];
  EXPECT_EQ(nebComposeChannelMappingsString(exact, 24, channels, names, 2), 0);
  EXPECT_STREQ(exact, "2,density;1,temperature");
  EXPECT_EQ(nebComposeChannelMappingsString(exact, 25, channels, names, 2), 1);
  EXPECT_STREQ(exact, "2,density;1,temperature;");

  char untouched[4] = {'a', 'b', 'c', 0};
  EXPECT_EQ(nebComposeChannelMappingsString(untouched, 0, channels, names, 2), 0);
  EXPECT_EQ(nebComposeChannelMappingsString(untouched, -5, channels, names, 2), 0);
  EXPECT_STREQ(untouched, "abc");
}

TEST(ComposeMappings, EmptyCountsAndNullNames) {
  int channels[2] = {3, 4};
  const char* names[2] = {nullptr, "vel"};
  char buffer[32] = "xxxx";
  EXPECT_EQ(nebComposeChannelMappingsString(buffer, sizeof buffer, channels, names, 0), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(nebComposeChannelMappingsString(buffer, sizeof buffer, channels, names, -3), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(nebComposeChannelMappingsString(buffer, sizeof buffer, channels, names, 2), 1);
  EXPECT_STREQ(buffer, "3,;4,vel;");
  EXPECT_EQ(nebComposeChannelMappingsString(buffer, sizeof buffer, nullptr, names, 2), 1);
  EXPECT_STREQ(buffer, "");
}

TEST(DecomposeMappings, EntriesByIndex) {
  const char* mapping = "2,density;1,temperature;";
  int channel = -7;
  char name[32];
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, mapping, 1), 1);
  EXPECT_EQ(channel, 1);
  EXPECT_STREQ(name, "temperature");
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, mapping, 0), 1);
  EXPECT_EQ(channel, 2);
  EXPECT_STREQ(name, "density");

  channel = -7;
  std::strcpy(name, "keep");
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, mapping, 2), -1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, mapping, -1), -1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, nullptr, 0), -1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "", 0), -1);
  EXPECT_EQ(channel, -7);
  EXPECT_STREQ(name, "keep");

  char small[5];
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, small, sizeof small, mapping, 1), 0);
  EXPECT_STREQ(small, "temp");
}

TEST(DecomposeMappings, OnlyTheFirstCommaSeparatesAndAtoiRules) {
  int channel = -1;
  char name[32];
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "x,a,b;", 0), 1);
  EXPECT_EQ(channel, 0);
  EXPECT_STREQ(name, "a,b");
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, " -12,neg;2,;", 0), 1);
  EXPECT_EQ(channel, -12);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, " -12,neg;2,;", 1), 1);
  EXPECT_EQ(channel, 2);
  EXPECT_STREQ(name, "");
}

TEST(DecomposeMappings, EntryCutByTheEndOfTheStringIsDropped) {
  int channel = 0;
  char name[32];
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "5,cut", 0), -1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "7", 0), -1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "1,a;7", 0), 1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "1,a;7", 1), -1);
  EXPECT_EQ(nebDecomposeChannelMappingsString(&channel, name, sizeof name, "1,a;7,b", 1), -1);
}

TEST(DefaultMappings, NativeForNebuFramesSequencesEmptyPathsAndForeignFilesWithoutPlugin) {
  EXPECT_EQ(generate(nullptr), kNative);
  EXPECT_EQ(generate(""), kNative);
  EXPECT_EQ(generate("/tmp/no_such_dir/smoke_0001.neb"), kNative);
  EXPECT_EQ(generate("/tmp/no_such_dir/smoke_####.neb"), kNative);
  EXPECT_EQ(generate("/tmp/no_such_dir/smoke_0001.vdb"), kNative);
  EXPECT_EQ(generate("/tmp/no_such_dir/smoke_0001.f3d"), kNative);

  char small[8];
  EXPECT_EQ(nebGenerateDefaultChannelMappings(small, sizeof small, ""), 0);
  EXPECT_STREQ(small, "1,Tempe");
}

TEST(DefaultMappings, NoForeignChannelsWithoutPlugin) {
  char name[16] = "keep";
  int flag = 5;
  EXPECT_EQ(nebGet3rdPartyChannelName(name, sizeof name, &flag, "/tmp/no_such_dir/a.vdb", 0), -1);
  EXPECT_EQ(nebGet3rdPartyChannelName(name, sizeof name, &flag, nullptr, 0), -1);
  EXPECT_STREQ(name, "keep");
  EXPECT_EQ(flag, 5);
  // A foreign file whose plug-in is not loaded cannot be imported.
  EXPECT_EQ(newINeb("/tmp/no_such_dir/a.vdb"), nullptr);
}
