// The C interface (nebloader_c.h) as a host sees it: a frame written through it reads back
// through it and through the C++ interface alike, bad arguments give a status and a
// report, and the helpers the tools use behave as their C++ counterparts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "compress/GridBlockWriter.h"
#include "nebloader.h"
#include "nebloader_c.h"
#include "support/LoaderTestSupport.h"

using loadertest::TempDir;

namespace {

// Every report the callback receives while it lives, with its level.
class CallbackReports {
 public:
  CallbackReports() { neb_set_report_callback(&receive, this); }
  ~CallbackReports() { neb_set_report_callback(nullptr, nullptr); }
  std::vector<std::pair<int, std::string>> take() {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<std::pair<int, std::string>> out;
    out.swap(reports_);
    return out;
  }

 private:
  static void receive(int level, const char* text, void* user) {
    CallbackReports* self = static_cast<CallbackReports*>(user);
    std::lock_guard<std::mutex> lock(self->lock_);
    self->reports_.emplace_back(level, text);
  }
  std::mutex lock_;
  std::vector<std::pair<int, std::string>> reports_;
};

const int kNx = 5, kNy = 4, kNz = 3, kCells = kNx * kNy * kNz, kParticles = 6;
const float kTransform[12] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 1, -1, 0.5f};

struct Content {
  std::vector<float> smoke, temperature, positions;
  std::vector<long long> ids;
  Content() {
    for (int i = 0; i < kCells; ++i) {
      smoke.push_back(0.1f * static_cast<float>(i) + 1e-7f);
      temperature.push_back(300.0f - static_cast<float>(i) / 3.0f);
    }
    for (int i = 0; i < kParticles * 3; ++i) positions.push_back(static_cast<float>(i) * 0.5f);
    for (int i = 0; i < kParticles; ++i) ids.push_back(1000 + 7 * i);
  }
};

int writeWithC(const std::string& path, const Content& c, int version) {
  neb_writer* w = nullptr;
  int s = neb_writer_create(&w);
  int group = -1;
  if (s == NEB_OK) s = neb_writer_set_version(w, version);
  if (s == NEB_OK) s = neb_writer_set_grid(w, kNx, kNy, kNz, kTransform);
  if (s == NEB_OK) s = neb_writer_set_frame_number(w, 42);
  if (s == NEB_OK) s = neb_writer_add_channel(w, NEB_CHANNEL_SMOKE, c.smoke.data(), kCells);
  if (s == NEB_OK) s = neb_writer_add_channel(w, NEB_CHANNEL_TEMPERATURE, c.temperature.data(), kCells);
  if (s == NEB_OK) s = neb_writer_add_group(w, "Sparks", kParticles, 0, &group);
  if (s == NEB_OK) s = neb_writer_set_slot(w, group, 0, c.positions.data(), kParticles * 12);
  if (s == NEB_OK) s = neb_writer_set_slot(w, group, 10, c.ids.data(), kParticles * 8);
  if (s == NEB_OK) s = neb_writer_write(w, path.c_str());
  neb_writer_free(w);
  return s;
}

std::string groupName(neb_group* g) {
  char name[64];
  return neb_group_name(g, name, sizeof name, nullptr) == NEB_OK ? name : "?";
}

}  // namespace

