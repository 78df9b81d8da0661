// Grid channels of a frame: decode on demand under the frame's re-entrant spin lock,
// derived speed (3 from 4, 5, 6) and colour (7, 8, 9 from the packed channel 18). The
// records are found, judged and decoded by the grid channel decoder (cache/ChannelDecoder.h),
// over the whole grid at once.
#include <thread>

#include "cache/ChannelBuffer.h"
#include "cache/ChannelDecoder.h"
#include "cache/GridRecordBytes.h"
#include "cache/OstraneFrameData.h"
#include "compress/NebFormat.h"
#include "compress/SGCompressor.h"
#include "ostutils/ParallelFill.h"
#include "zutils/Report.h"
#include "zutils/platform/Misc.h"

namespace {

const int kPackedColour = NebFormat::kGridPackedColour;
const int kSpeed = NebFormat::kGridSpeed;

}  // namespace

int64_t OstraneFrameData::CellCount() const {
  if (gridSize[0] < 0 || gridSize[1] < 0 || gridSize[2] < 0) return -1;
  int64_t xy = 0, cells = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(gridSize[0]), static_cast<int64_t>(gridSize[1]), &xy)) return -1;
  if (__builtin_mul_overflow(xy, static_cast<int64_t>(gridSize[2]), &cells)) return -1;
  // The buffers hold cells + slack floats and the packed colour cells * 4 bytes.
  if (cells > INT64_MAX / 8) return -1;
  return cells;
}

void OstraneFrameData::LockDecode() {
  const uint64_t self = ZUtils::platform::currentThreadId();
  if (decodeOwner.load(std::memory_order_relaxed) == self) {
    ++decodeDepth;
    return;
  }
  unsigned spins = 0;
  while (decodeLock.exchange(1, std::memory_order_acquire) != 0) {
    // A decode can take long on a busy machine; give the processor back now and then so
    // that the decoding thread (and its workers) can finish.
    if (++spins % 1024 == 0) std::this_thread::yield();
  }
  decodeOwner.store(self, std::memory_order_relaxed);
  decodeDepth = 1;
}

void OstraneFrameData::UnlockDecode() {
  if (--decodeDepth < 1) {
    decodeDepth = 0;
    decodeOwner.store(0, std::memory_order_relaxed);
    decodeLock.exchange(0, std::memory_order_release);
  }
}

bool OstraneFrameData::PrepareChannelSlot(int slot, int slack) { return PrepareChannelSlot(slot, slack, true); }

bool OstraneFrameData::PrepareChannelSlot(int slot, int slack, bool zeroFill) {
  if (slot < 0 || slot >= kChannelCount) return false;
  ReleaseChannelSlot(slot);
  const int64_t cells = CellCount();
  if (cells < 0 || slack < 0) return false;
  ChannelBuffer* buffer = ChannelBuffer::create(gridSize);
  if (!buffer) return false;
  // Zero-filled unless the caller writes every value itself: a grid block need not cover
  // every cell, and the host must never see leftover heap contents (buffers are reused,
  // ostutils/LargeBlockCache.h). The fill is the first touch of a fresh buffer, so it
  // runs on the job threads.
  if (!buffer->values.SetSize(cells + slack, nullptr, true)) {
    ZUtils::logReport("[ERROR] Could not allocate %lld values for grid channel %d\n", static_cast<long long>(cells + slack),
              slot);
    buffer->release();
    return false;
  }
  if (zeroFill) OSTUtils::ParallelFill(buffer->values.data, cells + slack, 0.0f);
  ChannelSlot& s = channelSlots[slot];
  s.holder = buffer;
  s.loaded = true;
  s.minimum = ChannelSlot().minimum;
  s.maximum = ChannelSlot().maximum;
  return true;
}

void OstraneFrameData::ReleaseChannelSlot(int slot) {
  if (slot < 0 || slot >= kChannelCount) return;
  ChannelSlot& s = channelSlots[slot];
  publishedValues[slot].store(nullptr, std::memory_order_release);
  if (s.holder) s.holder->release();
  s = ChannelSlot();
}

void OstraneFrameData::DecodeStoredChannel(int channel) {
  if (CellCount() < 0 || !comprData) return;
  const GridRecordBytes records(comprData, comprDataSzInts);
  const GridRecordIndex index(records);
  ChannelDecoder decoder(*this, records, index, channel);
  if (!decoder.found()) return;
  gridDecodeCount.fetch_add(1, std::memory_order_relaxed);
  // The record is judged before anything is sized by the grid (the buffer, from the grid
  // size, is bounded by the memory budget alone). Every value of the buffer is written by
  // the decode; the packed colour's is cleared first all the same, because that fill is
  // the first touch of a fresh buffer and runs on the job threads, where the inflate
  // would fault its pages in one by one on this thread.
  if (!decoder.open(ChannelDecoder::kWholeGrid)) return;
  if (!PrepareChannelSlot(channel, ChannelDecoder::kSlack, decoder.isPackedColour())) return;
  float* out = channelSlots[channel].holder->values.data;
  bool ok;
  if (decoder.isPackedColour()) {
    ok = decoder.readWords(0, gridSize[2], reinterpret_cast<uint32_t*>(out));
  } else {
    if (NebFormat::GridCodecDimension(version) == 1) {
      if (!compressorV5) compressorV5 = new (std::nothrow) OSTUtils::SGCompressor<1>(-1);
    } else if (!compressorLegacy) {
      compressorLegacy = new (std::nothrow) OSTUtils::SGCompressor<3>(-1);
    }
    decoder.useCompressor(compressorV5, compressorLegacy);
    ok = decoder.read(0, gridSize[2], out);
  }
  if (!ok) ReleaseChannelSlot(channel);  // reported by the decoder
}

