// A frame decoded with its work spread over the worker pool gives the same bits as the
// same frame decoded inline: every grid channel (1D and 3D codec, derived speed, packed
// colour), every particle channel (grid-codec blocks, planar blocks, bit planes) and the
// particle bounding box. The pool must really lend the default number of threads to every
// job class; CTest runs this program with QARN_NUM_THREADS=1, 2 and 8, and the default
// count is fixed once per process, so one run checks one thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../NebTestFiles.h"
#include "compress/ParticleChannelMethods.h"
#include "compress/SGCompressor.h"
#include "ostutils/OstParallel.h"
#include "particles/MTComputeParticlesBbox.h"
#include "particles/PGroup.h"
#include "support/ReportCapture.h"
#include "zutils/Box.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/ThreadPool.h"

namespace {

// Small enough to stay quick under ThreadSanitizer; zones of 16384 values cut each channel
// into 16 zones (16 slabs of 4 slices in 3D), more than the largest job count tried.
const int kGrid = 64;
const int64_t kCells = int64_t(kGrid) * kGrid * kGrid;
const int64_t kZoneLength = 16384;
// Not a multiple of 2 or 8, so the pieces of a split differ in length; over 100000 so the
// bounding box and bit-plane jobs get real ranges on every thread.
const int kParticles = 100003;

// ---------------------------------------------------------------------------------------
// A thread manager in front of the pool that remembers every job handed to it: which job
// class, which index, and on which thread the job loop started.

class RecordingManager : public ZUtils::ThreadManager {
 public:
  struct Entry {
    std::string name;
    int parameter = -1;
    bool started = false;
    bool onPoolThread = false;
    std::thread::id thread;
  };

  explicit RecordingManager(ZUtils::ThreadManager* pool) : pool_(pool) {}

  void terminateThreads(bool force) override { pool_->terminateThreads(force); }
  int runOnThreads(int count, ZUtils::ThreadProcedure* procedure, ZUtils::ThreadProgress* progress,
                   bool reportProgress) override {
    return pool_->runOnThreads(count, procedure, progress, reportProgress);
  }
  void setLowPriority(int flag) override { pool_->setLowPriority(flag); }
  int runProcedure(ZUtils::ThreadProcedure* procedure, int parameter) override {
    // The job's loop stays inside run until its owner quits it, so the forwarding
    // procedure is kept until this manager goes (after the pool has stopped its threads).
    Tracer* tracer = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const char* name = procedure->name();
      tracers_.emplace_back(new Tracer(this, procedure, entries_.size()));
      tracer = tracers_.back().get();
      Entry e;
      e.name = name ? name : "";
      e.parameter = parameter;
      entries_.push_back(e);
    }
    return pool_->runProcedure(tracer, parameter);
  }
  void setStackSize(int bytes) override { pool_->setStackSize(bytes); }
  int currentThreadIndex() override { return pool_->currentThreadIndex(); }

  std::vector<Entry> entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  class Tracer : public ZUtils::ThreadProcedure {
   public:
    Tracer(RecordingManager* owner, ZUtils::ThreadProcedure* inner, size_t entry)
        : owner_(owner), inner_(inner), entry_(entry) {}
    void run(volatile int* status, volatile int* progress, int index, int count) override {
      {
        std::lock_guard<std::mutex> lock(owner_->mutex_);
        Entry& e = owner_->entries_[entry_];
        e.started = true;
        e.onPoolThread = owner_->pool_->currentThreadIndex() >= 0;
        e.thread = std::this_thread::get_id();
      }
      inner_->run(status, progress, index, count);
    }
    const char* name() override { return inner_->name(); }

   private:
    RecordingManager* owner_;
    ZUtils::ThreadProcedure* inner_;
    size_t entry_;
  };

  ZUtils::ThreadManager* pool_;
  std::mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<Tracer>> tracers_;
};