TEST(CInterface, AWrittenFrameReadsBackThroughBothInterfaces) {
  TempDir dir;
  const Content c;
  for (int version : {3, 4, 5}) {
    SCOPED_TRACE(version);
    const std::string path = dir.file("f" + std::to_string(version) + ".neb");
    ASSERT_EQ(writeWithC(path, c, version), NEB_OK);

    neb_frame* f = nullptr;
    ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &f), NEB_OK);
    int size[3], v = 0, number = 0;
    float t[12];
    ASSERT_EQ(neb_frame_grid_size(f, size), NEB_OK);
    EXPECT_EQ(std::vector<int>(size, size + 3), (std::vector<int>{kNx, kNy, kNz}));
    ASSERT_EQ(neb_frame_transform(f, t), NEB_OK);
    EXPECT_EQ(0, std::memcmp(t, kTransform, sizeof t));
    EXPECT_EQ(neb_frame_version(f, &v), NEB_OK);
    EXPECT_EQ(v, version);
    EXPECT_EQ(neb_frame_number(f, &number), NEB_OK);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(neb_frame_has_channel(f, NEB_CHANNEL_SMOKE), 1);
    EXPECT_EQ(neb_frame_has_channel(f, NEB_CHANNEL_FUEL), 0);

    // Stored form, asked before anything is read: one grid-compressor record per channel
    // in file order, zlib particle slots.
    ASSERT_EQ(neb_frame_grid_record_count(f), 2);
    auto r = loadertest::sized<neb_grid_record>();
    ASSERT_EQ(neb_frame_grid_record(f, 0, &r), NEB_OK);
    EXPECT_EQ(r.channel, NEB_CHANNEL_SMOKE);
    EXPECT_EQ(r.zip, 0);
    EXPECT_GT(r.stored_bytes, 0);
    EXPECT_EQ(r.zones.readable, 1);
    EXPECT_EQ(r.zones.quantized_zones, 0);
    ASSERT_EQ(neb_frame_stored_group_count(f), 1);
    neb_group* stored = nullptr;
    ASSERT_EQ(neb_frame_stored_group(f, 0, &stored), NEB_OK);
    auto p = loadertest::sized<neb_slot_record>();
    EXPECT_EQ(neb_group_slot_record(stored, 10, &p), NEB_OK);
    EXPECT_EQ(p.method, 1);
    EXPECT_EQ(neb_group_slot_record(stored, 1, &p), NEB_E_ABSENT);

    // The same shared frame as the C++ interface's: the same decoded buffer, lossless.
    INeb* cpp = newINeb(path.c_str());
    ASSERT_NE(cpp, nullptr);
    const float* smoke = nullptr;
    ASSERT_EQ(neb_frame_channel(f, NEB_CHANNEL_SMOKE, &smoke), NEB_OK);
    EXPECT_EQ(smoke, cpp->getChannel(NEB_CHANNEL_SMOKE));
    EXPECT_EQ(0, std::memcmp(smoke, c.smoke.data(), kCells * sizeof(float)));
    EXPECT_EQ(neb_frame_channel(f, NEB_CHANNEL_FUEL, &smoke), NEB_E_ABSENT);
    deleteINeb(cpp);

    ASSERT_EQ(neb_frame_group_count(f), 1);
    neb_group* g = nullptr;
    ASSERT_EQ(neb_frame_group(f, 0, &g), NEB_OK);
    neb_group* byName = nullptr;
    ASSERT_EQ(neb_frame_find_group(f, "Sparks", &byName), NEB_OK);
    EXPECT_EQ(g, byName);
    EXPECT_EQ(groupName(g), "Sparks");
    EXPECT_EQ(neb_group_particle_count(g), kParticles);
    EXPECT_EQ(neb_group_slot_bytes(g, 10), 8);
    std::vector<float> positions(kParticles * 3);
    EXPECT_EQ(neb_group_values(g, 0, 0, kParticles, positions.data(), kParticles * 12), NEB_OK);
    EXPECT_EQ(positions, c.positions);
    long long id = 0;
    EXPECT_EQ(neb_group_values(g, 10, 4, 1, &id, 8), NEB_OK);
    EXPECT_EQ(id, c.ids[4]);
    EXPECT_EQ(neb_group_find_id(g, c.ids[3]), 3);
    EXPECT_EQ(neb_group_find_id(g, 5), NEB_E_ABSENT);

    neb_frame_close(f);
  }
}

TEST(CInterface, UnsharedFramesGiveTheReadersStatusAndFreeChannels) {
  TempDir dir;
  const Content c;
  const std::string path = dir.file("u.neb");
  ASSERT_EQ(writeWithC(path, c, 5), NEB_OK);
  neb_frame* f = nullptr;
  EXPECT_EQ(neb_frame_open(dir.file("missing.neb").c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &f), NEB_LOAD_STATUS(3));
  EXPECT_EQ(f, nullptr);

  neb_frame* shared = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &shared), NEB_OK);
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &f), NEB_OK);
  EXPECT_NE(f, shared);
  EXPECT_EQ(neb_frame_release_channel(shared, NEB_CHANNEL_SMOKE), NEB_E_ARGUMENT);
  const float* values = nullptr;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(neb_frame_channel(f, NEB_CHANNEL_SMOKE, &values), NEB_OK);
    EXPECT_EQ(0, std::memcmp(values, c.smoke.data(), kCells * sizeof(float)));
    EXPECT_EQ(neb_frame_release_channel(f, NEB_CHANNEL_SMOKE), NEB_OK);
  }
  neb_frame_close(f);
  neb_frame_close(shared);
}

