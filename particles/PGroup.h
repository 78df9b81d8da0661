// One particle group of a frame: up to 32 channel slots, each kept as read from the file
// until its first access expands it, plus the identifier index.
//
// The container reader fills the public members directly at load time (single threaded);
// afterwards any number of threads may read. Each slot expands under its own lock, once;
// reading expanded data takes no lock (a per-slot flag published with release order tells
// readers the expanded bytes are complete). The identifier index is built under groupLock.
//
// PGroup lives by value in an OstArray, which relocates its elements by memcpy: every
// member is either plain, an OstArray, or an owned pointer (locks, compressors, name).
// The group must not be relocated while another thread uses it.
#pragma once

#include <atomic>
#include <cstdint>

#include "nebloader_frame.h"
#include "ostutils/OstArray.h"
#include "particles/OwnedLock.h"
#include "particles/ParticleSlotLayout.h"

namespace OSTUtils {
template <int D>
class SGCompressor;
}

class PGroup : public IOstranePrtGroup {
 public:
  static const int kSlotCount = ParticleSlotLayout::kSlotCount;
  // Groups of this type without a velocity channel take their velocity from the grid.
  static const int kGridVelocityGroupType = 0x30000;

  struct ChannelRecord {
    mutable OwnedLock channelLock;
    int32_t method = 0;  // storage method of the stored bytes (compress/ParticleChannelMethods.h)
    OSTUtils::OstArray<char, int64_t> stored;    // bytes as read from the file
    OSTUtils::OstArray<char, int64_t> expanded;  // particleCount x words x 4 once expanded
    OSTUtils::OstArray<char, int> spare0;        // freed with the others on a failed expansion
    OSTUtils::OstArray<char, int> spare1;
    // 1 once `expanded` holds the complete channel; stored with release order after the
    // bytes are written, so a reader that sees 1 (acquire) may read without the lock.
    std::atomic<int> ready{0};

    void freeAll();
  };

  // Particle indices in ascending identifier order (built only when the identifiers are
  // not already ascending from a non-negative first value).
  class IDORD : public OSTUtils::OstArray<int, int> {
   public:
    ~IDORD() override {}
    // True when the identifier of b is smaller than that of a: a must come after b.
    virtual bool comesAfter(int a, int b) const { return ids[b] < ids[a]; }
    // Stable sort of the indices by identifier (merge sort; runs of up to 6 entries sorted
    // by pairwise exchange). False when the scratch array cannot be had.
    bool sortByIds();

    const int64_t* ids = nullptr;
  };

  PGroup();
  ~PGroup() override;
  PGroup(const PGroup&) = delete;
  PGroup& operator=(const PGroup&) = delete;

  // IOstranePrtGroup. Slot numbers outside 0..31 and particle indices outside
  // 0..particleCount-1 give false, 0, -1 or null.
  const char* getName() override;
  int getParticleCount() override;
  bool getParticleValue(int particle, int slot, void* out) override;
  bool hasChannel(int slot) override;
  int getBytesPerParticle(int slot) override;
  int findParticleById(long long id) override;
  int getChannelDataType(int slot) override;
  int getChannelComponents(int slot) override;

  // Expands the slot's stored bytes once. Reports "PGroup::decompressChannel failed: no
  // compression data!\n" when there is nothing to expand, and "Error decompressing
  // particle channel %d with method %d\n" when the expansion fails, which drops the
  // channel. An unknown method fails silently and keeps the stored bytes.
  bool decompressChannel(int slot, bool freeStored);
  // The particle's first word in the expanded slot (expanding it first), or null when the
  // slot has no channel, cannot be expanded, or does not reach that particle.
  void* getChannelData(int particle, int slot);
  // Sizes `expanded` to particleCount x words x 4 and returns its storage; null for a
  // negative count or a failed allocation. Load time only.
  void* allocateChannel(int slot);
  // Copies raw channel bytes into `expanded`; `length` is -1 or must equal the channel
  // length. Load time only.
  bool setChannel(int slot, const void* source, int64_t length);
  // The slot's grid decoder, created on first use; null if it cannot be allocated.
  OSTUtils::SGCompressor<1>* getCompressor(int slot);
  // Builds the identifier index if the identifiers need one.
  bool ensureIdOrder();

  static int wordsPerParticle(int slot) { return ParticleSlotLayout::words(slot); }
  // The slot holds stored or expanded bytes (the group's own data, no grid fallback).
  bool slotHasData(int slot) const;
  // Number of particles, from 0, whose words lie inside the slot's expanded bytes
  // (expanding the slot first); 0 when the slot has no usable channel.
  int64_t expandedParticleCount(int slot);

  // Copies `text` (may be null) into the owned name. False if it cannot be allocated.
  bool setName(const char* text);
  bool setName(const char* text, int64_t length);

  IDORD idOrder;
  mutable OwnedLock groupLock;
  OSTUtils::OstArray<char, int> name;  // NUL-terminated when non-empty
  int32_t presentChannels = 0;
  int32_t groupType = 0;
  int32_t particleCount = 0;
  unsigned char groupExtra[8] = {};
  ChannelRecord channels[kSlotCount];
  OSTUtils::SGCompressor<1>* compressors[kSlotCount] = {};
  // The owning frame, seen through its public interface (grid velocity fallback).
  INeb* owner = nullptr;
  // Set under groupLock once the identifiers were found ascending, so later lookups skip
  // the check. Both flags are cleared when slot 10 is rewritten.
  int idsCheckedAscending = 0;
  // Set under groupLock once every entry of a non-empty idOrder was found to name a
  // particle that has an identifier.
  int idOrderChecked = 0;

 private:
  bool gridVelocity(int particle, float out[3]);
  int findInIds(const int64_t* ids, int64_t count, int64_t id) const;
};

OST_BITWISE_RELOCATABLE(PGroup);
