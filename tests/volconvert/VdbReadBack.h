// Reading a written file back with OpenVDB for the export and end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include "TestSupport.h"
#include "support/VdbGrids.h"

struct VdbContents {
  bool opened = false;
  std::vector<openvdb::FloatGrid::Ptr> grids;  // file order
  std::vector<std::string> names;
  openvdb::MetaMap::Ptr metadata;
};

inline VdbContents readVdb(const std::string& path) {
  VdbContents c;
  openvdb::GridPtrVec grids;
  if (!readVdbGrids(path, grids, c.metadata)) return c;
  // The library lists the grids of a file by name; the order they were written in is
  // the order of their descriptors, found by each name's first length-prefixed copy.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::pair<size_t, openvdb::GridBase::Ptr>> placed;
  for (const openvdb::GridBase::Ptr& g : grids) {
    const std::string name = g->getName();
    const uint32_t length = uint32_t(name.size());
    const std::string key = std::string(reinterpret_cast<const char*>(&length), 4) + name;
    const size_t at = bytes.find(key);
    EXPECT_NE(at, std::string::npos) << name;
    placed.emplace_back(at, g);
  }
  std::sort(placed.begin(), placed.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& p : placed) {
    c.names.push_back(p.second->getName());
    c.grids.push_back(openvdb::gridPtrCast<openvdb::FloatGrid>(p.second));
  }
  c.opened = true;
  return c;
}

// The single file metadata item "OstraneVDBVer" = Int32 0.
inline void expectFileMetadata(const VdbContents& c) {
  ASSERT_TRUE(c.metadata);
  openvdb::Int32Metadata::ConstPtr version = c.metadata->getMetadata<openvdb::Int32Metadata>("OstraneVDBVer");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->value(), 0);
  EXPECT_EQ(c.metadata->metaCount(), 1u);
}

// Every cell (x fastest) active and bit-equal to the source, nothing else active.
inline void expectGridHolds(const openvdb::FloatGrid& grid, const float* values, const int size[3]) {
  const int64_t n = int64_t(size[0]) * size[1] * size[2];
  EXPECT_EQ(grid.activeVoxelCount(), openvdb::Index64(n));
  auto accessor = grid.getConstAccessor();
  int64_t bad = 0;
  for (int64_t j = 0; j < n; ++j) {
    const openvdb::Coord xyz(int(j % size[0]), int((j / size[0]) % size[1]), int(j / (int64_t(size[0]) * size[1])));
    if (!accessor.isValueOn(xyz) || floatBits(accessor.getValue(xyz)) != floatBits(values[j])) {
      if (++bad < 5) ADD_FAILURE() << grid.getName() << " cell " << xyz;
    }
  }
  EXPECT_EQ(bad, 0);
}
