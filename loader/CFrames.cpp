// C interface: what a frame holds: its grid, transform, channels and groups.
#include <cstdint>

#include "cache/FrameRegistry.h"
#include "loader/CEntry.h"

using CInterface::badArgument;
using CInterface::frameOf;
using CInterface::guardedOn;
using CInterface::handleOf;

namespace {

const size_t kInfoEnds[] = {
    NEB_FIELD_END(neb_frame_info, version),      NEB_FIELD_END(neb_frame_info, has_frame_number),
    NEB_FIELD_END(neb_frame_info, frame_number), NEB_FIELD_END(neb_frame_info, stored_grid_size),
    NEB_FIELD_END(neb_frame_info, cells),        NEB_FIELD_END(neb_frame_info, grid_mask),
    NEB_FIELD_END(neb_frame_info, group_count),  NEB_FIELD_END(neb_frame_info, stored_group_count),
    NEB_FIELD_END(neb_frame_info, open_flags)};

bool isShared(neb_frame* frame) { return !OstraneFrame::IsUnsharedFrame(frameOf(frame)); }

}  // namespace

extern "C" {

int neb_frame_get_info(neb_frame* frame, neb_frame_info* info) {
  static const char* const name = "neb_frame_get_info";
  return guardedOn(name, frame, [&]() {
    if (!frame || !info) return badArgument(name, "null frame or output");
    if (!CInterface::sizeIsValid(info, kInfoEnds)) return badArgument(name, "info->size is below sizeof(long long)");
    const OstraneFrameData* f = frameOf(frame);
    neb_frame_info i = neb_frame_info();
    i.size = sizeof i;
    i.version = f->version == INT32_MAX ? 0 : f->version;
    i.has_frame_number = f->frameNumber != INT32_MIN ? 1 : 0;
    i.frame_number = i.has_frame_number ? f->frameNumber : 0;
    for (int k = 0; k < 3; ++k) i.stored_grid_size[k] = f->gridSize[k];
    i.cells = f->CellCount();
    i.grid_mask = static_cast<uint32_t>(f->channelMask);
    i.group_count = frameOf(frame)->getParticleGroupCount();
    i.stored_group_count = f->groups.size;
    if (!isShared(frame)) i.open_flags |= NEB_OPEN_UNSHARED;
    if (f->flags & OstraneFrameData::kFlagHeaderOnly) i.open_flags |= NEB_OPEN_HEADER_ONLY;
    if (CInterface::gridInFileOf(frame, nullptr)) i.open_flags |= NEB_OPEN_GRID_IN_FILE;
    CInterface::deliverStruct(i, info, kInfoEnds);
    return NEB_OK;
  });
}

int neb_frame_grid_size(neb_frame* frame, int size[3]) {
  static const char* const name = "neb_frame_grid_size";
  return guardedOn(name, frame, [&]() {
    if (!frame || !size) return badArgument(name, "null frame or output");
    const OstraneFrameData* f = frameOf(frame);
    // A damaged size would reach hosts that multiply it: such a frame has no grid.
    if (f->CellCount() < 0) {
      ZUtils::logReport("[ERROR] %s: the stored grid size %d x %d x %d is damaged\n", name, f->gridSize[0],
                        f->gridSize[1], f->gridSize[2]);
      return NEB_E_DECODE;
    }
    frameOf(frame)->getGridSize(size);
    return NEB_OK;
  });
}

int neb_frame_transform(neb_frame* frame, float transform[12]) {
  return guardedOn("neb_frame_transform", frame, [&]() {
    if (!frame || !transform) return badArgument("neb_frame_transform", "null frame or output");
    frameOf(frame)->getTransform(transform);
    return NEB_OK;
  });
}

int neb_frame_has_channel(neb_frame* frame, int channel) {
  return guardedOn("neb_frame_has_channel", frame, [&]() {
    if (!frame) return badArgument("neb_frame_has_channel", "null frame");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument("neb_frame_has_channel", "channels are 0..31");
    return frameOf(frame)->hasChannel(channel) ? 1 : 0;
  });
}

int neb_frame_channel(neb_frame* frame, int channel, const float** values) {
  static const char* const name = "neb_frame_channel";
  return guardedOn(name, frame, [&]() {
    if (!frame || !values) return badArgument(name, "null frame or output");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument(name, "channels are 0..31");
    // A frame whose grid stayed in its file has nothing to decode here (neb_slab_read).
    if (CInterface::gridInFileOf(frame, nullptr)) return NEB_E_ABSENT;
    // Exactly what getChannel gives: a stored record is read even when its mask bit is
    // clear, so absence is decided only after a failed read (a refusal of the budget on
    // the way makes the call NEB_E_MEMORY).
    const float* v = frameOf(frame)->getChannel(channel);
    if (!v) return frameOf(frame)->hasChannel(channel) ? NEB_E_DECODE : NEB_E_ABSENT;
    *values = v;
    return NEB_OK;
  });
}

int neb_frame_release_channel(neb_frame* frame, int channel) {
  static const char* const name = "neb_frame_release_channel";
  return guardedOn(name, frame, [&]() {
    if (!frame) return badArgument(name, "null frame");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument(name, "channels are 0..31");
    if (isShared(frame)) return badArgument(name, "the channels of a shared frame cannot be freed");
    frameOf(frame)->ReleaseChannelSlot(channel);
    return NEB_OK;
  });
}

int neb_frame_version(neb_frame* frame, int* version) {
  return guardedOn("neb_frame_version", frame, [&]() {
    if (!frame || !version) return badArgument("neb_frame_version", "null frame or output");
    *version = frameOf(frame)->version;
    return NEB_OK;
  });
}

int neb_frame_number(neb_frame* frame, int* number) {
  return guardedOn("neb_frame_number", frame, [&]() {
    if (!frame || !number) return badArgument("neb_frame_number", "null frame or output");
    if (frameOf(frame)->frameNumber == INT32_MIN) return NEB_E_ABSENT;
    *number = frameOf(frame)->frameNumber;
    return NEB_OK;
  });
}

int neb_frame_group_count(neb_frame* frame) {
  return guardedOn("neb_frame_group_count", frame, [&]() {
    if (!frame) return badArgument("neb_frame_group_count", "null frame");
    return frameOf(frame)->getParticleGroupCount();
  });
}

int neb_frame_group(neb_frame* frame, int index, neb_group** group) {
  static const char* const name = "neb_frame_group";
  return guardedOn(name, frame, [&]() {
    if (!frame || !group) return badArgument(name, "null frame or output");
    if (index < 0 || index >= frameOf(frame)->getParticleGroupCount())
      return badArgument(name, "no group of that index");
    IOstranePrtGroup* g = frameOf(frame)->getParticleGroup(index);
    if (!g) return NEB_E_ABSENT;
    *group = handleOf(static_cast<PGroup*>(g));
    return NEB_OK;
  });
}

int neb_frame_find_group(neb_frame* frame, const char* group_name, neb_group** group) {
  static const char* const name = "neb_frame_find_group";
  return guardedOn(name, frame, [&]() {
    if (!frame || !group_name || !group) return badArgument(name, "null frame, name or output");
    IOstranePrtGroup* g = frameOf(frame)->findParticleGroup(group_name);
    if (!g) return NEB_E_ABSENT;
    *group = handleOf(static_cast<PGroup*>(g));
    return NEB_OK;
  });
}

}  // extern "C"
