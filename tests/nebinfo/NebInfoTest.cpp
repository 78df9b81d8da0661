// The built nebinfo run as a process on frames the nebu2 writer made: the printed fields,
// the JSON lines against the library's own values, --check on a damaged sequence, exit
// codes, and an OpenVDB file through the plug-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "compress/GridBlockWriter.h"
#include "nebloader.h"
#include "support/ProcessRun.h"
#include "support/TempDir.h"

namespace {

using testsupport::ProcessRun;
using testsupport::shellQuoted;

ProcessRun runNebInfo(const std::vector<std::string>& args, const std::string& pipeTo = "") {
  std::string command = shellQuoted(NEBINFO_PATH);
  for (const std::string& a : args) command += " " + shellQuoted(a);
  command += " 2>/dev/null";
  if (!pipeTo.empty()) command = "set -o pipefail; " + command + " | " + pipeTo;
  return testsupport::runCommand("bash -c " + shellQuoted(command));
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool anyLineMatches(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  for (const std::string& line : lines(text))
    if (std::regex_match(line, re)) return true;
  return false;
}

const int kNx = 8, kNy = 6, kNz = 4, kCells = kNx * kNy * kNz;

// 8x6x4 cells, version 5, frame 42, world-to-grid scale 2 (voxel size 0.5): smoke
// quantized, temperature constant, fuel stored lossless (raw), packed colour (zip); group
// "Sparks" with positions (raw), velocities (grid block), ids (zip) and an integer slot
// (bit planes); group "Dust" without positions.
bool writeFrame(const std::string& path, int frame) {
  NebWriter w;
  w.setGridSize(kNx, kNy, kNz);
  const float t[12] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 1, 2, 3};
  w.setTransform(t);
  w.setFrameNumber(frame);
  std::vector<float> smoke(kCells), temperature(kCells, 0.25f), fuel(kCells);
  std::vector<uint32_t> colour(kCells);
  for (int i = 0; i < kCells; ++i) {
    smoke[i] = float(i) / float(kCells - 1);
    fuel[i] = i % 3 == 0 ? 0.0f : 1.0f / float(i);
    colour[i] = uint32_t(i) * 0x010203u;
  }
  bool ok = w.addChannel(2, smoke.data()) && w.addChannel(1, temperature.data());
  OSTUtils::GridBlockOptions lossless = OSTUtils::defaultGridBlockOptions();
  lossless.lossless = true;
  w.setGridBlockOptions(lossless);
  ok = ok && w.addChannel(10, fuel.data()) && w.addPackedColour(colour.data());
  const float positions[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  const float velocities[15] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, -1, -1, -1};
  const int64_t ids[5] = {7, 8, 9, 10, 11};
  const int32_t ages[5] = {3, 1, 4, 1, 5};
  const int sparks = w.addGroup("Sparks", 5);
  ok = ok && w.setGroupChannel(sparks, 0, positions, 0) && w.setGroupChannel(sparks, 1, velocities, 2) &&
       w.setGroupChannel(sparks, 10, ids, 1) && w.setGroupChannel(sparks, 12, ages, 4);
  const float dust[3] = {0.5f, 0.25f, 0.125f};
  const int d = w.addGroup("Dust", 3);
  ok = ok && w.setGroupChannel(d, 2, dust, 3);
  return ok && w.write(path.c_str());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// "key.path=value" per JSON leaf (floats by repr, so they read back exactly).
const char* const kFlattenJson =
    "/usr/bin/python3 -c 'import json,sys\n"
    "def walk(p,o):\n"
    "  if isinstance(o,dict):\n"
    "    for k,v in o.items(): walk(p+[k],v)\n"
    "  elif isinstance(o,list):\n"
    "    for i,v in enumerate(o): walk(p+[str(i)],v)\n"
    "  else: print(\".\".join(p)+\"=\"+(repr(o) if isinstance(o,float) else json.dumps(o)))\n"
    "for line in sys.stdin: walk([],json.loads(line))'";

}  // namespace

TEST(NebInfoPrint, ListsEveryFieldOfAWrittenFrame) {
  TempDir dir;
  ASSERT_TRUE(writeFrame(dir / "f_0042.neb", 42));
  ProcessRun r = runNebInfo({dir / "f_0042.neb"});
  EXPECT_EQ(r.exitCode, 0);
  // Stored sizes follow from the block layout: a constant single-zone block is magic,
  // method, count and value (11 bytes, padded to 12); a raw one holds 7 + 4 x 192 bytes,
  // padded to 776. 5 positions are 60 raw bytes.
  const char* const expected[] = {
      "  nebu2 version 5, frame 42",
      "  grid 8 x 6 x 4 \\(192 cells\\), voxel size 0\\.5",
      "  transform \\[2 0 0\\] \\[0 2 0\\] \\[0 0 2\\] offset \\[1 2 3\\]",
      " +Temperature_ost +1 +12 B +constant +1 zone",
      " +Smoke_ost +2 +[0-9.]+ (B|KiB) +quantized +1 zone, step [0-9.e-]+",
      " +ColorR_ost +7 +- +derived +from 18",
      " +ColorB_ost +9 +- +derived +from 18",
      " +Fuel_ost +10 +776 B +raw +1 zone",
      " +PackedColour +18 +[0-9.]+ (B|KiB) +zip",
      "  particle groups: 2",
      "  group \"Sparks\": 5 particles",
      " +0 +position +float +3 +60 B +raw",
      " +1 +velocity +float +3 +[0-9]+ B +block +1 zone, step [0-9.e-]+",
      " +10 +id +int64 +1 +[0-9]+ B +zip",
      " +12 +- +int32 +1 +[0-9]+ B +bitplanes",
      "  group \"Dust\": 3 particles \\(no positions\\)",
      " +2 +- +float +1 +[0-9]+ B +planar-block +1 zone.*",
  };
  for (const char* pattern : expected) EXPECT_TRUE(anyLineMatches(r.out, pattern)) << pattern << "\n" << r.out;
  EXPECT_FALSE(anyLineMatches(r.out, ".*Velocity.*")) << "no velocity channel was written";

  // -v adds the value columns and the identifier range.
  ProcessRun v = runNebInfo({"-v", dir / "f_0042.neb"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_TRUE(anyLineMatches(v.out, " +Temperature_ost +1 +12 B +constant +1 zone +0\\.25 +0\\.25 +0\\.25 +192")) << v.out;
  EXPECT_TRUE(anyLineMatches(v.out, " +Smoke_ost .* 0 +1 +0\\.5 +191")) << v.out;
  EXPECT_TRUE(anyLineMatches(v.out, "  group \"Sparks\": 5 particles, ids 7\\.\\.11")) << v.out;
}

// nebinfo --json -v of `path`, flattened; empty when it fails.
std::map<std::string, std::string> jsonOf(const std::string& path) {
  std::map<std::string, std::string> json;
  ProcessRun r = runNebInfo({"--json", "-v", path}, kFlattenJson);
  if (r.exitCode != 0) return json;
  for (const std::string& line : lines(r.out)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) json[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return json;
}

// The statistics of every listed grid channel against the library's decoded values; the
// number of channels listed.
int expectChannelStatistics(std::map<std::string, std::string>& json, INeb* frame, int cells) {
  auto num = [&](const std::string& key) { return json.count(key) ? std::stod(json[key]) : -1e300; };
  int listed = 0;
  for (int k = 0; json.count("channels." + std::to_string(k) + ".channel"); ++k, ++listed) {
    const std::string key = "channels." + std::to_string(k) + ".";
    const int c = std::stoi(json[key + "channel"]);
    if (c == 18) continue;  // packed colour: stored, never present itself
    EXPECT_TRUE(frame->hasChannel(c)) << c;
    const float* values = frame->getChannel(c);
    EXPECT_NE(values, nullptr) << c;
    if (!values) continue;
    float lo = values[0], hi = values[0];
    double sum = 0;
    int64_t nonZero = 0;
    for (int i = 0; i < cells; ++i) {
      lo = std::min(lo, values[i]);
      hi = std::max(hi, values[i]);
      sum += values[i];
      nonZero += values[i] != 0.0f;
    }
    EXPECT_EQ(float(num(key + "stats.min")), lo) << c;
    EXPECT_EQ(float(num(key + "stats.max")), hi) << c;
    EXPECT_NEAR(num(key + "stats.mean"), sum / cells, 1e-12) << c;
    EXPECT_EQ(num(key + "stats.nonzero"), double(nonZero)) << c;
  }
  return listed;
}

TEST(NebInfoJson, ValuesEqualTheLibrarys) {
  TempDir dir;
  const std::string path = dir / "f_0042.neb";
  ASSERT_TRUE(writeFrame(path, 42));
  std::map<std::string, std::string> json = jsonOf(path);
  ASSERT_FALSE(json.empty());
  auto num = [&](const std::string& key) { return json.count(key) ? std::stod(json[key]) : -1e300; };

  INeb* frame = newINeb(path.c_str());
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(json["file"], "\"" + path + "\"");
  EXPECT_EQ(json["version"], "5");
  EXPECT_EQ(json["frame"], "42");
  int size[3];
  frame->getGridSize(size);
  float t[12];
  frame->getTransform(t);
  for (int a = 0; a < 3; ++a) EXPECT_EQ(num("grid." + std::to_string(a)), size[a]);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(float(num("transform." + std::to_string(i))), t[i]) << i;
  EXPECT_EQ(num("voxel_size.0"), 0.5);

  // Every channel the library reports, with statistics from its decoded values.
  const int listed = expectChannelStatistics(json, frame, kCells);
  int present = 0;
  for (int c = 0; c < 32; ++c) present += frame->hasChannel(c);
  EXPECT_EQ(listed, present + 1);  // + packed colour 18
  EXPECT_EQ(json["channels.5.storage"], "\"raw\"");
  EXPECT_EQ(json["channels.5.stored_bytes"], "776");

  IOstranePrtGroup* sparks = frame->findParticleGroup("Sparks");
  ASSERT_NE(sparks, nullptr);
  EXPECT_EQ(json["groups.0.name"], "\"Sparks\"");
  EXPECT_EQ(num("groups.0.particles"), sparks->getParticleCount());
  int64_t first = 0, last = 0;
  ASSERT_TRUE(sparks->getParticleValue(0, 10, &first));
  ASSERT_TRUE(sparks->getParticleValue(4, 10, &last));
  EXPECT_EQ(num("groups.0.id_range.0"), double(first));
  EXPECT_EQ(num("groups.0.id_range.1"), double(last));
  for (int k = 0; k < 4; ++k) {
    const std::string key = "groups.0.channels." + std::to_string(k) + ".";
    const int slot = std::stoi(json[key + "slot"]);
    EXPECT_EQ(num(key + "type"), sparks->getChannelDataType(slot)) << slot;
    EXPECT_EQ(num(key + "components"), sparks->getChannelComponents(slot)) << slot;
  }
  float p4[3];
  ASSERT_TRUE(sparks->getParticleValue(4, 0, p4));
  EXPECT_EQ(float(num("groups.0.channels.0.stats.max")), p4[2]);
  EXPECT_EQ(json["groups.1.has_positions"], "false");
  deleteINeb(frame);
}

// A grid of 19 layers is read in slabs of 8 layers, with zones crossing the slabs: the
// statistics still cover every cell, speed derived from the velocity and colour included.
TEST(NebInfoJson, StatisticsOverSlabsEqualTheLibrarys) {
  TempDir dir;
  const std::string path = dir / "deep.neb";
  const int nx = 5, ny = 4, nz = 19, cells = nx * ny * nz;
  std::vector<float> a(cells), b(cells), c(cells);
  std::vector<uint32_t> colour(cells);
  for (int i = 0; i < cells; ++i) {
    a[i] = float(i % 17) * 0.25f - 1.0f;
    b[i] = i % 5 == 0 ? 0.0f : 1.0f / float(i);
    c[i] = float(i) / float(cells);
    colour[i] = uint32_t(i) * 0x030507u;
  }
  NebWriter w;
  w.setGridSize(nx, ny, nz);
  OSTUtils::GridBlockOptions zones = OSTUtils::defaultGridBlockOptions();
  zones.zoneLength = 13;
  w.setGridBlockOptions(zones);
  ASSERT_TRUE(w.addChannel(2, c.data()) && w.addChannel(4, a.data()) && w.addChannel(5, b.data()) &&
              w.addChannel(6, c.data()) && w.addPackedColour(colour.data()) && w.write(path.c_str()));
  std::map<std::string, std::string> json = jsonOf(path);
  ASSERT_FALSE(json.empty());
  INeb* frame = newINeb(path.c_str());
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(expectChannelStatistics(json, frame, cells), 9);  // 2 3 4 5 6 7 8 9 18
  deleteINeb(frame);
}

TEST(NebInfoCheck, NamesTheDamagedFramesOfASequence) {
  TempDir dir;
  for (int f = 0; f < 4; ++f) ASSERT_TRUE(writeFrame(dir / ("s_000" + std::to_string(f) + ".neb"), f));
  ProcessRun sound = runNebInfo({"--check", dir / "s_####.neb", "--frames", "0-3"});
  EXPECT_EQ(sound.exitCode, 0);
  EXPECT_TRUE(anyLineMatches(sound.out, "4 of 4 frames sound")) << sound.out;

  // Frame 1 cut in half; frame 2 with the method byte of its first grid block flipped.
  const std::string one = readFile(dir / "s_0001.neb");
  writeBytes(dir / "s_0001.neb", one.substr(0, one.size() / 2));
  std::string two = readFile(dir / "s_0002.neb");
  const size_t block = two.find(std::string("\x01\xFC\x02", 3));
  ASSERT_NE(block, std::string::npos);
  two[block + 2] = char(two[block + 2] ^ 0xFF);
  writeBytes(dir / "s_0002.neb", two);

  for (const char* threads : {"1", "2"}) {
    ProcessRun r = runNebInfo({"--check", "--threads", threads, dir / "s_####.neb", "--frames", "0-3"});
    EXPECT_EQ(r.exitCode, 1);
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 7u) << r.out;
    EXPECT_EQ(out[0], "ok   " + dir / "s_0000.neb");
    EXPECT_EQ(out[1], "BAD  " + dir / "s_0001.neb");
    EXPECT_TRUE(std::regex_match(out[2], std::regex(" +nebu2 footer missing \\(status 12\\): .*"))) << out[2];
    EXPECT_EQ(out[3], "BAD  " + dir / "s_0002.neb");
    EXPECT_TRUE(std::regex_match(out[4], std::regex(" +channel [0-9]+ \\(\\w+\\): .*unknown zone method 253.*"))) << out[4];
    EXPECT_EQ(out[5], "ok   " + dir / "s_0003.neb");
    EXPECT_EQ(out[6], "2 of 4 frames sound; damaged: " + dir / "s_0001.neb" + " " + dir / "s_0002.neb");
  }
}

TEST(NebInfoExit, CodesScriptsCanRelyOn) {
  TempDir dir;
  ASSERT_TRUE(writeFrame(dir / "f_0001.neb", 1));
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"--help"}, 0},
      {{"--version"}, 0},
      {{dir / "f_0001.neb"}, 0},
      {{dir / "f_####.neb", "--frames=1"}, 0},
      {{}, 2},
      {{"--bogus", dir / "f_0001.neb"}, 2},
      {{"--frames", "5-1", dir / "f_####.neb"}, 2},
      {{"--threads", "0", dir / "f_0001.neb"}, 2},
      {{dir / "f_####.neb"}, 2},  // a pattern needs --frames
      {{dir / "f_0001.neb", dir / "missing.neb"}, 1},
      {{"--json", dir / "missing.neb"}, 1},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(runNebInfo(c.args).exitCode, c.code) << shown;
  }
}

#ifdef VOLCONVERT_PATH
TEST(NebInfoPlugin, ReadsAnOpenVdbFileThroughVdbport) {
  TempDir dir;
  ASSERT_TRUE(writeFrame(dir / "f_0001.neb", 1));
  ProcessRun convert = testsupport::runCommand(shellQuoted(VOLCONVERT_PATH) + " -silent -srcfile " +
                                               shellQuoted(dir / "f_0001.neb") + " -dstfile " +
                                               shellQuoted(dir / "f_0001.vdb"));
  ASSERT_EQ(convert.exitCode, 0);
  ProcessRun r = runNebInfo({"-v", dir / "f_0001.vdb"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(anyLineMatches(r.out, "  imported through the plug-in")) << r.out;
  EXPECT_TRUE(anyLineMatches(r.out, "  grid 8 x 6 x 4 \\(192 cells\\), voxel size 0\\.5")) << r.out;
  EXPECT_TRUE(anyLineMatches(r.out, " +Temperature_ost +1 +- +imported +0\\.25 +0\\.25 +0\\.25 +192")) << r.out;
}
#endif
