// OstraneFrameData: one loaded cache frame, the library's only implementation of INeb.
//
// A frame holds the grid description (size, transform, channel mask), the grid data still
// compressed exactly as read from the file (comprData), a decode-on-demand cache of the
// grid channels (channelSlots), the particle groups and the particle bounding box.
// Frames are made by the factory (loader/FrameFactory.h), filled by a loader (ImportNeb for
// nebu2 files, the plug-in imports for foreign files) and destroyed by the registry.
//
// Threads: any number of threads may call the INeb operations of a loaded frame at once;
// grid decoding is serialised by the frame's re-entrant decode lock, particle channels by
// the groups' own locks. Loading, ResetForLoad, ClearFrameData and destruction must not
// overlap with readers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "nebloader_frame.h"
#include "ostutils/OstArray.h"
#include "zutils/PluginExport.h"

class PGroup;
class MTComputeParticlesBbox;
class ChannelBuffer;
namespace OSTUtils {
template <int D>
class SGCompressor;
}

class OstraneFrameData : public INeb {
 public:
  typedef ::PGroup PGroup;

  // Decode-cache entry of one grid channel. An empty slot has no holder, is not loaded and
  // has the empty range: minimum = FLT_MAX (0x7F7FFFFF), maximum = -FLT_MIN (0x80800000).
  struct ChannelSlot {
    ChannelBuffer* holder = nullptr;  // one reference owned by the slot
    bool loaded = false;
    float minimum;
    float maximum;
    ChannelSlot();
  };

  // flags bits
  enum : uint32_t { kFlagMaskBit31 = 1u << 0, kFlagHeaderOnly = 1u << 2 };
  static const int kChannelCount = 32;
  static const int kPropsBlockBytes = 392;

  OstraneFrameData();
  ~OstraneFrameData() override;
  OstraneFrameData(const OstraneFrameData&) = delete;
  OstraneFrameData& operator=(const OstraneFrameData&) = delete;

  // INeb, in slot order.
  // Null for channels outside 0..31, absent or undecodable channels. A returned pointer stays
  // valid for the life of the frame.
  const float* getChannel(int channel) override;
  // Channel present in channelMask (7, 8, 9 also via packed colour 18; 3 also when 4, 5, 6
  // are). 18 and numbers outside 0..31 give 0. Decodes nothing.
  int hasChannel(int channel) override;
  void getGridSize(int out[3]) override;
  void getTransform(float out[12]) override;
  // Groups whose position slot (particle slot 0) holds data.
  int getParticleGroupCount() override;
  // n-th group among those counted by getParticleGroupCount, or null.
  IOstranePrtGroup* getParticleGroup(int n) override;
  // First group, counted or not, whose name equals `name` byte for byte (null matches "").
  IOstranePrtGroup* findParticleGroup(const char* name) override;

  // Load-time defaults (see the member list); called at the start of every loader.
  void ResetForLoad(bool headerOnly);
  // Frees comprData, the groups, chunkText and the 32 channelIntArrays.
  void ClearFrameData();
  // Releases the buffers of all 32 channel slots and empties them.
  void EmptyChannelSlots();

  // Reads a nebu2 file into this frame. `path` is UTF-8. Returns 0 loaded; 3 empty path,
  // file not openable or lockable, negative 32-bit data offset; 4 broken file or memory
  // shortage (reported); 12 footer magic missing. headerOnly skips grid data, particle
  // identifiers and particle channel data (except old-style blocks in files without a
  // group table) and leaves a one-element placeholder comprData.
  int ImportNeb(const char* path, bool openOnce, bool headerOnly);

  // The slot of `channel`, decoding or deriving it first if needed. Channels outside 0..31
  // give a slot that is always empty.
  ChannelSlot& GetChannel(int channel);
  // Replaces the slot's buffer by a fresh one of cells + slack floats made for the current
  // gridSize and marks it loaded. False (slot left empty) when the cell count is invalid or
  // an allocation fails.
  // Exported to plug-ins, which fill their channels through it.
  NEB_PLUGIN_API bool PrepareChannelSlot(int slot, int slack);
  // Drops the slot's reference to its buffer and empties the slot.
  NEB_PLUGIN_API void ReleaseChannelSlot(int slot);

  // Cell count nx*ny*nz of gridSize, or -1 when a size is negative or the product (as
  // floats) does not fit in memory terms.
  NEB_PLUGIN_API int64_t CellCount() const;

  double propsValue() const;
  void setPropsValue(double v);

  uint32_t flags = 0;
  OSTUtils::OstArray<int32_t, int> channelIntArrays[kChannelCount];
  int32_t* comprData = nullptr;  // OSTUtils::newArray / releaseArray
  int32_t comprDataSzInts = 0;
  int32_t channelMask = 0;
  OSTUtils::OstArray<PGroup, int> groups;
  int32_t gridSize[3] = {0, 0, 0};
  int32_t frameNumber = INT32_MIN;
  int32_t version = INT32_MAX;
  bool flushOnRelease = false;
  unsigned char propsBlock[kPropsBlockBytes];
  float tag9Float = 0.0f;
  float transform[12];
  float tag5Float = 0.0f;
  float auxTransforms[3][12];
  ChannelSlot channelSlots[kChannelCount];
  int64_t channelValues64[kChannelCount];
  OSTUtils::SGCompressor<1>* compressorV5 = nullptr;
  OSTUtils::SGCompressor<3>* compressorLegacy = nullptr;
  float bboxMin[3];
  float bboxMax[3];
  // Re-entrant spin lock over grid decoding: lock word, owning thread, owner's depth.
  std::atomic<int32_t> decodeLock{0};
  std::atomic<uint64_t> decodeOwner{0};
  int32_t decodeDepth = 0;
  // chunkText's bytes in the memory budget (its size comes from the file).
  OSTUtils::MemoryReservation chunkTextBytes;
  std::string chunkText;
  std::string sourcePath;
  std::string channelsMapping;
  int64_t sourceTime = 0;
  int32_t refCount = 0;
  MTComputeParticlesBbox* bboxJob = nullptr;

  // Number of grid-channel decodes run (compressor blocks and zlib inflates); lets tests
  // prove a channel is decoded once.
  std::atomic<int> gridDecodeCount{0};

 private:
  void LockDecode();
  void UnlockDecode();
  // PrepareChannelSlot without the zero-fill, for slots whose every value the caller
  // writes before the slot is published (colour unpacking, derived speed).
  bool PrepareChannelSlot(int slot, int slack, bool zeroFill);
  void DecodeStoredChannel(int channel);
  void UnpackPackedColour();
  void DeriveSpeed();

  ChannelSlot outOfRangeSlot;
  // Value pointer of each loaded slot, published once the decode is complete so that
  // getChannel of a decoded channel needs no lock. Cleared when the slot is released.
  std::atomic<const float*> publishedValues[kChannelCount] = {};
};
