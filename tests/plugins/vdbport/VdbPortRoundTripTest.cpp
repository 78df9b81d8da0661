// nebu2 frame -> volconvert -> OpenVDB file -> vdbport -> frame: the same grid, the same
// transform and bit-identical channel values.
#ifdef VOLCONVERT_PATH
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "VdbPortTestSupport.h"
#include "volconvert/TestSupport.h"
#include "volconvert/VolconvertProcess.h"

using namespace vdbtest;

TEST_F(PluginTest, VolconvertOutputComesBackAsTheSameFrame) {
  // 13 x 7 x 5 cells under a rotated, scaled and moved transform (support/MakeRoundTripFrame.cpp).
  const std::string neb = files.file("sim_0007.neb");
  ASSERT_EQ(std::system(("'" MAKE_ROUND_TRIP_FRAME "' '" + neb + "'").c_str()), 0);
  ProgramRun run = runVolconvert({"-silent", "-srcfile", files.file("sim_####.neb"), "-dstfile",
                                  files.file("sim_####.vdb"), "-start", "7", "-end", "7"});
  ASSERT_EQ(run.exitCode, 0) << run.out;

  INeb* source = newINeb(neb.c_str());
  const std::string vdb = files.file("sim_0007.vdb");
  // OpenVDB lists a file's grids by name.
  EXPECT_EQ(defaultMapping(vdb),
            "9,ColorB_ost;8,ColorG_ost;7,ColorR_ost;10,Fuel_ost;2,Smoke_ost;1,Temperature_ost;4,VelocityX_ost;"
            "5,VelocityY_ost;6,VelocityZ_ost;");
  INeb* back = newINeb(vdb.c_str());
  ASSERT_NE(source, nullptr);
  ASSERT_NE(back, nullptr);

  int a3[3], b3[3];
  source->getGridSize(a3);
  back->getGridSize(b3);
  ASSERT_EQ(std::vector<int>(a3, a3 + 3), std::vector<int>(b3, b3 + 3));
  float ta[12], tb[12];
  source->getTransform(ta);
  back->getTransform(tb);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(tb[i], ta[i], 1e-6 * std::max(1.0f, std::fabs(ta[i]))) << i;

  const size_t n = static_cast<size_t>(a3[0]) * a3[1] * a3[2];
  for (int channel : {1, 2, 4, 5, 6, 7, 8, 9, 10}) {
    ASSERT_EQ(back->hasChannel(channel), 1) << channel;
    const float* x = source->getChannel(channel);
    const float* y = back->getChannel(channel);
    ASSERT_TRUE(x && y) << channel;
    size_t differing = 0;
    for (size_t j = 0; j < n; ++j) differing += floatBits(x[j]) != floatBits(y[j]);
    EXPECT_EQ(differing, 0u) << "channel " << channel;
  }
  deleteINeb(back);
  deleteINeb(source);
}
#endif
