// The promises of nebloader_c.h that a host relies on when things go wrong, kept through
// the C interface: a budget refusal is NEB_E_MEMORY and never damage, a failed call writes
// nothing, frames that are not shared free their channels, a damaged grid size is refused,
// every failure leaves its reason for the thread, and reports carry the level they were
// made with and go where the frame's options send them.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cache/NebWriter.h"
#include "nebloader_c.h"
#include "support/LoaderTestSupport.h"

using loadertest::TempDir;

namespace {

const int kNx = 6, kNy = 5, kNz = 4, kCells = kNx * kNy * kNz, kParticles = 16;

std::string lastError() {
  char text[4096];
  neb_last_error(text, sizeof text);
  return text;
}

// A sound frame: smoke and temperature, one group with positions.
std::string writeFrame(TempDir& dir, const std::string& name) {
  std::vector<float> smoke(kCells), temperature(kCells), positions(3 * kParticles);
  for (int i = 0; i < kCells; ++i) {
    smoke[i] = 0.25f * static_cast<float>(i);
    temperature[i] = 290.0f + static_cast<float>(i % 7);
  }
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<float>(i);
  NebWriter w;
  w.setGridSize(kNx, kNy, kNz);
  const int g = w.addGroup("Sparks", kParticles);
  const std::string path = dir.file(name);
  const bool ok = w.addChannel(NEB_CHANNEL_SMOKE, smoke.data()) &&
                  w.addChannel(NEB_CHANNEL_TEMPERATURE, temperature.data()) &&
                  w.setGroupChannel(g, 0, positions.data(), 1) && w.write(path.c_str());
  return ok ? path : std::string();
}

// Sets a budget of what is held now plus `room` bytes for its lifetime, with no buffers
// kept for reuse (they would count as held).
class TightBudget {
 public:
  explicit TightBudget(unsigned long long room) : cache_(neb_block_cache_limit()) {
    neb_set_block_cache_limit(0);
    neb_set_memory_limit(neb_memory_held() + room);
  }
  ~TightBudget() {
    neb_set_memory_limit(0);
    neb_set_block_cache_limit(cache_);
  }

 private:
  unsigned long long cache_;
};

}  // namespace

// "Buy more memory" and "the file is bad" are different answers: every call the budget
// refuses says NEB_E_MEMORY, with the refusal as its reason, and succeeds once there is room.
TEST(CContract, ABudgetRefusalIsNeverDamage) {
  TempDir dir;
  const std::string path = writeFrame(dir, "sound.neb");
  ASSERT_FALSE(path.empty());
  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &f), NEB_OK);
  neb_slab_reader* r = nullptr;
  ASSERT_EQ(neb_slab_reader_open(f, &r), NEB_OK);
  const float* values = nullptr;
  float slab[kNx * kNy];
  {
    TightBudget budget(16);
    EXPECT_EQ(neb_frame_channel(f, NEB_CHANNEL_TEMPERATURE, &values), NEB_E_MEMORY);
    EXPECT_NE(lastError().find("refused"), std::string::npos) << lastError();
    const int opened = neb_slab_open_channel(r, NEB_CHANNEL_SMOKE, nullptr);
    EXPECT_EQ(opened == NEB_OK ? neb_slab_read(r, NEB_CHANNEL_SMOKE, 0, 1, slab, kNx * kNy) : opened, NEB_E_MEMORY);
    neb_frame* g = nullptr;
    EXPECT_EQ(neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &g), NEB_E_MEMORY);
    EXPECT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &g), NEB_E_MEMORY);
    EXPECT_EQ(g, nullptr);
  }
  EXPECT_EQ(neb_frame_channel(f, NEB_CHANNEL_TEMPERATURE, &values), NEB_OK);
  neb_slab_reader_close(r);
  neb_frame_close(f);
}