// The pool registered for the life of the object. Frames and every other job owner must be
// gone before it is: a job still parked on a worker makes the pool's shutdown wait out its
// timeout.
class RegisteredPool {
 public:
  RegisteredPool() : pool_(ZUtils::createPoolThreadManager()) {
    if (pool_) {
      recorder_.reset(new RecordingManager(pool_));
      OSTUtils::RegisterThreadManager(recorder_.get());
    }
  }
  ~RegisteredPool() {
    if (!pool_) return;
    OSTUtils::UnregisterLastThreadManager();
    ZUtils::destroyPoolThreadManager(pool_);
    recorder_.reset();
  }
  bool ok() const { return pool_ != nullptr; }
  RecordingManager& recorder() { return *recorder_; }

 private:
  ZUtils::ThreadManager* pool_;
  std::unique_ptr<RecordingManager> recorder_;
};

// Every job set-up of each class, as seen by the recorder, handed out indices 0..n-1 with
// n the default thread count, and every job loop started on its own pool thread. Returns
// the number of set-ups per class.
std::map<std::string, int> checkJobBatches(const std::vector<RecordingManager::Entry>& entries, int expected) {
  std::map<std::string, int> batches;
  size_t i = 0;
  while (i < entries.size()) {
    const std::string& name = entries[i].name;
    EXPECT_EQ(0, entries[i].parameter) << name << ": a set-up must start with job 0";
    size_t j = i;
    std::vector<std::thread::id> threads;
    while (j < entries.size() && entries[j].name == name && entries[j].parameter == static_cast<int>(j - i)) {
      EXPECT_TRUE(entries[j].started) << name << " job " << entries[j].parameter;
      EXPECT_TRUE(entries[j].onPoolThread) << name << " job " << entries[j].parameter;
      EXPECT_NE(std::this_thread::get_id(), entries[j].thread) << name;
      for (const std::thread::id& t : threads) EXPECT_NE(t, entries[j].thread) << name << " shares a thread";
      threads.push_back(entries[j].thread);
      ++j;
    }
    if (j == i) ++j;  // malformed entry, already reported
    EXPECT_EQ(expected, static_cast<int>(j - i)) << name << " set up with the wrong number of jobs";
    ++batches[name];
    i = j;
  }
  return batches;
}

// ---------------------------------------------------------------------------------------
// Frames.

// A smooth plume (soft blobs along a drifting column, zero outside), built once, so that
// the codec quantizes and differences real structure rather than constants. Channels are
// scaled copies of it shifted by a number of slices.
const std::vector<float>& basePlume() {
  static const std::vector<float> v = [] {
    std::vector<float> out(static_cast<size_t>(kCells), 0.0f);
    const float c = kGrid / 2.0f;
    for (int z = 0; z < kGrid; ++z)
      for (int y = 0; y < kGrid; ++y)
        for (int x = 0; x < kGrid; ++x) {
          float d = 0.0f;
          for (int b = 0; b < 6; ++b) {
            const float t = b / 5.0f;
            const float bx = c + 0.2f * kGrid * std::sin(t * 5.0f);
            const float by = 0.15f * kGrid + 0.7f * kGrid * t;
            const float bz = c + 0.15f * kGrid * std::cos(t * 4.0f);
            const float r = (0.1f + 0.12f * t) * kGrid;
            const float dx = (x - bx) / r, dy = (y - by) / r, dz = (z - bz) / r;
            const float q = dx * dx + dy * dy + dz * dz;
            if (q < 1.0f) d += (1.0f - 0.5f * t) * (1.0f - q) * (1.0f - q);
          }
          out[static_cast<size_t>(x + kGrid * (y + int64_t(kGrid) * z))] = d;
        }
    return out;
  }();
  return v;
}

std::vector<float> plume(float scale, int shiftSlices) {
  const std::vector<float>& base = basePlume();
  const int64_t shift = int64_t(shiftSlices) * kGrid * kGrid;
  std::vector<float> v(static_cast<size_t>(kCells));
  for (int64_t i = 0; i < kCells; ++i) v[static_cast<size_t>(i)] = scale * base[static_cast<size_t>((i + shift) % kCells)];
  return v;
}

std::vector<uint32_t> packedColour() {
  std::vector<uint32_t> rgb(static_cast<size_t>(kCells));
  for (int64_t i = 0; i < kCells; ++i) {
    const uint32_t r = static_cast<uint32_t>(i % 251), g = static_cast<uint32_t>((i / kGrid) % 256);
    rgb[static_cast<size_t>(i)] = (r << 16) | (g << 8) | static_cast<uint32_t>((i / (kGrid * kGrid)) % 256);
  }
  return rgb;
}