// A stored record whose mask bit is clear: the C interface gives what getChannel gives.
TEST(CInterface, AChannelReadsAsGetChannelReadsIt) {
  TempDir dir;
  const std::string path = dir.file("mask.neb");
  const Content c;
  NebWriter w;
  w.setGridSize(kNx, kNy, kNz);
  ASSERT_TRUE(w.addChannel(NEB_CHANNEL_SMOKE, c.smoke.data()));
  w.setChannelMask(0);
  ASSERT_TRUE(w.write(path.c_str()));
  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &f), NEB_OK);
  INeb* cpp = newINeb(path.c_str());
  ASSERT_NE(cpp, nullptr);
  const float* values = nullptr;
  EXPECT_EQ(neb_frame_has_channel(f, NEB_CHANNEL_SMOKE), cpp->hasChannel(NEB_CHANNEL_SMOKE));
  EXPECT_EQ(neb_frame_channel(f, NEB_CHANNEL_SMOKE, &values), NEB_OK);
  EXPECT_EQ(values, cpp->getChannel(NEB_CHANNEL_SMOKE));
  unsigned long long mask = 1;
  EXPECT_EQ(neb_frame_grid_mask(f, &mask), NEB_OK);
  EXPECT_EQ(mask, 0u);
  deleteINeb(cpp);
  neb_frame_close(f);
}

// A frame with every kind of grid channel a slab reader meets: stored scalars, velocity
// with speed derived from it, and colour unpacked from packed colour; zones of 7 cells
// cross the layers (20 cells each).
std::string writeSlabFrame(TempDir& dir) {
  const std::string path = dir.file("slabs.neb");
  const Content c;
  std::vector<float> vx(kCells), vy(kCells), vz(kCells, 0.25f);
  std::vector<uint32_t> rgb(kCells);
  for (int i = 0; i < kCells; ++i) {
    vx[i] = 0.5f * static_cast<float>(i % 7) - 1.0f;
    vy[i] = static_cast<float>(i) / 9.0f;
    rgb[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFFu;
  }
  NebWriter w;
  w.setGridSize(kNx, kNy, kNz);
  OSTUtils::GridBlockOptions o = OSTUtils::defaultGridBlockOptions();
  o.zoneLength = 7;
  w.setGridBlockOptions(o);
  const bool ok = w.addChannel(NEB_CHANNEL_SMOKE, c.smoke.data()) &&
                  w.addChannel(NEB_CHANNEL_TEMPERATURE, c.temperature.data()) && w.addChannel(4, vx.data()) &&
                  w.addChannel(5, vy.data()) && w.addChannel(6, vz.data()) && w.addPackedColour(rgb.data()) &&
                  w.write(path.c_str());
  return ok ? path : std::string();
}

// Slabs of every channel, in every kind of frame, against neb_frame_channel of a frame
// loaded whole: the same values bit for bit, or NEB_E_ABSENT where there is nothing to read.
TEST(CInterface, SlabsReadAsTheWholeChannels) {
  TempDir dir;
  const std::string path = writeSlabFrame(dir);
  ASSERT_FALSE(path.empty());
  neb_frame* whole = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &whole), NEB_OK);
  const struct {
    const char* what;
    int flags;
    bool hasGrid;
  } cases[] = {
      {"records in memory", 0, true},
      {"records in the file", NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE, true},
      {"header only", NEB_OPEN_HEADER_ONLY | NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    neb_frame* f = nullptr;
    ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, k.flags, &f), NEB_OK);
    // The records describe the same either way.
    ASSERT_EQ(neb_frame_grid_record_count(f), k.hasGrid ? neb_frame_grid_record_count(whole) : 0);
    for (int i = 0; i < neb_frame_grid_record_count(f); ++i) {
      auto a = loadertest::sized<neb_grid_record>(), b = loadertest::sized<neb_grid_record>();
      ASSERT_EQ(neb_frame_grid_record(f, i, &a), NEB_OK);
      ASSERT_EQ(neb_frame_grid_record(whole, i, &b), NEB_OK);
      const neb_block_zones &za = a.zones, &zb = b.zones;
      EXPECT_TRUE(a.channel == b.channel && a.zip == b.zip && a.stored_bytes == b.stored_bytes &&
                  za.readable == zb.readable && za.zone_count == zb.zone_count && za.raw_zones == zb.raw_zones &&
                  za.constant_zones == zb.constant_zones && za.quantized_zones == zb.quantized_zones &&
                  za.other_zones == zb.other_zones && za.finest_step == zb.finest_step &&
                  za.coarsest_step == zb.coarsest_step && za.max_passes == zb.max_passes)
          << "record " << i;
    }
    neb_slab_reader* r = nullptr;
    ASSERT_EQ(neb_slab_reader_open(f, &r), NEB_OK);
    const float* values[NEB_CHANNELS] = {};
    for (int ch = 0; ch < NEB_CHANNELS; ++ch) {
      const bool present = neb_frame_channel(whole, ch, &values[ch]) == NEB_OK;
      int source = -1;
      const int status = neb_slab_open_channel(r, ch, &source);
      EXPECT_EQ(status, present && k.hasGrid ? NEB_OK : NEB_E_ABSENT) << "channel " << ch;
      if (status == NEB_OK) {
        EXPECT_EQ(source, ch == 3 ? 4 : ch >= 7 && ch <= 9 ? 18 : ch) << "channel " << ch;
      }
      if (status != NEB_OK) values[ch] = nullptr;
      // A frame whose grid stayed in the file decodes nothing itself.
      const float* own = nullptr;
      if (k.hasGrid && (k.flags & NEB_OPEN_GRID_IN_FILE)) {
        EXPECT_EQ(neb_frame_channel(f, ch, &own), NEB_E_ABSENT);
      }
    }
    float slab[2 * kNx * kNy];
    for (int z0 = 0; z0 < kNz; z0 += 2) {
      const int z1 = std::min(kNz, z0 + 2);
      for (int ch = 0; ch < NEB_CHANNELS; ++ch) {
        if (!values[ch]) continue;
        ASSERT_EQ(neb_slab_read(r, ch, z0, z1, slab, 2 * kNx * kNy), NEB_OK) << "channel " << ch << " z0 " << z0;
        EXPECT_EQ(0, std::memcmp(slab, values[ch] + z0 * kNx * kNy, sizeof(float) * (z1 - z0) * kNx * kNy))
            << "channel " << ch << " z0 " << z0;
      }
    }
    neb_slab_reader_close(r);
    neb_frame_close(f);
  }
  neb_frame_close(whole);
}

