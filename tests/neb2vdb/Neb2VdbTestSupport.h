// Running the built neb2vdb, writing test frames with NebWriter, reading the output
// back with OpenVDB.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include "cache/NebWriter.h"
#include "support/ProcessRun.h"
#include "support/TempDir.h"
#include "support/VdbGrids.h"

struct ProgramResult {
  std::string out, err;
  int exitCode = -1;
};

// Runs neb2vdb with `args`; standard error is captured through a file.
inline ProgramResult runNeb2vdb(const std::vector<std::string>& args) {
  char errName[] = "/tmp/neb2vdb_err_XXXXXX";
  const int fd = mkstemp(errName);
  if (fd >= 0) close(fd);
  std::string command = testsupport::shellQuoted(NEB2VDB_PATH);
  for (const std::string& a : args) command += " " + testsupport::shellQuoted(a);
  const testsupport::ProcessRun r = testsupport::runCommand(command + " 2>" + testsupport::shellQuoted(errName));
  std::ifstream in(errName, std::ios::binary);
  ProgramResult run{r.out, std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), r.exitCode};
  std::remove(errName);
  return run;
}

inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline uint32_t bitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// World -> grid: v = w*4 + (2, 0, 3); a cell is a quarter of a world unit.
const float kFrameTransform[12] = {4, 0, 0, 0, 4, 0, 0, 0, 4, 2, 0, 3};

// Channel values: zeros on a third of the cells, a constant first 8^3 block (a leaf that
// prunes to a tile), signed values elsewhere.
inline std::vector<float> channelValues(int channel, int frame, const int size[3]) {
  std::vector<float> v(size_t(size[0]) * size[1] * size[2]);
  for (size_t j = 0; j < v.size(); ++j) {
    const int x = int(j % size[0]), y = int((j / size[0]) % size[1]), z = int(j / (size_t(size[0]) * size[1]));
    if (x < 8 && y < 8 && z < 8) v[j] = float(channel);
    else if ((x + 2 * y + z) % 3 == 0) v[j] = 0.0f;
    else v[j] = float(channel) * 0.1f + std::sin(0.37f * float(x * 3 + y * 5 - z + frame));
  }
  return v;
}

// A frame of `size` with the given grid channels and, when `particles`, a group
// "Sparks" (positions, velocities, ids, a float slot 2) and a group "Embers"
// (positions only), positions in world space inside the grid.
inline bool writeTestFrame(const std::string& path, const int size[3], const std::vector<int>& channels,
                           bool particles = true, int frame = 0) {
  NebWriter w;
  w.setGridSize(size[0], size[1], size[2]);
  w.setTransform(kFrameTransform);
  w.setFrameNumber(frame);
  for (int c : channels)
    if (!w.addChannel(c, channelValues(c, frame, size).data())) return false;
  if (particles) {
    const int n = 40;
    std::vector<float> p(3 * n), v(3 * n), s(n);
    std::vector<int64_t> id(n);
    for (int i = 0; i < n; ++i) {
      for (int k = 0; k < 3; ++k) {
        const float cell = std::fmod(0.731f * float(i * (k + 2)) + 0.1f * float(frame), float(size[k] - 1));
        p[3 * i + k] = (cell - kFrameTransform[9 + k]) / 4.0f;
        v[3 * i + k] = float(i) * 0.5f - float(k);
      }
      s[i] = 1.0f / float(i + 1);
      id[i] = 5000 - 7 * i;
    }
    const int g = w.addGroup("Sparks", n);
    if (!w.setGroupChannel(g, 0, p.data()) || !w.setGroupChannel(g, 1, v.data()) ||
        !w.setGroupChannel(g, 10, id.data()) || !w.setGroupChannel(g, 2, s.data()))
      return false;
    const int e = w.addGroup("Embers", 5);
    if (!w.setGroupChannel(e, 0, p.data())) return false;
  }
  return w.write(path.c_str());
}

inline std::string numbered(const TempDir& dir, const char* stem, int frame, const char* ext) {
  char name[64];
  std::snprintf(name, sizeof name, "%s_%04d.%s", stem, frame, ext);
  return dir / name;
}

struct VdbFile {
  bool opened = false;
  std::vector<openvdb::GridBase::Ptr> grids;
  openvdb::MetaMap::Ptr metadata;
  openvdb::GridBase::Ptr find(const std::string& name) const {
    for (const auto& g : grids)
      if (g->getName() == name) return g;
    return nullptr;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& g : grids) n.push_back(g->getName());
    return n;
  }
};

inline VdbFile readVdbFile(const std::string& path) {
  VdbFile f;
  f.opened = readVdbGrids(path, f.grids, f.metadata);
  return f;
}

// Converts `source` into `target` with `options` and reads the result back; a failed
// conversion is a test failure and gives a file that is not opened.
inline VdbFile convertAndRead(std::vector<std::string> options, const std::string& source,
                              const std::string& target) {
  options.push_back(source);
  options.push_back(target);
  const ProgramResult run = runNeb2vdb(options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.exitCode == 0 ? readVdbFile(target) : VdbFile{};
}