struct Particles {
  std::vector<float> positions, velocities, scalar;
  std::vector<int64_t> ids;
};

// Positions with traps for the box: the smallest x is +0 at particle 0 and -0 near the
// end (the first one seen must win however the range is split), and a few blow-ups that
// the box must skip and count.
Particles particles() {
  Particles p;
  p.positions.resize(static_cast<size_t>(kParticles) * 3);
  p.velocities.resize(static_cast<size_t>(kParticles) * 3);
  p.scalar.resize(static_cast<size_t>(kParticles));
  p.ids.resize(static_cast<size_t>(kParticles));
  for (int i = 0; i < kParticles; ++i) {
    const float t = static_cast<float>(i) / kParticles;
    float* pos = &p.positions[static_cast<size_t>(i) * 3];
    pos[0] = 1.0f + 40.0f * t + 0.5f * std::sin(i * 0.37f);
    pos[1] = -3.0f + 25.0f * std::cos(t * 7.0f);
    pos[2] = 10.0f * std::sin(t * 11.0f) * std::cos(i * 0.01f);
    float* vel = &p.velocities[static_cast<size_t>(i) * 3];
    vel[0] = std::sin(t * 13.0f);
    vel[1] = 2.0f + t;
    vel[2] = std::cos(t * 9.0f) * 0.5f;
    p.scalar[static_cast<size_t>(i)] = 0.25f + std::fabs(std::sin(t * 31.0f));
    p.ids[static_cast<size_t>(i)] = 1000000007LL * 3 + 7LL * i;
  }
  p.positions[0] = 0.0f;
  p.positions[static_cast<size_t>(kParticles - 5) * 3] = -0.0f;
  p.positions[static_cast<size_t>(kParticles / 3) * 3 + 1] = NAN;
  p.positions[static_cast<size_t>(kParticles / 2) * 3 + 2] = 3e5f;
  p.positions[static_cast<size_t>(kParticles - 1) * 3] = INFINITY;
  return p;
}

OSTUtils::GridBlockOptions zonedOptions(bool lossless) {
  OSTUtils::GridBlockOptions o = OSTUtils::defaultGridBlockOptions();
  o.zoneLength = kZoneLength;
  o.lossless = lossless;
  return o;
}

// Version 5, one-dimensional codec; particles in the group chunks with storage methods
// 4 (positions, identifiers), 3 (velocity) and 2 (a scalar).
bool writeFrameV5(const char* path, const Particles& p) {
  NebWriter w;
  w.setVersion(5);
  w.setGridCompressor(1);
  w.setGridBlockOptions(zonedOptions(false));
  w.setGridSize(kGrid, kGrid, kGrid);
  bool ok = true;
  ok = ok && w.addChannel(2, plume(1.0f, 0).data());
  ok = ok && w.addChannel(4, plume(-3.0f, 5).data());
  ok = ok && w.addChannel(5, plume(2.0f, 11).data());
  ok = ok && w.addChannel(6, plume(1.5f, 17).data());
  ok = ok && w.addPackedColour(packedColour().data());
  const int g = w.addGroup("Sparks", kParticles);
  ok = ok && w.setGroupChannel(g, 0, p.positions.data(), OSTUtils::kChannelZipBitPlanes);
  ok = ok && w.setGroupChannel(g, 1, p.velocities.data(), OSTUtils::kChannelGridBlockPlanar);
  ok = ok && w.setGroupChannel(g, 2, p.scalar.data(), OSTUtils::kChannelGridBlock);
  ok = ok && w.setGroupChannel(g, 10, p.ids.data(), OSTUtils::kChannelZipBitPlanes);
  return ok && w.write(path);
}