int32_t intAt(const std::string& b, size_t at) {
  int32_t v = 0;
  if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
  return v;
}

// A packed colour stream cut short is found on the way: the slab that meets the cut fails,
// and with it 7, 8 and 9 for that slab and every later one.
TEST(CInterface, ABrokenColourStreamFailsEveryColourChannel) {
  TempDir dir;
  const std::string path = writeSlabFrame(dir);
  ASSERT_FALSE(path.empty());
  std::string bytes = loadertest::readText(path);
  // The grid records follow tag 3, the grid size and the record count.
  size_t at = 4;
  while (at + 20 < bytes.size() &&
         !(intAt(bytes, at) == 3 && intAt(bytes, at + 4) == kNx && intAt(bytes, at + 8) == kNy &&
           intAt(bytes, at + 12) == kNz))
    at += 4;
  at += 20;
  while (at + 16 < bytes.size() && intAt(bytes, at) != NEB_CHANNEL_PACKED_COLOR)
    at += 4 * (static_cast<size_t>(intAt(bytes, at + 4)) + 2);
  ASSERT_LT(at + 16, bytes.size());
  const int32_t half = intAt(bytes, at + 8) / 2;
  std::memcpy(&bytes[at + 8], &half, 4);
  ASSERT_TRUE(loadertest::writeText(path, bytes));

  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE, &f), NEB_OK);
  neb_slab_reader* r = nullptr;
  ASSERT_EQ(neb_slab_reader_open(f, &r), NEB_OK);
  for (int ch = 7; ch <= 9; ++ch) ASSERT_EQ(neb_slab_open_channel(r, ch, nullptr), NEB_OK);
  float slab[kNx * kNy];
  bool broken = false;
  for (int z = 0; z < kNz; ++z) {
    for (int ch = 7; ch <= 9; ++ch) {
      const int status = neb_slab_read(r, ch, z, z + 1, slab, kNx * kNy);
      if (broken) {
        EXPECT_EQ(status, NEB_E_DECODE) << "channel " << ch << " layer " << z;
      }
      broken = broken || status == NEB_E_DECODE;
    }
  }
  EXPECT_TRUE(broken);
  neb_slab_reader_close(r);
  neb_frame_close(f);
}

