// The process-wide registry of loaded frames and their reference counts.
//
// Shared frames (loaded without voxel limit and not header-only) are listed in the
// registry with a reference count; a further request for the same path, mapping text and
// modification time retains the listed frame instead of loading it again. Unshared frames
// (voxel-limited or header-only) are kept in a set of their own so that deleteINeb can
// destroy them; they are never found by a lookup.
//
// Every operation here takes the registry lock, so hosts may create and release frames
// from several threads; loading itself runs outside the lock. Frames still held when the
// library is unloaded are reported ("Ostrane cache file not released %d ref:%d\n", last
// to first) and destroyed.
#pragma once

#include <cstdint>

#include "nebloader_frame.h"

class OstraneFrameData;

namespace OstraneFrame {

// Retains `frame`: +1 and "refCount++" when it is listed, otherwise lists it with count 1
// ("refCount=1"). Null gives null.
OstraneFrameData* RetainFrame(OstraneFrameData* frame);

// Drops one reference ("refCount--"); at 0 the frame is unlisted and destroyed. An
// unshared frame handed out by the factory is destroyed at once. Null and pointers this
// library did not hand out are ignored.
void ReleaseFrame(INeb* frame);

// The first listed frame whose sourcePath and channelsMapping equal `path` and `mapping`
// byte for byte and whose sourceTime equals `fileTime`, retained; null when none.
OstraneFrameData* RetainMatchingFrame(const char* path, const char* mapping, int64_t fileTime);

// Lists a freshly loaded shareable frame with count 1, unless an equal frame (same path,
// mapping and time) was listed meanwhile by another thread: that one is retained and
// returned instead, and the caller destroys its own.
OstraneFrameData* RegisterLoadedFrame(OstraneFrameData* frame);

// Keeps an unshared frame so that ReleaseFrame can destroy it, with count 1. False when
// the set could not grow (the caller then destroys the frame itself).
bool AdoptUnsharedFrame(OstraneFrameData* frame);

// True for a frame handed out unshared (kept by AdoptUnsharedFrame and not yet released).
bool IsUnsharedFrame(const INeb* frame);

// Number of listed (shared) frames and of kept unshared frames.
int RegisteredFrameCount();
int UnsharedFrameCount();

// Reports and destroys every frame still held (listed frames last to first, then the
// unshared ones). Runs at library unload; safe to call more than once.
void ReleaseAllFrames();

}  // namespace OstraneFrame
