// C interface: a frame's grid channels read slab by slab (cache/FrameSlabReader.h), from
// the frame's records in memory or, for a frame opened NEB_OPEN_GRID_IN_FILE, from its file.
#include <memory>

#include "cache/FrameSlabReader.h"
#include "cache/GridRecordBytes.h"
#include "loader/CEntry.h"

using CInterface::badArgument;
using CInterface::frameOf;
using CInterface::guardedOn;

struct neb_slab_reader {
  OstraneFrameData* frame = nullptr;
  std::unique_ptr<GridRecordBytes> records;
  std::unique_ptr<FrameSlabReader> reader;
  bool hasRecords = false;       // the frame holds grid records (not imported, not header-only)
  bool reading = false;          // a slab has been read: no channel can be opened any more
  int slabZ0 = -1, slabZ1 = -1;  // the current slab
  unsigned readInSlab = 0;       // bit c: channel c was read for the current slab
  unsigned failed = 0;           // bit c: a read of channel c failed
  int64_t layer = 0;
  int nz = 0;
};

extern "C" {

int neb_slab_reader_open(neb_frame* frame, neb_slab_reader** reader) {
  static const char* const name = "neb_slab_reader_open";
  return guardedOn(name, frame, [&]() {
    if (!frame || !reader) return badArgument(name, "null frame or output");
    std::unique_ptr<neb_slab_reader> r(new neb_slab_reader);
    OstraneFrameData* f = frameOf(frame);
    r->frame = f;
    GridDataLocation where;
    if (CInterface::gridInFileOf(frame, &where)) {
      r->records.reset(new GridRecordBytes);
      if (!r->records->openFile(where)) return NEB_E_FAILED;
    } else {
      r->records.reset(new GridRecordBytes(f->comprData, f->comprDataSzInts));
    }
    r->hasRecords = r->records->ints() > 1;
    r->reader.reset(new FrameSlabReader(*f, *r->records));
    const int64_t cells = f->CellCount();
    if (cells >= 0) {
      r->layer = static_cast<int64_t>(f->gridSize[0]) * f->gridSize[1];
      r->nz = f->gridSize[2];
    }
    *reader = r.release();
    return NEB_OK;
  });
}

void neb_slab_reader_close(neb_slab_reader* reader) {
  guardedOn("neb_slab_reader_close", reader ? reader->frame : nullptr, [&]() {
    delete reader;
    return NEB_OK;
  });
}

int neb_slab_open_channel(neb_slab_reader* reader, int channel, int* source) {
  static const char* const name = "neb_slab_open_channel";
  return guardedOn(name, reader ? reader->frame : nullptr, [&]() {
    if (!reader) return badArgument(name, "null reader");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument(name, "channels are 0..31");
    if (reader->reading) return badArgument(name, "channels are opened before the first slab is read");
    if (!reader->reader->open(channel)) {
      // As neb_frame_channel: refused data of a channel the frame declares is a decode failure.
      const bool declared = reader->hasRecords && reader->frame->hasChannel(channel);
      return declared ? NEB_E_DECODE : NEB_E_ABSENT;
    }
    if (source) *source = reader->reader->sourceOf(channel);
    return NEB_OK;
  });
}

int neb_slab_read(neb_slab_reader* reader, int channel, int z0, int z1, float* out, long long capacity) {
  static const char* const name = "neb_slab_read";
  return guardedOn(name, reader ? reader->frame : nullptr, [&]() {
    if (!reader) return badArgument(name, "null reader");
    if (channel < 0 || channel >= NEB_CHANNELS) return badArgument(name, "channels are 0..31");
    if (reader->reader->sourceOf(channel) < 0) return badArgument(name, "the channel is not open");
    if (z0 < 0 || z1 < z0 || z1 > reader->nz) return badArgument(name, "layers z0..z1-1 lie outside the grid");
    const long long need = static_cast<long long>(z1 - z0) * reader->layer;
    if (capacity < need || (need > 0 && !out)) return badArgument(name, "the buffer cannot hold the slab");
    if (z1 == z0) return NEB_OK;
    const unsigned bit = 1u << channel;
    if (reader->failed & bit) {
      ZUtils::logReport("[ERROR] %s: grid channel %d failed at an earlier slab\n", name, channel);
      return NEB_E_DECODE;
    }
    if (z0 == reader->slabZ0 && z1 == reader->slabZ1) {
      if (reader->readInSlab & bit) return badArgument(name, "the channel was read for this slab already");
    } else if (z0 >= reader->slabZ1) {
      reader->slabZ0 = z0;
      reader->slabZ1 = z1;
      reader->readInSlab = 0;
    } else {
      return badArgument(name, "slabs go back or overlap the current slab");
    }
    reader->reading = true;
    reader->readInSlab |= bit;
    if (reader->reader->read(channel, z0, z1, out)) return NEB_OK;
    // The colour channels share one stream: when it breaks, all of them fail.
    const int from = reader->reader->sourceOf(channel);
    for (int c = 0; c < NEB_CHANNELS; ++c)
      if (c == channel || (from == NEB_CHANNEL_PACKED_COLOR && reader->reader->sourceOf(c) == from))
        reader->failed |= 1u << c;
    return NEB_E_DECODE;
  });
}

}  // extern "C"