// A particle channel that stops after 5 of 16 particles: the call that cannot deliver all
// it was asked for delivers nothing.
TEST(CContract, AFailedCallWritesNothing) {
  TempDir dir;
  const std::string path = dir.file("short.neb");
  std::vector<float> positions(3 * kParticles, 1.5f);
  NebWriter w;
  w.setGridSize(2, 2, 2);
  const int g = w.addGroup("Short", kParticles);
  ASSERT_TRUE(w.setGroupChannelStored(g, 0, 0, positions.data(), 5 * 12));
  ASSERT_TRUE(w.write(path.c_str()));
  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &f), NEB_OK);
  neb_group* group = nullptr;
  ASSERT_EQ(neb_frame_find_group(f, "Short", &group), NEB_OK);
  std::vector<unsigned char> out(kParticles * 12, 0xA5);
  EXPECT_EQ(neb_group_values(group, 0, 0, kParticles, out.data(), static_cast<long long>(out.size())), NEB_E_DECODE);
  EXPECT_EQ(out, std::vector<unsigned char>(kParticles * 12, 0xA5));
  EXPECT_EQ(neb_group_values(group, 0, 0, 5, out.data(), static_cast<long long>(out.size())), NEB_OK);
  EXPECT_EQ(0, std::memcmp(out.data(), positions.data(), 5 * 12));
  neb_frame_close(f);
}

// Downsampled, header-only and host-served frames are never shared, so their channels are
// the caller's to free; a shared frame's are not.
TEST(CContract, FramesThatAreNotSharedFreeTheirChannels) {
  TempDir dir;
  const std::string path = writeFrame(dir, "free.neb");
  ASSERT_FALSE(path.empty());
  neb_frame *a = nullptr, *b = nullptr, *shared = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, 1000, 0, &a), NEB_OK);
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, 1000, 0, &b), NEB_OK);
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &shared), NEB_OK);
  EXPECT_NE(a, b);
  const float* values = nullptr;
  for (neb_frame* f : {a, b}) {
    ASSERT_EQ(neb_frame_channel(f, NEB_CHANNEL_SMOKE, &values), NEB_OK);
    EXPECT_EQ(neb_frame_release_channel(f, NEB_CHANNEL_SMOKE), NEB_OK);
    auto info = loadertest::sized<neb_frame_info>();
    ASSERT_EQ(neb_frame_get_info(f, &info), NEB_OK);
    EXPECT_EQ(info.open_flags, NEB_OPEN_UNSHARED);
  }
  EXPECT_EQ(neb_frame_release_channel(shared, NEB_CHANNEL_SMOKE), NEB_E_ARGUMENT);
  neb_frame_close(a);
  neb_frame_close(b);
  neb_frame_close(shared);
}

// 7 x -1 x 3 from a damaged file would reach hosts that multiply it: the frame has no grid,
// says why, and keeps its particles; the stored numbers stay visible for inspection.
TEST(CContract, ADamagedGridSizeIsRefused) {
  TempDir dir;
  const std::string path = dir.file("negative.neb");
  std::vector<float> positions(3 * kParticles, 2.0f);
  NebWriter w;
  const unsigned char record[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  w.setGridSize(7, -1, 3);
  ASSERT_TRUE(w.addRawGridRecord(NEB_CHANNEL_SMOKE, record, sizeof record));
  w.setChannelMask(1 << NEB_CHANNEL_SMOKE);
  const int g = w.addGroup("Sparks", kParticles);
  ASSERT_TRUE(w.setGroupChannel(g, 0, positions.data(), 1));
  ASSERT_TRUE(w.write(path.c_str()));
  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, NEB_OPEN_UNSHARED, &f), NEB_OK);
  int size[3] = {11, 11, 11};
  EXPECT_EQ(neb_frame_grid_size(f, size), NEB_E_DECODE);
  EXPECT_EQ(std::vector<int>(size, size + 3), (std::vector<int>{11, 11, 11}));
  EXPECT_NE(lastError().find("7 x -1 x 3"), std::string::npos) << lastError();
  const float* values = nullptr;
  EXPECT_EQ(neb_frame_channel(f, NEB_CHANNEL_SMOKE, &values), NEB_E_DECODE);
  auto info = loadertest::sized<neb_frame_info>();
  ASSERT_EQ(neb_frame_get_info(f, &info), NEB_OK);
  EXPECT_EQ(std::vector<int>(info.stored_grid_size, info.stored_grid_size + 3), (std::vector<int>{7, -1, 3}));
  EXPECT_EQ(info.cells, -1);
  neb_group* group = nullptr;
  ASSERT_EQ(neb_frame_group(f, 0, &group), NEB_OK);
  float p[3] = {0, 0, 0};
  EXPECT_EQ(neb_group_values(group, 0, kParticles - 1, 1, p, sizeof p), NEB_OK);
  EXPECT_EQ(p[2], 2.0f);
  neb_frame_close(f);
}