TEST(CInterface, BadArgumentsGiveAStatusAndAnErrorReport) {
  TempDir dir;
  const Content c;
  const std::string path = dir.file("b.neb");
  ASSERT_EQ(writeWithC(path, c, 5), NEB_OK);
  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &f), NEB_OK);
  neb_group* g = nullptr;
  ASSERT_EQ(neb_frame_group(f, 0, &g), NEB_OK);
  neb_writer* w = nullptr;
  ASSERT_EQ(neb_writer_create(&w), NEB_OK);
  ASSERT_EQ(neb_writer_set_grid(w, 2, 2, 2, nullptr), NEB_OK);
  int index = -1;
  ASSERT_EQ(neb_writer_add_group(w, "g", 3, 0, &index), NEB_OK);
  const float* values = nullptr;
  float buffer[64];
  char text[4];
  long long length = 0, count = 0;
  int frames[2];
  auto record = loadertest::sized<neb_grid_record>();
  // A slab reader that has read slab [1, 2) of smoke, with temperature open but unread.
  neb_slab_reader* slabs = nullptr;
  ASSERT_EQ(neb_slab_reader_open(f, &slabs), NEB_OK);
  ASSERT_EQ(neb_slab_open_channel(slabs, NEB_CHANNEL_SMOKE, nullptr), NEB_OK);
  ASSERT_EQ(neb_slab_open_channel(slabs, NEB_CHANNEL_TEMPERATURE, nullptr), NEB_OK);
  ASSERT_EQ(neb_slab_read(slabs, NEB_CHANNEL_SMOKE, 1, 2, buffer, 64), NEB_OK);
  neb_slab_reader* noReader = nullptr;

  const struct {
    const char* what;
    std::function<int()> call;
    int status;
  } cases[] = {
      {"open without path", [&] { return neb_frame_open(nullptr, nullptr, -1, 0, &f); }, NEB_E_ARGUMENT},
      {"open with unknown flags", [&] { return neb_frame_open(path.c_str(), nullptr, -1, 64, &f); }, NEB_E_ARGUMENT},
      {"open below -1 voxels", [&] { return neb_frame_open(path.c_str(), nullptr, -7, 0, &f); }, NEB_E_ARGUMENT},
      {"grid in file of a shared frame", [&] { return neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_GRID_IN_FILE, &f); },
       NEB_E_ARGUMENT},
      {"slab reader of no frame", [&] { return neb_slab_reader_open(nullptr, &noReader); }, NEB_E_ARGUMENT},
      {"slab reader without output", [&] { return neb_slab_reader_open(f, nullptr); }, NEB_E_ARGUMENT},
      {"slab channel 32", [&] { return neb_slab_open_channel(slabs, 32, nullptr); }, NEB_E_ARGUMENT},
      {"slab channel opened after a read", [&] { return neb_slab_open_channel(slabs, 1, nullptr); }, NEB_E_ARGUMENT},
      {"slab of no reader", [&] { return neb_slab_read(nullptr, 2, 0, 1, buffer, 64); }, NEB_E_ARGUMENT},
      {"slab of a channel not open", [&] { return neb_slab_read(slabs, 6, 1, 2, buffer, 64); }, NEB_E_ARGUMENT},
      {"slab past the grid", [&] { return neb_slab_read(slabs, 1, 2, 4, buffer, 64); }, NEB_E_ARGUMENT},
      {"slab upside down", [&] { return neb_slab_read(slabs, 1, 2, 1, buffer, 64); }, NEB_E_ARGUMENT},
      {"slab buffer too small", [&] { return neb_slab_read(slabs, 1, 1, 2, buffer, kNx * kNy - 1); }, NEB_E_ARGUMENT},
      {"slab without buffer", [&] { return neb_slab_read(slabs, 1, 1, 2, nullptr, 64); }, NEB_E_ARGUMENT},
      {"slab going back", [&] { return neb_slab_read(slabs, 1, 0, 1, buffer, 64); }, NEB_E_ARGUMENT},
      {"slab of another height", [&] { return neb_slab_read(slabs, 1, 1, 3, buffer, 64); }, NEB_E_ARGUMENT},
      {"slab read twice", [&] { return neb_slab_read(slabs, 2, 1, 2, buffer, 64); }, NEB_E_ARGUMENT},
      {"a missing file", [&] { return neb_frame_open(dir.file("none.neb").c_str(), nullptr, -1, 0, &f); },
       NEB_LOAD_STATUS(3)},
      {"null frame", [&] { return neb_frame_channel(nullptr, 2, &values); }, NEB_E_ARGUMENT},
      {"channel 32", [&] { return neb_frame_channel(f, 32, &values); }, NEB_E_ARGUMENT},
      {"channel -1", [&] { return neb_frame_has_channel(f, -1); }, NEB_E_ARGUMENT},
      {"group index", [&] { return neb_frame_group(f, 1, &g); }, NEB_E_ARGUMENT},
      {"stored group index", [&] { return neb_frame_stored_group(f, -1, &g); }, NEB_E_ARGUMENT},
      {"grid record index", [&] { return neb_frame_grid_record(f, 2, &record); }, NEB_E_ARGUMENT},
      {"slot 32", [&] { return neb_group_has_slot(g, 32); }, NEB_E_ARGUMENT},
      {"particles past the end", [&] { return neb_group_values(g, 0, 4, 3, buffer, sizeof buffer); }, NEB_E_ARGUMENT},
      {"output too small", [&] { return neb_group_values(g, 0, 0, 6, buffer, 71); }, NEB_E_ARGUMENT},
      {"null output", [&] { return neb_group_values(g, 0, 0, 1, nullptr, 12); }, NEB_E_ARGUMENT},
      {"name buffer too small", [&] { return neb_group_name(g, text, sizeof text, &length); }, NEB_E_BUFFER},
      {"slot layout 40", [&] { return neb_slot_layout(40, nullptr, nullptr, nullptr); }, NEB_E_ARGUMENT},
      {"writer channel count", [&] { return neb_writer_add_channel(w, 2, buffer, 7); }, NEB_E_ARGUMENT},
      {"writer channel 18", [&] { return neb_writer_add_channel(w, 18, buffer, 8); }, NEB_E_ARGUMENT},
      {"writer version 9", [&] { return neb_writer_set_version(w, 9); }, NEB_E_ARGUMENT},
      {"writer precision 20", [&] { return neb_writer_set_precision(w, 20); }, NEB_E_ARGUMENT},
      {"writer group 1", [&] { return neb_writer_set_slot(w, 1, 0, buffer, 36); }, NEB_E_ARGUMENT},
      {"writer slot size", [&] { return neb_writer_set_slot(w, index, 0, buffer, 35); }, NEB_E_ARGUMENT},
      {"writer slot without data", [&] { return neb_writer_set_slot(w, index, 7, buffer, 0); }, NEB_E_ARGUMENT},
      {"null writer", [&] { return neb_writer_set_grid(nullptr, 1, 1, 1, nullptr); }, NEB_E_ARGUMENT},
      {"writer negative grid", [&] { return neb_writer_set_grid(w, -1, 1, 1, nullptr); }, NEB_E_ARGUMENT},
      {"writer to a missing folder", [&] { return neb_writer_write(w, dir.file("no/such.neb").c_str()); }, NEB_E_WRITE},
      {"frame list", [&] { return neb_parse_frame_list("5-3", frames, 2, &count, text, sizeof text); }, NEB_E_PARSE},
      {"frame list capacity", [&] { return neb_parse_frame_list("1-3", frames, 2, &count, nullptr, 0); }, NEB_E_BUFFER},
      {"null pattern", [&] { return neb_expand_frame_pattern(nullptr, 1, text, sizeof text, &length); },
       NEB_E_ARGUMENT},
      {"mapping without text", [&] { return neb_mapping_entry(nullptr, 0, nullptr, text, 4, nullptr); },
       NEB_E_ARGUMENT},
      {"compose with a null name", [&] {
         const int channels[1] = {2};
         const char* names[1] = {nullptr};
         return neb_compose_mapping(channels, names, 1, text, sizeof text, nullptr);
       }, NEB_E_ARGUMENT},
  };
  CallbackReports reports;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(k.call(), k.status);
    // Argument faults are errors of their own; a load or write failure carries the reader's
    // or writer's reason.
    const auto got = reports.take();
    bool error = false;
    for (const auto& r : got) error = error || (r.first == NEB_REPORT_ERROR && r.second.find("[ERROR]") == 0);
    EXPECT_TRUE(k.status == NEB_E_ARGUMENT ? error : !got.empty());
  }
  // The reader still reads what the rules allow after the refusals.
  EXPECT_EQ(neb_slab_read(slabs, NEB_CHANNEL_TEMPERATURE, 1, 2, buffer, 64), NEB_OK);
  neb_slab_reader_close(slabs);
  neb_writer_free(w);
  neb_frame_close(f);
}

