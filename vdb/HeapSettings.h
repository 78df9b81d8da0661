// Heap behaviour for converting long sequences.
#pragma once

namespace VolConvert {

// Keeps freed frame buffers in the process heap so the next frame reuses warm pages.
//
// A 256^3 frame is several hundred MiB of channel buffers and trees, allocated and freed
// once per frame. glibc serves blocks above its mmap threshold (at most 32 MiB) with fresh
// mappings and unmaps them on free, so every frame would fault its memory in again: about
// 11 us per 4 KiB page on these machines, 0.2 s per 64 MiB channel. With mmap disabled and
// trimming off, the blocks come from the heap and stay there between frames.
void keepLargeBuffersWarm();

}  // namespace VolConvert
