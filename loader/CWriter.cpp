// C interface: writing a frame (grid channels lossless or quantized, particle groups,
// container version) with the project's nebu2 writer.
#include <cstdint>
#include <new>
#include <vector>

#include "cache/NebWriter.h"
#include "compress/GridBlockWriter.h"
#include "compress/ParticleChannelMethods.h"
#include "loader/CEntry.h"
#include "particles/ParticleSlotLayout.h"

using CInterface::badArgument;
using CInterface::guarded;

// The writer and what the C interface checks before handing arguments to it: NebWriter
// itself trusts its caller (tests build odd files with it).
struct neb_writer {
  NebWriter writer;
  int grid[3] = {0, 0, 0};
  bool haveChannels = false;
  std::vector<long long> groupCounts;  // particle count of each group added
};

namespace {

OSTUtils::GridBlockOptions optionsFor(int bits) {
  OSTUtils::GridBlockOptions options = OSTUtils::defaultGridBlockOptions();
  options.lossless = bits == 0;
  if (bits > 0) options.precisionBits = bits;
  return options;
}

}  // namespace

extern "C" {

int neb_writer_create(neb_writer** writer) {
  return guarded("neb_writer_create", [&]() {
    if (!writer) return badArgument("neb_writer_create", "null output");
    neb_writer* w = new neb_writer;
    w->writer.setGridBlockOptions(optionsFor(0));
    *writer = w;
    return NEB_OK;
  });
}

void neb_writer_free(neb_writer* writer) {
  guarded("neb_writer_free", [&]() {
    delete writer;
    return NEB_OK;
  });
}

int neb_writer_set_version(neb_writer* writer, int version) {
  return guarded("neb_writer_set_version", [&]() {
    if (!writer) return badArgument("neb_writer_set_version", "null writer");
    if (version < 3 || version > 5) return badArgument("neb_writer_set_version", "container versions are 3, 4 and 5");
    if (writer->haveChannels) return badArgument("neb_writer_set_version", "set the version before adding channels");
    writer->writer.setVersion(version);
    return NEB_OK;
  });
}

int neb_writer_set_grid(neb_writer* writer, int nx, int ny, int nz, const float transform[12]) {
  static const char* const name = "neb_writer_set_grid";
  return guarded(name, [&]() {
    if (!writer) return badArgument(name, "null writer");
    if (nx < 0 || ny < 0 || nz < 0) return badArgument(name, "negative grid size");
    if (writer->haveChannels) return badArgument(name, "set the grid before adding channels");
    writer->writer.setGridSize(nx, ny, nz);
    writer->grid[0] = nx;
    writer->grid[1] = ny;
    writer->grid[2] = nz;
    if (transform) writer->writer.setTransform(transform);
    return NEB_OK;
  });
}

int neb_writer_set_frame_number(neb_writer* writer, int frame_number) {
  return guarded("neb_writer_set_frame_number", [&]() {
    if (!writer) return badArgument("neb_writer_set_frame_number", "null writer");
    writer->writer.setFrameNumber(frame_number);
    return NEB_OK;
  });
}

int neb_writer_set_precision(neb_writer* writer, int bits) {
  return guarded("neb_writer_set_precision", [&]() {
    if (!writer) return badArgument("neb_writer_set_precision", "null writer");
    if (bits < 0 || bits > 19) return badArgument("neb_writer_set_precision", "precision is 0 (lossless) or 1..19 bits");
    writer->writer.setGridBlockOptions(optionsFor(bits));
    return NEB_OK;
  });
}

int neb_writer_add_channel(neb_writer* writer, int channel, const float* values, long long count) {
  static const char* const name = "neb_writer_add_channel";
  return guarded(name, [&]() {
    if (!writer || !values) return badArgument(name, "null writer or values");
    if (channel < 0 || channel >= NEB_CHANNELS || channel == NEB_CHANNEL_PACKED_COLOR)
      return badArgument(name, "grid channels are 0..31 except 18");
    const long long cells = static_cast<long long>(writer->grid[0]) * writer->grid[1] * writer->grid[2];
    if (cells == 0) return badArgument(name, "set a grid of at least one cell first");
    if (count != cells) return badArgument(name, "the value count is not nx*ny*nz");
    writer->haveChannels = true;
    if (!writer->writer.addChannel(channel, values)) {
      ZUtils::logReport("[ERROR] %s: grid channel %d could not be encoded\n", name, channel);
      return NEB_E_WRITE;
    }
    return NEB_OK;
  });
}

int neb_writer_add_group(neb_writer* writer, const char* group_name, long long particles, int group_type,
                         int* index) {
  static const char* const name = "neb_writer_add_group";
  return guarded(name, [&]() {
    if (!writer || !group_name) return badArgument(name, "null writer or name");
    if (particles < 0) return badArgument(name, "negative particle count");
    if (particles > INT32_MAX) return badArgument(name, "a group holds at most 2147483647 particles");
    writer->groupCounts.reserve(writer->groupCounts.size() + 1);
    const int i = writer->writer.addGroup(group_name, static_cast<int>(particles), group_type);
    writer->groupCounts.push_back(particles);
    if (index) *index = i;
    return NEB_OK;
  });
}

int neb_writer_set_slot(neb_writer* writer, int group, int slot, const void* values, long long size) {
  static const char* const name = "neb_writer_set_slot";
  return guarded(name, [&]() {
    if (!writer || !values) return badArgument(name, "null writer or values");
    if (group < 0 || group >= static_cast<int>(writer->groupCounts.size())) return badArgument(name, "no such group");
    if (!ParticleSlotLayout::isValidSlot(slot)) return badArgument(name, "particle slots are 0..31");
    const long long words = ParticleSlotLayout::words(slot);
    if (words == 0) return badArgument(name, "the slot holds no per-particle data");
    if (size != words * 4 * writer->groupCounts[static_cast<size_t>(group)])
      return badArgument(name, "the size is not particles * slot words * 4 bytes");
    // zlib: lossless for every slot type, identifiers included.
    if (!writer->writer.setGroupChannel(group, slot, values, OSTUtils::kChannelZip)) {
      ZUtils::logReport("[ERROR] %s: particle slot %d of group %d could not be set\n", name, slot, group);
      return NEB_E_WRITE;
    }
    return NEB_OK;
  });
}

int neb_writer_write(neb_writer* writer, const char* path) {
  return guarded("neb_writer_write", [&]() {
    if (!writer || !path) return badArgument("neb_writer_write", "null writer or path");
    return writer->writer.write(path) ? NEB_OK : NEB_E_WRITE;
  });
}

}  // extern "C"