// The reason of the last failure belongs to the thread that failed; success leaves it, and
// asking for it cuts it to the buffer and gives its whole length.
TEST(CContract, TheLastFailureIsKeptPerThread) {
  const int channels[1] = {2};
  const char* names[1] = {nullptr};
  EXPECT_EQ(neb_compose_mapping(channels, names, 1, nullptr, 0, nullptr), NEB_E_ARGUMENT);
  const std::string reason = lastError();
  EXPECT_EQ(reason.find("neb_compose_mapping: bad argument"), 0u) << reason;
  EXPECT_NE(reason.find("null name"), std::string::npos) << reason;
  EXPECT_EQ(neb_has_frame_pattern("a_####.neb"), 1);
  EXPECT_EQ(lastError(), reason);
  char small[8] = "xxxxxxx";
  EXPECT_EQ(neb_last_error(small, sizeof small), static_cast<int>(reason.size()));
  EXPECT_EQ(std::string(small), reason.substr(0, 7));
  EXPECT_EQ(neb_last_error(nullptr, 4), NEB_E_ARGUMENT);
  EXPECT_EQ(lastError(), reason);
  std::string other;
  std::thread([&] {
    other = lastError();
    neb_frame* f = nullptr;
    neb_frame_open("", nullptr, -1, 0, &f);
  }).join();
  EXPECT_EQ(other, "");
  EXPECT_EQ(lastError(), reason);
  EXPECT_STREQ(neb_status_string(NEB_E_MEMORY), "out of memory or over the memory budget");
  EXPECT_STREQ(neb_status_string(NEB_LOAD_STATUS(12)), "cannot load the frame: nebu2 footer missing");
}

namespace {

struct Received {
  std::mutex lock;
  std::vector<std::pair<int, std::string>> reports;
  static void take(int level, const char* text, void* user) {
    Received* r = static_cast<Received*>(user);
    std::lock_guard<std::mutex> hold(r->lock);
    r->reports.emplace_back(level, text);
  }
  bool has(int level, const std::string& text) {
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& r : reports)
      if (r.first == level && r.second.find(text) != std::string::npos) return true;
    return false;
  }
};

}  // namespace

// Levels are given where reports are made, not read from their text: the registry's
// bookkeeping is debug, the reader's reason for a broken file is an error. A frame opened
// with a report callback of its own sends its reports there, and only there.
TEST(CContract, ReportsCarryTheirLevelAndFollowTheFrame) {
  TempDir dir;
  const std::string path = writeFrame(dir, "levels.neb");
  ASSERT_FALSE(path.empty());
  std::string bytes = loadertest::readText(path);
  const std::string broken = dir.file("broken.neb");
  ASSERT_TRUE(loadertest::writeText(broken, bytes.substr(0, 40) + bytes.substr(bytes.size() - 20)));
  Received global, own;
  neb_set_report_callback(&Received::take, &global);
  neb_frame* f = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &f), NEB_OK);
  neb_frame_close(f);
  EXPECT_TRUE(global.has(NEB_REPORT_DEBUG, "OstraneFrameData refCount=1"));
  auto o = loadertest::sized<neb_open_options>();
  o.report = &Received::take;
  o.report_user = &own;
  EXPECT_EQ(neb_frame_open_with(broken.c_str(), &o, &f), NEB_LOAD_STATUS(4));
  EXPECT_TRUE(own.has(NEB_REPORT_ERROR, "broken file"));
  EXPECT_FALSE(global.has(NEB_REPORT_ERROR, "broken file"));
  neb_set_report_callback(nullptr, nullptr);
}