// Version 4, three-dimensional codec; particles in an old-style compressed block without
// a group table, so the reader computes the bounding box while loading. The block is
// lossless so that the box traps reach the reader intact.
bool writeFrameV4(const char* path) {
  NebWriter w;
  w.setVersion(4);
  w.setParticleBlockOptions(zonedOptions(true));
  w.setGridCompressor(3);
  w.setGridBlockOptions(zonedOptions(false));
  w.setGridSize(kGrid, kGrid, kGrid);
  bool ok = true;
  ok = ok && w.addChannel(2, plume(1.0f, 3).data());
  ok = ok && w.addChannel(4, plume(-1.0f, 7).data());
  ok = ok && w.addChannel(5, plume(3.0f, 13).data());
  ok = ok && w.addChannel(6, plume(0.75f, 23).data());
  ok = ok && w.addPackedColour(packedColour().data());
  const Particles p = particles();
  const int g = w.addGroup("Debris", kParticles);
  ok = ok && w.setGroupChannel(g, 0, p.positions.data());
  ok = ok && w.setGroupChannel(g, 1, p.velocities.data());
  ok = ok && w.setGroupChannel(g, 2, p.scalar.data());
  w.setParticleLayout(false, false, 13);
  return ok && w.write(path);
}

// ---------------------------------------------------------------------------------------
// Decoding everything a frame holds.

struct Decoded {
  std::vector<std::vector<float>> grid;  // by channel; empty when absent
  std::vector<std::vector<char>> particles;  // by group * 32 + slot; empty when absent
  float bboxMin[3];
  float bboxMax[3];
  std::vector<ZUtils::Box> recomputedBoxes;  // per group, from an empty box
  std::vector<int> badCounts;
};

Decoded decodeAll(OstraneFrameData& frame) {
  Decoded d;
  d.grid.resize(OstraneFrameData::kChannelCount);
  for (int c = 0; c < OstraneFrameData::kChannelCount; ++c) {
    const float* values = frame.getChannel(c);
    if (values) d.grid[c].assign(values, values + kCells);
  }
  d.particles.resize(static_cast<size_t>(frame.groups.size) * PGroup::kSlotCount);
  for (int g = 0; g < frame.groups.size; ++g) {
    PGroup& group = frame.groups[g];
    for (int slot = 0; slot < PGroup::kSlotCount; ++slot) {
      if (!group.slotHasData(slot) || !group.getChannelData(0, slot)) continue;
      const OSTUtils::OstArray<char, int64_t>& bytes = group.channels[slot].expanded;
      d.particles[static_cast<size_t>(g) * PGroup::kSlotCount + slot].assign(bytes.data, bytes.data + bytes.size);
    }
    MTComputeParticlesBbox job;
    ZUtils::Box box = MTComputeParticlesBbox::emptyBox();
    int bad = -1;
    EXPECT_TRUE(job.widenBox(&group, box, bad));
    d.recomputedBoxes.push_back(box);
    d.badCounts.push_back(bad);
  }
  std::memcpy(d.bboxMin, frame.bboxMin, sizeof d.bboxMin);
  std::memcpy(d.bboxMax, frame.bboxMax, sizeof d.bboxMax);
  return d;
}

void expectSameBits(const Decoded& inlineRun, const Decoded& pooled) {
  ASSERT_EQ(inlineRun.grid.size(), pooled.grid.size());
  for (size_t c = 0; c < inlineRun.grid.size(); ++c) {
    ASSERT_EQ(inlineRun.grid[c].size(), pooled.grid[c].size()) << "grid channel " << c;
    if (inlineRun.grid[c].empty()) continue;
    EXPECT_EQ(0, std::memcmp(inlineRun.grid[c].data(), pooled.grid[c].data(), inlineRun.grid[c].size() * 4))
        << "grid channel " << c;
  }
  ASSERT_EQ(inlineRun.particles.size(), pooled.particles.size());
  for (size_t k = 0; k < inlineRun.particles.size(); ++k) {
    ASSERT_EQ(inlineRun.particles[k].size(), pooled.particles[k].size()) << "particle slot " << k;
    if (inlineRun.particles[k].empty()) continue;
    EXPECT_EQ(0, std::memcmp(inlineRun.particles[k].data(), pooled.particles[k].data(), inlineRun.particles[k].size()))
        << "group " << k / PGroup::kSlotCount << " slot " << k % PGroup::kSlotCount;
  }
  EXPECT_EQ(0, std::memcmp(inlineRun.bboxMin, pooled.bboxMin, sizeof inlineRun.bboxMin));
  EXPECT_EQ(0, std::memcmp(inlineRun.bboxMax, pooled.bboxMax, sizeof inlineRun.bboxMax));
  ASSERT_EQ(inlineRun.recomputedBoxes.size(), pooled.recomputedBoxes.size());
  for (size_t g = 0; g < inlineRun.recomputedBoxes.size(); ++g) {
    EXPECT_EQ(0, std::memcmp(&inlineRun.recomputedBoxes[g], &pooled.recomputedBoxes[g], sizeof(ZUtils::Box)))
        << "group " << g;
    EXPECT_EQ(inlineRun.badCounts[g], pooled.badCounts[g]) << "group " << g;
  }
}