TEST(CInterface, TextResultsAndFrameListsFollowTheBufferRule) {
  long long length = -1, count = -1;
  char small[8], big[64];
  // A length query reports nothing; a too-small buffer is left alone; a fitting one is filled.
  EXPECT_EQ(neb_expand_frame_pattern("/a/fire_####.neb", 7, nullptr, 0, &length), NEB_E_BUFFER);
  EXPECT_EQ(length, 16);
  std::strcpy(small, "keep");
  EXPECT_EQ(neb_expand_frame_pattern("/a/fire_####.neb", 7, small, sizeof small, &length), NEB_E_BUFFER);
  EXPECT_STREQ(small, "keep");
  EXPECT_EQ(neb_expand_frame_pattern("/a/fire_####.neb", 7, big, 17, &length), NEB_OK);
  EXPECT_STREQ(big, "/a/fire_0007.neb");
  EXPECT_EQ(neb_has_frame_pattern("/a/fire_%04d.neb"), 1);
  EXPECT_EQ(neb_has_frame_pattern("/a/fire.neb"), 0);

  int frames[8];
  EXPECT_EQ(neb_parse_frame_list("1-7x3,10", frames, 8, &count, nullptr, 0), NEB_OK);
  EXPECT_EQ(std::vector<int>(frames, frames + count), (std::vector<int>{1, 4, 7, 10}));
  EXPECT_EQ(neb_parse_frame_list("1-0", frames, 8, &count, big, sizeof big), NEB_E_PARSE);
  EXPECT_NE(std::string(big).find("backwards"), std::string::npos) << big;

  const int channels[2] = {2, 1};
  const char* names[2] = {"density", "temperature"};
  ASSERT_EQ(neb_compose_mapping(channels, names, 2, big, sizeof big, &length), NEB_OK);
  EXPECT_STREQ(big, "2,density;1,temperature;");
  int channel = 0;
  EXPECT_EQ(neb_mapping_entry(big, 1, &channel, small, sizeof small, &length), NEB_E_BUFFER);
  EXPECT_EQ(length, 11);
  char name[16];
  EXPECT_EQ(neb_mapping_entry(big, 1, &channel, name, sizeof name, nullptr), NEB_OK);
  EXPECT_EQ(channel, 1);
  EXPECT_STREQ(name, "temperature");
  EXPECT_EQ(neb_mapping_entry(big, 2, &channel, name, sizeof name, nullptr), NEB_E_ABSENT);
}

