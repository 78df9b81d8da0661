#include "particles/PGroup.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "compress/ParticleChannelMethods.h"
#include "compress/SGCompressor.h"
#include "particles/PRTIN.h"
#include "zutils/Report.h"

using OSTUtils::SGCompressor;

void PGroup::ChannelRecord::freeAll() {
  ready.store(0, std::memory_order_release);
  stored.Free();
  expanded.Free();
  spare0.Free();
  spare1.Free();
}

PGroup::PGroup() {}

PGroup::~PGroup() {
  for (int i = 0; i < kSlotCount; ++i) {
    delete compressors[i];
    compressors[i] = nullptr;
  }
}

const char* PGroup::getName() { return name.size > 0 ? name.data : ""; }

bool PGroup::setName(const char* text) { return setName(text, text ? static_cast<int64_t>(std::strlen(text)) : 0); }

bool PGroup::setName(const char* text, int64_t length) {
  if (!text || length < 0) length = 0;
  if (length >= static_cast<int64_t>(INT32_MAX) || !name.SetSize(static_cast<int>(length) + 1, nullptr, true)) {
    name.Free();
    return false;
  }
  if (length > 0) std::memcpy(name.data, text, static_cast<size_t>(length));
  name.data[length] = '\0';
  return true;
}

bool PGroup::slotHasData(int slot) const {
  if (!ParticleSlotLayout::isValidSlot(slot)) return false;
  const ChannelRecord& rec = channels[slot];
  if (rec.ready.load(std::memory_order_acquire)) return true;
  std::lock_guard<OwnedLock> guard(rec.channelLock);
  return rec.stored.size > 0 || rec.expanded.size > 0;
}

int PGroup::getParticleCount() { return particleCount > 0 && slotHasData(ParticleSlotLayout::kPositionSlot) ? particleCount : 0; }

bool PGroup::hasChannel(int slot) {
  if (slot == ParticleSlotLayout::kVelocitySlot && owner && groupType == kGridVelocityGroupType) {
    return owner->hasChannel(4) != 0;
  }
  return slotHasData(slot);
}

int PGroup::getBytesPerParticle(int slot) { return ParticleSlotLayout::bytesPerParticle(slot); }
int PGroup::getChannelDataType(int slot) { return ParticleSlotLayout::typeCode(slot); }
int PGroup::getChannelComponents(int slot) { return ParticleSlotLayout::components(slot); }

bool PGroup::decompressChannel(int slot, bool freeStored) {
  if (!ParticleSlotLayout::isValidSlot(slot)) return false;
  ChannelRecord& rec = channels[slot];
  std::lock_guard<OwnedLock> guard(rec.channelLock);
  if (rec.expanded.size > 0) {
    rec.ready.store(1, std::memory_order_release);
    return true;
  }
  if (rec.stored.size == 0) {
    ZUtils::logReport("PGroup::decompressChannel failed: no compression data!\n");
    return false;
  }
  // Checked before anything is sized: an unknown method must leave the slot exactly as it
  // was (stored bytes kept, nothing expanded that a later call would take for the channel).
  if (!OSTUtils::IsParticleChannelMethod(rec.method)) return false;

  const int words = wordsPerParticle(slot);
  bool ok;
  if (rec.method == OSTUtils::kChannelRaw) {
    // Only an allocation can fail here; the stored bytes stay for a later attempt.
    ok = OSTUtils::ExpandChannelBytes(rec.method, rec.stored.data, rec.stored.size, particleCount, words, rec.expanded,
                                      nullptr);
    if (!ok) return false;
  } else {
    const int64_t length = OSTUtils::ParticleChannelLength(particleCount, words);
    if (length > 0 && !rec.expanded.SetSize(length, nullptr, true)) return false;
    SGCompressor<1>* compressor = nullptr;
    if (rec.method == OSTUtils::kChannelGridBlock || rec.method == OSTUtils::kChannelGridBlockPlanar) {
      compressor = getCompressor(slot);
    }
    PrtinAssembler assembler(&rec.expanded, slot);
    ok = OSTUtils::ExpandChannelBytes(rec.method, rec.stored.data, rec.stored.size, particleCount, words, rec.expanded,
                                      compressor, &assembler);
    if (!ok) {
      ZUtils::logReport("Error decompressing particle channel %d with method %d\n", slot, rec.method);
      rec.freeAll();
      return false;
    }
  }
  if (freeStored) rec.stored.Free();
  if (rec.expanded.size > 0) rec.ready.store(1, std::memory_order_release);
  return ok;
}