// What both frames must hold after decoding: grid channels present, speed derived, colour
// unpacked, the particle slots and the box traps.
void expectContents(const Decoded& d, const std::vector<int>& gridChannels, const std::vector<int>& slots) {
  for (int c = 0; c < OstraneFrameData::kChannelCount; ++c) {
    bool wanted = false;
    for (int w : gridChannels) wanted = wanted || w == c;
    EXPECT_EQ(wanted, !d.grid[c].empty()) << "grid channel " << c;
  }
  ASSERT_EQ(1u, d.recomputedBoxes.size());
  for (int slot = 0; slot < PGroup::kSlotCount; ++slot) {
    bool wanted = false;
    for (int s : slots) wanted = wanted || s == slot;
    EXPECT_EQ(wanted, !d.particles[slot].empty()) << "particle slot " << slot;
  }
  EXPECT_EQ(3, d.badCounts[0]);
  float zero;
  std::memcpy(&zero, &d.recomputedBoxes[0].min[0], 4);
  EXPECT_EQ(0.0f, zero);
  EXPECT_FALSE(std::signbit(zero)) << "the first smallest x (+0) must win over a later -0";
}

int expectedThreads() { return ZUtils::defaultThreadCount(); }

// ---------------------------------------------------------------------------------------

TEST(FrameThreadCount, DefaultCountFollowsTheEnvironment) {
  const char* value = std::getenv("QARN_NUM_THREADS");
  if (!value) GTEST_SKIP() << "QARN_NUM_THREADS not set for this run";
  EXPECT_EQ(ZUtils::computeDefaultThreadCount(value, std::getenv("QARN_USE_THREAD_AFFINITY")), expectedThreads());
  EXPECT_EQ(std::atoi(value), expectedThreads());
}

TEST(FrameThreadCount, Version5FrameDecodesToTheSameBitsOnThePool) {
  ReportCapture capture;
  const int threads = expectedThreads();
  TempNebFile file;
  const Particles written = particles();
  ASSERT_TRUE(writeFrameV5(file.path(), written));

  Decoded inlineRun;
  {
    ASSERT_EQ(nullptr, OSTUtils::CurrentThreadManager());
    OstraneFrameData frame;
    ASSERT_EQ(0, frame.ImportNeb(file.path(), true, false));
    inlineRun = decodeAll(frame);
    ASSERT_NE(nullptr, frame.compressorV5);
    EXPECT_EQ(1, frame.compressorV5->getJobCount());
    EXPECT_EQ(nullptr, frame.compressorLegacy);
  }
  expectContents(inlineRun, {2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 10});
  {
    ASSERT_EQ(written.positions.size() * 4, inlineRun.particles[0].size());
    EXPECT_EQ(0, std::memcmp(written.positions.data(), inlineRun.particles[0].data(), inlineRun.particles[0].size()))
        << "bit planes are lossless";
    ASSERT_EQ(written.ids.size() * 8, inlineRun.particles[10].size());
    EXPECT_EQ(0, std::memcmp(written.ids.data(), inlineRun.particles[10].data(), inlineRun.particles[10].size()));
  }

  RegisteredPool pool;
  ASSERT_TRUE(pool.ok());
  {
    OstraneFrameData frame;
    ASSERT_EQ(0, frame.ImportNeb(file.path(), true, false));
    const Decoded pooled = decodeAll(frame);
    expectSameBits(inlineRun, pooled);

    ASSERT_NE(nullptr, frame.compressorV5);
    EXPECT_EQ(threads, frame.compressorV5->getJobCount());
    ASSERT_EQ(1, frame.groups.size);
    for (int slot : {1, 2}) {
      ASSERT_NE(nullptr, frame.groups[0].compressors[slot]) << slot;
      EXPECT_EQ(threads, frame.groups[0].compressors[slot]->getJobCount()) << slot;
    }
  }
  const std::map<std::string, int> batches = checkJobBatches(pool.recorder().entries(), threads);
  // The frame's grid compressor and one per grid-codec particle slot.
  EXPECT_EQ(3, batches.count("SGCompressor") ? batches.at("SGCompressor") : 0);
  EXPECT_EQ(1, batches.count("MTBuildScalarSpeedFromVelocity") ? batches.at("MTBuildScalarSpeedFromVelocity") : 0);
  // Positions and identifiers.
  EXPECT_EQ(2, batches.count("MT PRTIN") ? batches.at("MT PRTIN") : 0);
  EXPECT_EQ(1, batches.count("MTComputeParticlesBbox") ? batches.at("MTComputeParticlesBbox") : 0);
}

