#include "particles/ParticleSlotLayout.h"

namespace {

struct SlotInfo {
  signed char words;
  signed char components;
  signed char typeCode;
};

const SlotInfo kSlots[ParticleSlotLayout::kSlotCount] = {
    {3, 3, 10}, {3, 3, 10}, {1, 1, 10}, {1, 1, 10},  // 0..3
    {3, 3, 10}, {1, 1, 10}, {0, 0, 0},  {0, 0, 0},   // 4..7
    {0, 0, 0},  {1, 1, 10}, {2, 1, 7},  {1, 1, 10},  // 8..11
    {1, 1, 6},  {1, 1, 6},  {1, 1, 6},  {1, 1, 6},   // 12..15
    {1, 1, 6},  {1, 1, 10}, {1, 1, 0},  {1, 1, 0},   // 16..19
    {1, 1, 0},  {1, 1, 0},  {1, 1, 0},  {1, 1, 0},   // 20..23
    {1, 1, 0},  {1, 1, 0},  {1, 1, 0},  {1, 1, 0},   // 24..27
    {1, 1, 0},  {1, 1, 0},  {1, 1, 0},  {1, 1, 0},   // 28..31
};

}  // namespace

int ParticleSlotLayout::words(int slot) { return isValidSlot(slot) ? kSlots[slot].words : 0; }
int ParticleSlotLayout::components(int slot) { return isValidSlot(slot) ? kSlots[slot].components : 0; }
int ParticleSlotLayout::typeCode(int slot) { return isValidSlot(slot) ? kSlots[slot].typeCode : 0; }
