// The binary answers the page reads (all numbers little-endian, every block 4-byte
// aligned so that the page can view arrays in place):
//
// Volume ("NVOL"): u32 magic 0x4C4F564E, u32 version 1, u32 channel count, u32 size[3]
// (cells sent), u32 full size[3] (the frame's grid), u32 factor, f32 transform[12] (world
// to grid, v = w * A + o: A by rows, then o); then per channel:
//   i32 channel, u32 status (0 ok, 1 absent, 2 failed), u32 bits (8 or 16; 0 unless ok),
//   f32 min, f32 max (of the finite values sent), u32 reason bytes, u32 data bytes,
//   the reason (UTF-8) padded to 4 bytes, the data padded to 4 bytes: one quantised value
//   q per cell, x fastest, standing for min + q / (2^bits - 1) * (max - min) (min when
//   max == min); non-finite cells are sent as 0.
// Slice ("NSLC"): u32 magic 0x434C534E, u32 version 1, i32 channel, u32 axis (0 x, 1 y,
//   2 z), u32 index, u32 width, u32 height, u32 full size[3], f32 min, f32 max (finite
//   values; 0 and 0 when there are none), then width*height f32, the first named axis
//   fastest (axis z: x by y, axis y: x by z, axis x: y by z), exactly as the library gives.
// Particles ("NPRT"): u32 magic 0x5452504E, u32 version 1, u32 count (low, high words),
//   u32 sent, u32 stride, u32 flags (bit 0 velocities, bit 1 identifiers), u32 name bytes,
//   the name padded to 4 bytes, then sent*3 f32 positions (world space), sent*3 f32
//   velocities when flagged, sent i64 identifiers (low, high words) when flagged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "tools/nebview/FrameSource.h"

namespace NebView {

// Takes the bytes of an answer piece by piece (pieces of at most 64 KiB): a whole answer
// is never held uncompressed. False stops the encoding.
typedef std::function<bool(const char* data, size_t size)> ByteSink;

// Each returns false when the sink did. A volume is its header and then each channel in
// turn, so that a channel can be sent as soon as it is read and freed.
bool encodeVolumeHeader(const FrameSource::Volume& volume, size_t channels, const ByteSink& sink);
bool encodeVolumeChannel(const FrameSource::VolumeChannel& channel, int bits, const ByteSink& sink);
bool encodeSlice(const FrameSource::Slice& slice, int channel, int axis, int64_t index, const ByteSink& sink);
bool encodeParticles(const FrameSource::Particles& particles, const ByteSink& sink);

}  // namespace NebView