TEST(CInterface, LibrarySettingsReadBackAsSet) {
  EXPECT_STREQ(neb_version(), NEB_PROJECT_VERSION);
  EXPECT_GE(neb_default_thread_count(), 1);
  const unsigned long long limit = neb_memory_limit(), cache = neb_block_cache_limit();
  neb_set_memory_limit(123456789ull);
  EXPECT_EQ(neb_memory_limit(), 123456789ull);
  neb_set_memory_limit(0);
  EXPECT_EQ(neb_memory_limit(), limit);
  neb_set_block_cache_limit(0);
  EXPECT_EQ(neb_block_cache_limit(), 0ull);
  EXPECT_EQ(neb_block_cache_bytes(), 0ull);

  // The held total follows a frame's decoded channels and is 0 once every frame is closed
  // (the block cache is off, so nothing stays kept): the registry's own bookkeeping goes too.
  TempDir dir;
  const std::string path = dir.file("held.neb");
  ASSERT_EQ(writeWithC(path, Content(), 5), NEB_OK);
  neb_frame *f = nullptr, *g = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &f), NEB_OK);
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &g), NEB_OK);
  const float* smoke = nullptr;
  ASSERT_EQ(neb_frame_channel(f, NEB_CHANNEL_SMOKE, &smoke), NEB_OK);
  EXPECT_GE(neb_memory_held(), kCells * sizeof(float));
  neb_frame_close(f);
  neb_frame_close(g);
  EXPECT_EQ(neb_memory_held(), 0u);

  neb_set_block_cache_limit(cache);
  EXPECT_EQ(neb_block_cache_limit(), cache);
}