// Splits the decoded packed colour of slot 18 into 7, 8 and 9, then frees slot 18.
// Colour slots that are already loaded are left alone: their buffers may have been handed
// out, so they are never replaced.
void OstraneFrameData::UnpackPackedColour() {
  const int64_t cells = CellCount();
  const int colourSlots[3] = {NebFormat::kGridColourRed, NebFormat::kGridColourGreen, NebFormat::kGridColourBlue};
  bool fresh[3] = {false, false, false};
  for (int k = 0; k < 3; ++k) {
    if (channelSlots[colourSlots[k]].loaded) continue;
    // Unpacking writes every cell of each fresh slot.
    if (!PrepareChannelSlot(colourSlots[k], 0, false)) {
      for (int j = 0; j < k; ++j) {
        if (fresh[j]) ReleaseChannelSlot(colourSlots[j]);
      }
      ReleaseChannelSlot(kPackedColour);
      return;
    }
    fresh[k] = true;
  }
  const uint32_t* packed = reinterpret_cast<const uint32_t*>(channelSlots[kPackedColour].holder->values.data);
  float* out[3] = {nullptr, nullptr, nullptr};
  for (int k = 0; k < 3; ++k) {
    if (fresh[k]) out[k] = channelSlots[colourSlots[k]].holder->values.data;
  }
  // One pass over the packed words for all three channels, on the job threads.
  ColourFromPacked(packed, cells, out[0], out[1], out[2]);
  ReleaseChannelSlot(kPackedColour);
}

void OstraneFrameData::DeriveSpeed() {
  const int64_t cells = CellCount();
  if (cells < 0) return;
  const ChannelSlot& x = GetChannel(NebFormat::kGridVelocityX);
  const ChannelSlot& y = GetChannel(NebFormat::kGridVelocityY);
  const ChannelSlot& z = GetChannel(NebFormat::kGridVelocityZ);
  if (!x.loaded || !y.loaded || !z.loaded || !x.holder || !y.holder || !z.holder) return;
  if (x.holder->values.size < cells || y.holder->values.size < cells || z.holder->values.size < cells) return;
  if (!PrepareChannelSlot(kSpeed, 0, false)) return;  // every cell is written below
  SpeedFromVelocity(x.holder->values.data, y.holder->values.data, z.holder->values.data,
                    channelSlots[kSpeed].holder->values.data, cells);
}

OstraneFrameData::ChannelSlot& OstraneFrameData::GetChannel(int channel) {
  if (channel < 0 || channel >= kChannelCount) return outOfRangeSlot;
  LockDecode();
  ChannelSlot& slot = channelSlots[channel];
  if (!slot.loaded) {
    if (channel == kPackedColour) {
      // Decode the packed colour only when some colour slot still needs it.
      if (!channelSlots[NebFormat::kGridColourRed].loaded || !channelSlots[NebFormat::kGridColourGreen].loaded ||
          !channelSlots[NebFormat::kGridColourBlue].loaded) {
        DecodeStoredChannel(kPackedColour);
        if (slot.loaded) UnpackPackedColour();
      }
    } else {
      DecodeStoredChannel(channel);
      if (!slot.loaded && DerivedSourceOf(channel) == NebFormat::kGridVelocityX) DeriveSpeed();
      // Colour comes from the packed channel; done under the lock so that two threads
      // asking for colour at once cannot unpack twice.
      if (!slot.loaded && DerivedSourceOf(channel) == kPackedColour) GetChannel(kPackedColour);
    }
  }
  UnlockDecode();
  return slot;
}

const float* OstraneFrameData::getChannel(int channel) {
  if (channel < 0 || channel >= kChannelCount) return nullptr;
  const float* published = publishedValues[channel].load(std::memory_order_acquire);
  if (published) return published;
  LockDecode();
  ChannelSlot& slot = GetChannel(channel);
  const float* values = nullptr;
  if (slot.loaded && slot.holder) {
    values = slot.holder->values.data;
    publishedValues[channel].store(values, std::memory_order_release);
  }
  UnlockDecode();
  return values;
}

int OstraneFrameData::hasChannel(int channel) {
  if (channel < 0 || channel > 30 || channel == kPackedColour) return 0;
  bool present = ((static_cast<uint32_t>(channelMask) >> channel) & 1u) != 0;
  if (!present && channel >= 7 && channel <= 9) present = ((static_cast<uint32_t>(channelMask) >> 18) & 1u) != 0;
  if (!present && channel == kSpeed) present = hasChannel(4) && hasChannel(5) && hasChannel(6);
  return present ? 1 : 0;
}