// Whatever a host serves its frame from (a file, memory, its own reads, short ones
// included), the frame is the same: the same channels, whole and slab by slab; and the
// host's release function runs once, when the library is done with the bytes.
TEST(CContract, AFrameServedByTheHostReadsAsItsFile) {
  TempDir dir;
  const std::string path = writeFrame(dir, "served.neb");
  ASSERT_FALSE(path.empty());
  const std::string bytes = loadertest::readText(path);
  struct Host {
    const std::string* bytes;
    bool shortReads;
    int released;
    static long long read(void* user, long long offset, void* out, long long n) {
      Host* h = static_cast<Host*>(user);
      if (h->shortReads && n > 3) n = 3;
      std::memcpy(out, h->bytes->data() + offset, static_cast<size_t>(n));
      return n;
    }
    static void release(void* user) { ++static_cast<Host*>(user)->released; }
  };
  neb_frame* file = nullptr;
  ASSERT_EQ(neb_frame_open(path.c_str(), nullptr, -1, 0, &file), NEB_OK);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    Host host{&bytes, k % 2 == 1, 0};
    auto o = loadertest::sized<neb_open_options>();
    o.flags = k >= 2 ? NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE : 0;
    o.read_user = &host;
    o.release = &Host::release;
    neb_frame* f = nullptr;
    if (k < 4) {
      o.read = &Host::read;
      o.read_bytes = static_cast<long long>(bytes.size());
      ASSERT_EQ(neb_frame_open_with(nullptr, &o, &f), NEB_OK) << lastError();
    } else {
      ASSERT_EQ(neb_frame_from_memory(bytes.data(), static_cast<long long>(bytes.size()), &o, &f), NEB_OK);
    }
    EXPECT_EQ(host.released, (o.flags & NEB_OPEN_GRID_IN_FILE) ? 0 : 1);
    neb_slab_reader* r = nullptr;
    ASSERT_EQ(neb_slab_reader_open(f, &r), NEB_OK);
    for (int c : {NEB_CHANNEL_TEMPERATURE, NEB_CHANNEL_SMOKE}) ASSERT_EQ(neb_slab_open_channel(r, c, nullptr), NEB_OK);
    std::vector<float> slab(kNx * kNy);
    for (int z = 0; z < kNz; ++z) {
      for (int c : {NEB_CHANNEL_TEMPERATURE, NEB_CHANNEL_SMOKE}) {
        const float* whole = nullptr;
        ASSERT_EQ(neb_frame_channel(file, c, &whole), NEB_OK);
        ASSERT_EQ(neb_slab_read(r, c, z, z + 1, slab.data(), kNx * kNy), NEB_OK);
        EXPECT_EQ(0, std::memcmp(slab.data(), whole + z * kNx * kNy, sizeof(float) * kNx * kNy)) << c << " " << z;
        const float* own = nullptr;
        if (!(o.flags & NEB_OPEN_GRID_IN_FILE)) {
          ASSERT_EQ(neb_frame_channel(f, c, &own), NEB_OK);
          EXPECT_EQ(0, std::memcmp(own, whole, sizeof(float) * kCells)) << c;
        }
      }
    }
    neb_slab_reader_close(r);
    neb_group* g = nullptr;
    ASSERT_EQ(neb_frame_find_group(f, "Sparks", &g), NEB_OK);
    EXPECT_EQ(neb_group_particle_count(g), kParticles);
    neb_frame_close(f);
    EXPECT_EQ(host.released, 1);
  }
  neb_frame_close(file);
}