TEST(FrameThreadCount, Version4FrameDecodesToTheSameBitsOnThePool) {
  ReportCapture capture;
  const int threads = expectedThreads();
  TempNebFile file;
  ASSERT_TRUE(writeFrameV4(file.path()));

  Decoded inlineRun;
  {
    ASSERT_EQ(nullptr, OSTUtils::CurrentThreadManager());
    OstraneFrameData frame;
    ASSERT_EQ(0, frame.ImportNeb(file.path(), true, false));
    inlineRun = decodeAll(frame);
    ASSERT_NE(nullptr, frame.compressorLegacy);
    EXPECT_EQ(1, frame.compressorLegacy->getJobCount());
    ASSERT_NE(nullptr, frame.bboxJob);
    EXPECT_EQ(1, frame.bboxJob->getJobCount());
  }
  expectContents(inlineRun, {2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2});
  // The box the reader computed skips the blow-ups and keeps +0 as the smallest x.
  EXPECT_EQ(0, std::memcmp(&inlineRun.recomputedBoxes[0].min[0], inlineRun.bboxMin, sizeof inlineRun.bboxMin));
  EXPECT_EQ(0, std::memcmp(&inlineRun.recomputedBoxes[0].max[0], inlineRun.bboxMax, sizeof inlineRun.bboxMax));

  RegisteredPool pool;
  ASSERT_TRUE(pool.ok());
  {
    OstraneFrameData frame;
    ASSERT_EQ(0, frame.ImportNeb(file.path(), true, false));
    const Decoded pooled = decodeAll(frame);
    expectSameBits(inlineRun, pooled);

    ASSERT_NE(nullptr, frame.compressorLegacy);
    EXPECT_EQ(threads, frame.compressorLegacy->getJobCount());
    ASSERT_NE(nullptr, frame.bboxJob);
    EXPECT_EQ(threads, frame.bboxJob->getJobCount());
    ASSERT_EQ(1, frame.groups.size);
    for (int slot : {0, 1, 2}) {
      ASSERT_NE(nullptr, frame.groups[0].compressors[slot]) << slot;
      EXPECT_EQ(threads, frame.groups[0].compressors[slot]->getJobCount()) << slot;
    }
  }
  const std::map<std::string, int> batches = checkJobBatches(pool.recorder().entries(), threads);
  // One compressor per particle slot of the block, then the frame's grid compressor.
  EXPECT_EQ(4, batches.count("SGCompressor") ? batches.at("SGCompressor") : 0);
  EXPECT_EQ(1, batches.count("MTBuildScalarSpeedFromVelocity") ? batches.at("MTBuildScalarSpeedFromVelocity") : 0);
  // The reader's box job and the recomputation in decodeAll.
  EXPECT_EQ(2, batches.count("MTComputeParticlesBbox") ? batches.at("MTComputeParticlesBbox") : 0);
  EXPECT_EQ(0u, batches.count("MT PRTIN"));
}

}  // namespace