void* PGroup::getChannelData(int particle, int slot) {
  if (!ParticleSlotLayout::isValidSlot(slot) || particle < 0 || particle >= particleCount) return nullptr;
  ChannelRecord& rec = channels[slot];
  if (!rec.ready.load(std::memory_order_acquire)) {
    if (!slotHasData(slot) || !decompressChannel(slot, true)) return nullptr;
  }
  // The expanded length bounds the access, not the particle count: a raw channel keeps
  // whatever length was stored.
  const int64_t bytes = ParticleSlotLayout::bytesPerParticle(slot);
  if (!rec.expanded.data || (static_cast<int64_t>(particle) + 1) * bytes > rec.expanded.size) return nullptr;
  return rec.expanded.data + static_cast<int64_t>(particle) * bytes;
}

int64_t PGroup::expandedParticleCount(int slot) {
  if (!ParticleSlotLayout::isValidSlot(slot) || particleCount <= 0) return 0;
  if (!getChannelData(0, slot)) return 0;
  const int64_t bytes = ParticleSlotLayout::bytesPerParticle(slot);
  if (bytes == 0) return particleCount;
  return std::min<int64_t>(particleCount, channels[slot].expanded.size / bytes);
}

bool PGroup::getParticleValue(int particle, int slot, void* out) {
  if (!ParticleSlotLayout::isValidSlot(slot) || !out || particle < 0 || particle >= particleCount) return false;
  if (slotHasData(slot)) {
    const void* p = getChannelData(particle, slot);
    if (!p) return false;
    std::memcpy(out, p, static_cast<size_t>(ParticleSlotLayout::bytesPerParticle(slot)));
    return true;
  }
  if (slot == ParticleSlotLayout::kVelocitySlot) {
    float v[3];
    if (!gridVelocity(particle, v)) return false;
    std::memcpy(out, v, sizeof(v));
    return true;
  }
  return false;
}

void* PGroup::allocateChannel(int slot) {
  if (!ParticleSlotLayout::isValidSlot(slot)) return nullptr;
  const int64_t length = OSTUtils::ParticleChannelLength(particleCount, wordsPerParticle(slot));
  if (length < 0) return nullptr;
  ChannelRecord& rec = channels[slot];
  std::lock_guard<OwnedLock> guard(rec.channelLock);
  if (!rec.expanded.SetSize(length, nullptr, true)) {
    rec.ready.store(0, std::memory_order_release);
    return nullptr;
  }
  if (slot == ParticleSlotLayout::kIdSlot) {
    idsCheckedAscending = 0;
    idOrderChecked = 0;
  }
  rec.ready.store(length > 0 ? 1 : 0, std::memory_order_release);
  return rec.expanded.data;
}

bool PGroup::setChannel(int slot, const void* source, int64_t length) {
  if (!ParticleSlotLayout::isValidSlot(slot) || particleCount < 0) return false;
  const int64_t channelLength = OSTUtils::ParticleChannelLength(particleCount, wordsPerParticle(slot));
  if (channelLength < 0 || (length != -1 && length != channelLength)) return false;
  if (!source && channelLength > 0) return false;
  // Always sized to the channel length: a channel expanded earlier from a raw block of
  // another length must not be overrun by the copy.
  void* target = allocateChannel(slot);
  if (channelLength == 0) return true;
  if (!target) return false;
  std::memcpy(target, source, static_cast<size_t>(channelLength));
  return true;
}

SGCompressor<1>* PGroup::getCompressor(int slot) {
  if (!ParticleSlotLayout::isValidSlot(slot)) return nullptr;
  if (!compressors[slot]) compressors[slot] = new (std::nothrow) SGCompressor<1>(-1);
  return compressors[slot];
}
