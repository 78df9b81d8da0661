// C interface: particle groups (name, count, slots, values, identifier lookup).
#include <cstring>
#include <string>

#include "loader/CEntry.h"
#include "ostutils/Allocation.h"
#include "particles/ParticleSlotLayout.h"

using CInterface::badArgument;
using CInterface::frameOfGroup;
using CInterface::groupOf;
using CInterface::guardedCall;
using CInterface::guardedOn;
using CInterface::routeOf;

extern "C" {

int neb_group_name(neb_group* group, char* buffer, long long size, long long* length) {
  return guardedOn("neb_group_name", frameOfGroup(group), [&]() {
    if (!group) return badArgument("neb_group_name", "null group");
    const char* n = groupOf(group)->getName();
    return CInterface::deliverText("neb_group_name", n ? n : "", buffer, size, length);
  });
}

long long neb_group_particle_count(neb_group* group) {
  return guardedCall("neb_group_particle_count", routeOf(frameOfGroup(group)), [&]() -> long long {
    if (!group) return badArgument("neb_group_particle_count", "null group");
    return groupOf(group)->getParticleCount();
  });
}

int neb_group_has_slot(neb_group* group, int slot) {
  return guardedOn("neb_group_has_slot", frameOfGroup(group), [&]() {
    if (!group) return badArgument("neb_group_has_slot", "null group");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument("neb_group_has_slot", "particle slots are 0..31");
    return groupOf(group)->hasChannel(slot) ? 1 : 0;
  });
}

int neb_slot_layout(int slot, int* words, int* components, int* type) {
  return CInterface::guarded("neb_slot_layout", [&]() {
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument("neb_slot_layout", "particle slots are 0..31");
    if (words) *words = ParticleSlotLayout::words(slot);
    if (components) *components = ParticleSlotLayout::components(slot);
    if (type) *type = ParticleSlotLayout::typeCode(slot);
    return NEB_OK;
  });
}

int neb_group_slot_bytes(neb_group* group, int slot) {
  return guardedOn("neb_group_slot_bytes", frameOfGroup(group), [&]() {
    if (!group) return badArgument("neb_group_slot_bytes", "null group");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument("neb_group_slot_bytes", "particle slots are 0..31");
    return groupOf(group)->getBytesPerParticle(slot);
  });
}

int neb_group_values(neb_group* group, int slot, long long first, long long count, void* out, long long size) {
  static const char* const name = "neb_group_values";
  return guardedOn(name, frameOfGroup(group), [&]() {
    if (!group || !out) return badArgument(name, "null group or output");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument(name, "particle slots are 0..31");
    PGroup* g = groupOf(group);
    if (first < 0 || count < 0 || first > g->particleCount || count > g->particleCount - first)
      return badArgument(name, "particles out of range");
    if (!g->hasChannel(slot)) return NEB_E_ABSENT;
    const long long bytes = g->getBytesPerParticle(slot);
    if (bytes <= 0) return badArgument(name, "the slot holds no per-particle data");
    if (size < bytes * count) return badArgument(name, "the output is smaller than count * slot bytes");
    if (count == 0) return NEB_OK;
    const char* groupName = g->getName() ? g->getName() : "";
    // Nothing reaches `out` unless every particle asked for does.
    if (g->slotHasData(slot)) {
      // The slot's own expanded words are contiguous: one copy when they reach the range.
      const long long have = g->expandedParticleCount(slot);
      const void* p = have >= first + count ? g->getChannelData(static_cast<int>(first), slot) : nullptr;
      if (!p) {
        ZUtils::logReport("[ERROR] %s: slot %d of particle group '%s' does not reach particle %lld\n", name, slot,
                          groupName, first + count - 1);
        return NEB_E_DECODE;
      }
      std::memcpy(out, p, static_cast<size_t>(bytes * count));
      return NEB_OK;
    }
    // Velocity taken from the grid, particle by particle, gathered first.
    char* gathered = nullptr;
    if (!OSTUtils::newArray(gathered, static_cast<uint64_t>(bytes * count))) return NEB_E_MEMORY;
    struct Release {
      char* p;
      ~Release() { OSTUtils::releaseArray(p); }
    } release{gathered};
    for (long long i = 0; i < count; ++i) {
      if (!g->getParticleValue(static_cast<int>(first + i), slot, gathered + bytes * i)) {
        ZUtils::logReport("[ERROR] %s: slot %d of particle group '%s' has no value for particle %lld\n", name, slot,
                          groupName, first + i);
        return NEB_E_DECODE;
      }
    }
    std::memcpy(out, gathered, static_cast<size_t>(bytes * count));
    return NEB_OK;
  });
}

long long neb_group_find_id(neb_group* group, long long id) {
  return guardedCall("neb_group_find_id", routeOf(frameOfGroup(group)), [&]() -> long long {
    if (!group) return badArgument("neb_group_find_id", "null group");
    const int index = groupOf(group)->findParticleById(id);
    return index >= 0 ? index : NEB_E_ABSENT;
  });
}

}  // extern "C"
