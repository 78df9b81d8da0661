// Fixed layout of the 32 particle channel slots.
//
//   slot               words  components  bytes  type code
//   0, 1, 4              3        3         12      10     (0 position, 1 velocity)
//   2, 3, 5, 9, 11, 17   1        1          4      10
//   6, 7, 8              0        0          0       0
//   10                   2        1          8       7     (64-bit id, low word first)
//   12 .. 16             1        1          4       6
//   18 .. 31             1        1          4       0
// Type code 10 marks float channels, 7 the 64-bit identifier, 6 integers. Slots outside
// 0..31 have no words, no components and type 0.
#pragma once

struct ParticleSlotLayout {
  static const int kSlotCount = 32;
  static const int kPositionSlot = 0;
  static const int kVelocitySlot = 1;
  static const int kIdSlot = 10;

  static bool isValidSlot(int slot) { return slot >= 0 && slot < kSlotCount; }
  static int words(int slot);
  static int components(int slot);
  static int typeCode(int slot);
  static int bytesPerParticle(int slot) { return words(slot) * 4; }
};
