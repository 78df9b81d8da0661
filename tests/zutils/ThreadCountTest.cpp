// Default thread count rules and the NUMA node table of the pool.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "support/TempDir.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/ThreadPool.h"
#include "zutils/platform/Affinity.h"
#include "zutils/platform/Cpu.h"

namespace {

using ZUtils::computeDefaultThreadCount;
using ZUtils::platform::CpuMask;

int affinityCount() {
  CpuMask m;
  EXPECT_TRUE(ZUtils::platform::processAffinityMask(&m));
  return m.count();
}

TEST(DefaultThreadCount, EnvironmentOverridesAndFallbacks) {
  const int online = ZUtils::platform::onlineProcessorCount();
  EXPECT_EQ(computeDefaultThreadCount("3", nullptr), 3);
  EXPECT_EQ(computeDefaultThreadCount("12threads", "0"), 12);
  EXPECT_EQ(computeDefaultThreadCount("0", "0"), online);
  EXPECT_EQ(computeDefaultThreadCount("many", "0"), online);
  EXPECT_EQ(computeDefaultThreadCount("-4", "0"), online);
  EXPECT_EQ(computeDefaultThreadCount(nullptr, "0"), online);
  // Affinity on: the processors of this process's set, which may be fewer than online.
  EXPECT_EQ(computeDefaultThreadCount("0", nullptr), affinityCount());
  EXPECT_EQ(computeDefaultThreadCount(nullptr, "1"), affinityCount());
  EXPECT_GE(ZUtils::defaultThreadCount(), 1);
  EXPECT_EQ(ZUtils::defaultThreadCount(), ZUtils::defaultThreadCount());
}

TEST(DefaultThreadCount, AffinitySwitchAndIntegerConversion) {
  EXPECT_TRUE(ZUtils::threadAffinityEnabled(nullptr));
  EXPECT_TRUE(ZUtils::threadAffinityEnabled("2"));
  EXPECT_FALSE(ZUtils::threadAffinityEnabled("0"));
  EXPECT_FALSE(ZUtils::threadAffinityEnabled("off"));  // no digits: integer 0
  EXPECT_EQ(ZUtils::leadingInteger("  42abc"), 42);
  EXPECT_EQ(ZUtils::leadingInteger("+7"), 7);
  EXPECT_EQ(ZUtils::leadingInteger("-7"), -7);
  EXPECT_EQ(ZUtils::leadingInteger(""), 0);
  EXPECT_EQ(ZUtils::leadingInteger("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ZUtils::leadingInteger("-99999999999999999999"), INT_MIN);
}

TEST(CpuList, ParsesKernelListsAndRejectsJunk) {
  CpuMask m;
  ASSERT_TRUE(ZUtils::platform::parseCpuList("0-3,8,10-11\n", &m));
  EXPECT_EQ(m.count(), 7);
  EXPECT_TRUE(m.test(3));
  EXPECT_FALSE(m.test(4));
  EXPECT_TRUE(m.test(11));
  ASSERT_TRUE(ZUtils::platform::parseCpuList("\n", &m));  // memory-only node
  EXPECT_TRUE(m.empty());
  EXPECT_TRUE(ZUtils::platform::parseCpuList("1023", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList("1024", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList("99999999999999999999", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList("3-1", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList("0,", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList("0-", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList("a", &m));
  EXPECT_FALSE(ZUtils::platform::parseCpuList(nullptr, &m));
}

class NodeDir : public ::testing::Test {
 protected:
  void SetUp() override {
    root = testsupport::freshTempDir("neb_nodes_");
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override { testsupport::removeTree(root); }
  void node(int id, const char* list) {
    std::string dir = root + "/node" + std::to_string(id);
    testsupport::makeDirectory(dir);
    if (!list) return;
    FILE* f = std::fopen((dir + "/cpulist").c_str(), "w");
    std::fputs(list, f);
    std::fclose(f);
  }
  std::string root;
};

TEST_F(NodeDir, ReadsNodesInNumberOrder) {
  node(10, "6-7\n");
  node(2, "2-5\n");
  node(0, "0-1\n");
  testsupport::makeDirectory(root + "/nodeX");  // not a node
  CpuMask masks[4];
  ASSERT_EQ(ZUtils::platform::readNumaNodeMasks(root.c_str(), masks, 4), 3);
  EXPECT_EQ(masks[0].count(), 2);
  EXPECT_EQ(masks[1].count(), 4);
  EXPECT_TRUE(masks[2].test(7));
  EXPECT_EQ(ZUtils::platform::readNumaNodeMasks(root.c_str(), masks, 2), -1);  // too many
}

TEST_F(NodeDir, MissingOrBrokenInformationDisablesTheTable) {
  CpuMask masks[4];
  EXPECT_EQ(ZUtils::platform::readNumaNodeMasks((root + "/absent").c_str(), masks, 4), -1);
  EXPECT_EQ(ZUtils::platform::readNumaNodeMasks(root.c_str(), masks, 4), -1);  // no node
  node(0, "0-1\n");
  node(1, nullptr);  // no cpulist
  EXPECT_EQ(ZUtils::platform::readNumaNodeMasks(root.c_str(), masks, 4), -1);
  node(1, "garbage");
  EXPECT_EQ(ZUtils::platform::readNumaNodeMasks(root.c_str(), masks, 4), -1);
  std::string huge(20000, '1');
  node(1, huge.c_str());
  EXPECT_EQ(ZUtils::platform::readNumaNodeMasks(root.c_str(), masks, 4), -1);
}

TEST(NumaTable, RestrictsToTheProcessSetAndRoundRobinsOverProcessors) {
  using Node = ZUtils::PosixThreadManager::NumaNode;
  CpuMask masks[3];
  ZUtils::platform::parseCpuList("0-3", &masks[0]);
  ZUtils::platform::parseCpuList("4-7", &masks[1]);
  ZUtils::platform::parseCpuList("8-9", &masks[2]);
  CpuMask process;
  ZUtils::platform::parseCpuList("2-5,8-9", &process);
  Node nodes[3];
  int total = 0;
  EXPECT_EQ(ZUtils::buildNumaTable(masks, 3, process, nodes, &total), 3);
  EXPECT_EQ(total, 6);
  EXPECT_EQ(nodes[0].cumulative, 2);
  EXPECT_EQ(nodes[1].cumulative, 4);
  EXPECT_EQ(nodes[2].cumulative, 6);
  EXPECT_FALSE(nodes[0].mask.test(1));
  int picked[6];
  for (int c = 0; c < 6; ++c) picked[c] = ZUtils::selectNumaNode(nodes, 3, c);
  EXPECT_EQ(picked[0], 0);
  EXPECT_EQ(picked[1], 0);
  EXPECT_EQ(picked[2], 1);
  EXPECT_EQ(picked[3], 1);
  EXPECT_EQ(picked[4], 2);
  EXPECT_EQ(picked[5], 2);
  EXPECT_EQ(ZUtils::selectNumaNode(nodes, 3, 6), -1);

  // A node outside the process set keeps its entry but is never chosen.
  ZUtils::platform::parseCpuList("2-3", &process);
  EXPECT_EQ(ZUtils::buildNumaTable(masks, 3, process, nodes, &total), 1);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(ZUtils::selectNumaNode(nodes, 3, 0), 0);
  EXPECT_EQ(ZUtils::selectNumaNode(nodes, 3, 1), 0);
}

}  // namespace
