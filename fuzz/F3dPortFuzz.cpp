// The Field3D plug-in's own readers on damaged files: the Ogawa container and object
// reader, the layout it builds, the grid naming, the placements and transforms (frustum
// fits included) and the layer decoding (dense, sparse with zlib blocks), through a full
// and a header-only import of every offered grid into a frame; and the HDF5 superblock
// check that runs before libhdf5 is given a file. libhdf5 itself is not fuzzed here (it
// is not hardened against damaged files; the README says what is checked before it runs).
//
// Input: the file's bytes, read from memory. Files starting with the Ogawa magic go to the
// Ogawa reader; every input goes to the superblock check.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "cache/ChannelBuffer.h"
#include "cache/OstraneFrameData.h"
#include "plugins/f3dport/F3dFrameImport.h"
#include "plugins/f3dport/Hdf5Superblock.h"
#include "plugins/f3dport/OgawaArchive.h"
#include "plugins/f3dport/OgawaF3dFile.h"

namespace {

volatile float gSink;

void touch(OstraneFrameData& frame) {
  const int n[3] = {frame.gridSize[0], frame.gridSize[1], frame.gridSize[2]};
  for (const OstraneFrameData::ChannelSlot& slot : frame.channelSlots)
    if (slot.holder && slot.loaded) gSink = nebfuzz::touchChannel(slot.holder->values.data, n);
}

// Every offered grid on a channel of its own (0..31 except packed colour 18), in listing
// order; vector components of one layer land on neighbouring channels.
std::vector<CacheIO::GridMapping> mapEverything(const CacheIO::AvailableChannelList& offered) {
  std::vector<CacheIO::GridMapping> entries;
  int channel = 0;
  for (int i = 0; i < offered.size && channel < OstraneFrameData::kChannelCount; ++i, ++channel) {
    if (channel == 18) ++channel;
    entries.emplace_back(offered.data[i].name, channel);
  }
  // And a name no file offers, which is skipped.
  entries.emplace_back("no such grid", 1);
  return entries;
}

}  // namespace

NEB_FUZZ_TARGET(f3dport) {
  const size_t head = size < F3dPort::kHdf5SuperblockBytes ? size : F3dPort::kHdf5SuperblockBytes;
  gSink = static_cast<float>(F3dPort::checkHdf5Superblock(data, head, size).size());
  if (!F3dPort::OgawaArchive::hasMagic(data, size)) return 0;

  std::unique_ptr<F3dPort::OgawaF3dFile> file =
      F3dPort::OgawaF3dFile::open(F3dPort::CappedReader::inMemory(data, size), "fuzz.f3d");
  if (!file) return 0;
  CacheIO::AvailableChannelList offered;
  F3dPort::listChannelsOf(*file, offered);
  const std::vector<CacheIO::GridMapping> entries = mapEverything(offered);
  const int count = static_cast<int>(entries.size());
  for (bool headerOnly : {true, false}) {
    OstraneFrameData frame;
    frame.ResetForLoad(headerOnly);
    if (F3dPort::importFromFile(*file, frame, headerOnly, entries.data(), count) == 0 && !headerOnly) touch(frame);
  }
  return 0;
}
