// C interface: particle groups (name, count, slots, values, identifier lookup).
#include <cstring>
#include <string>

#include "loader/CEntry.h"
#include "particles/ParticleSlotLayout.h"

using CInterface::badArgument;
using CInterface::groupOf;
using CInterface::guarded;

extern "C" {

int neb_group_name(neb_group* group, char* buffer, long long size, long long* length) {
  return guarded("neb_group_name", [&]() {
    if (!group) return badArgument("neb_group_name", "null group");
    const char* n = groupOf(group)->getName();
    return CInterface::deliverText("neb_group_name", n ? n : "", buffer, size, length);
  });
}

int neb_group_particle_count(neb_group* group) {
  return guarded("neb_group_particle_count", [&]() {
    if (!group) return badArgument("neb_group_particle_count", "null group");
    return groupOf(group)->getParticleCount();
  });
}

int neb_group_has_slot(neb_group* group, int slot) {
  return guarded("neb_group_has_slot", [&]() {
    if (!group) return badArgument("neb_group_has_slot", "null group");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument("neb_group_has_slot", "particle slots are 0..31");
    return groupOf(group)->hasChannel(slot) ? 1 : 0;
  });
}

int neb_slot_layout(int slot, int* words, int* components, int* type) {
  return guarded("neb_slot_layout", [&]() {
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument("neb_slot_layout", "particle slots are 0..31");
    if (words) *words = ParticleSlotLayout::words(slot);
    if (components) *components = ParticleSlotLayout::components(slot);
    if (type) *type = ParticleSlotLayout::typeCode(slot);
    return NEB_OK;
  });
}

int neb_group_slot_bytes(neb_group* group, int slot) {
  return guarded("neb_group_slot_bytes", [&]() {
    if (!group) return badArgument("neb_group_slot_bytes", "null group");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument("neb_group_slot_bytes", "particle slots are 0..31");
    return groupOf(group)->getBytesPerParticle(slot);
  });
}

int neb_group_values(neb_group* group, int slot, int first, int count, void* out, long long size) {
  static const char* const name = "neb_group_values";
  return guarded(name, [&]() {
    if (!group || !out) return badArgument(name, "null group or output");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument(name, "particle slots are 0..31");
    PGroup* g = groupOf(group);
    if (first < 0 || count < 0 || static_cast<long long>(first) + count > g->particleCount)
      return badArgument(name, "particles out of range");
    if (!g->hasChannel(slot)) return NEB_E_ABSENT;
    const long long bytes = g->getBytesPerParticle(slot);
    if (bytes <= 0) return badArgument(name, "the slot holds no per-particle data");
    if (size < bytes * count) return badArgument(name, "the output is smaller than count * slot bytes");
    if (count == 0) return NEB_OK;
    char* o = static_cast<char*>(out);
    // The slot's own expanded words are contiguous: one copy when they reach the range.
    if (g->slotHasData(slot) && g->expandedParticleCount(slot) >= static_cast<long long>(first) + count) {
      const void* p = g->getChannelData(first, slot);
      if (p) {
        std::memcpy(o, p, static_cast<size_t>(bytes * count));
        return NEB_OK;
      }
    }
    for (int i = 0; i < count; ++i) {
      if (!g->getParticleValue(first + i, slot, o + bytes * i)) {
        ZUtils::logReport("[ERROR] %s: slot %d of particle group '%s' does not reach particle %d\n", name, slot,
                          g->getName() ? g->getName() : "", first + i);
        return NEB_E_DECODE;
      }
    }
    return NEB_OK;
  });
}

int neb_group_find_id(neb_group* group, long long id) {
  return guarded("neb_group_find_id", [&]() {
    if (!group) return badArgument("neb_group_find_id", "null group");
    const int index = groupOf(group)->findParticleById(id);
    return index >= 0 ? index : NEB_E_ABSENT;
  });
}

}  // extern "C"
