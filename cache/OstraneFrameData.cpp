// Construction, load-time reset, teardown and the particle-group queries of a frame.
#include "cache/OstraneFrameData.h"

#include <cstring>

#include "cache/ChannelBuffer.h"
#include "compress/SGCompressor.h"
#include "ostutils/Allocation.h"
#include "particles/MTComputeParticlesBbox.h"
#include "particles/PGroup.h"

namespace {

// Bit patterns matter here: these are the exact values files and reports carry.
float floatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

const uint32_t kEmptyMinimumBits = 0x7F7FFFFFu;  // FLT_MAX
const uint32_t kEmptyMaximumBits = 0x80800000u;  // -FLT_MIN
const uint32_t kBoxMinimumBits = 0x60AD78ECu;    // 1e20f
const uint32_t kBoxMaximumBits = 0xE0AD78ECu;    // -1e20f
const uint32_t kTag9DefaultBits = 0x3A83126Fu;   // 0.001f
const uint32_t kTag5DefaultBits = 0x3D088889u;   // 1/30

void setIdentity(float t[12]) {
  for (int i = 0; i < 12; ++i) t[i] = 0.0f;
  t[0] = t[4] = t[8] = 1.0f;
}

}  // namespace

OstraneFrameData::ChannelSlot::ChannelSlot()
    : minimum(floatFromBits(kEmptyMinimumBits)), maximum(floatFromBits(kEmptyMaximumBits)) {}

OstraneFrameData::OstraneFrameData() {
  groups.growDivisor = 4;
  std::memset(propsBlock, 0, sizeof propsBlock);
  setIdentity(transform);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 12; ++j) auxTransforms[i][j] = 0.0f;
  }
  setIdentity(auxTransforms[2]);
  for (int i = 0; i < kChannelCount; ++i) channelValues64[i] = -1;
  for (int i = 0; i < 3; ++i) {
    bboxMin[i] = floatFromBits(kBoxMinimumBits);
    bboxMax[i] = floatFromBits(kBoxMaximumBits);
  }
}

OstraneFrameData::~OstraneFrameData() {
  ClearFrameData();
  EmptyChannelSlots();
  delete compressorV5;
  delete compressorLegacy;
  delete bboxJob;
}

void OstraneFrameData::ResetForLoad(bool headerOnly) {
  flags = headerOnly ? kFlagHeaderOnly : 0u;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 12; ++j) auxTransforms[i][j] = 0.0f;
  }
  setIdentity(auxTransforms[2]);
  tag5Float = floatFromBits(kTag5DefaultBits);
  std::memset(propsBlock, 0, sizeof propsBlock);
  tag9Float = floatFromBits(kTag9DefaultBits);
  for (int i = 0; i < 3; ++i) {
    bboxMin[i] = floatFromBits(kBoxMinimumBits);
    bboxMax[i] = floatFromBits(kBoxMaximumBits);
  }
  EmptyChannelSlots();
  for (int i = 0; i < kChannelCount; ++i) channelValues64[i] = -1;
  channelMask = 0;
}

void OstraneFrameData::ClearFrameData() {
  OSTUtils::releaseArray(comprData);
  comprDataSzInts = 0;
  groups.Free();
  chunkText.clear();
  chunkText.shrink_to_fit();
  chunkTextBytes.release();
  for (int i = 0; i < kChannelCount; ++i) channelIntArrays[i].Free();
}

void OstraneFrameData::EmptyChannelSlots() {
  for (int i = 0; i < kChannelCount; ++i) ReleaseChannelSlot(i);
}

double OstraneFrameData::propsValue() const {
  double v;
  std::memcpy(&v, propsBlock + 8, sizeof v);
  return v;
}

void OstraneFrameData::setPropsValue(double v) { std::memcpy(propsBlock + 8, &v, sizeof v); }

void OstraneFrameData::getGridSize(int out[3]) {
  if (!out) return;
  for (int i = 0; i < 3; ++i) out[i] = gridSize[i];
}

void OstraneFrameData::getTransform(float out[12]) {
  if (!out) return;
  std::memcpy(out, transform, sizeof transform);
}

int OstraneFrameData::getParticleGroupCount() {
  int count = 0;
  for (int i = 0; i < groups.size; ++i) {
    if (groups[i].hasChannel(0)) ++count;
  }
  return count;
}

IOstranePrtGroup* OstraneFrameData::getParticleGroup(int n) {
  if (n < 0) return nullptr;
  int index = 0;
  for (int i = 0; i < groups.size; ++i) {
    if (!groups[i].hasChannel(0)) continue;
    if (index == n) return &groups[i];
    ++index;
  }
  return nullptr;
}

IOstranePrtGroup* OstraneFrameData::findParticleGroup(const char* name) {
  const char* wanted = name ? name : "";
  const size_t wantedLength = std::strlen(wanted);
  for (int i = 0; i < groups.size; ++i) {
    // Names read from a file may hold NUL bytes: compare the whole stored name.
    const OSTUtils::OstArray<char, int>& own = groups[i].name;
    const size_t ownLength = own.size > 0 ? static_cast<size_t>(own.size - 1) : 0;
    if (ownLength == wantedLength && (ownLength == 0 || std::memcmp(own.data, wanted, ownLength) == 0)) {
      return &groups[i];
    }
  }
  return nullptr;
}
