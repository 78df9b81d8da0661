// NebWriter: assembling a nebu2 file (see NebWriter.h for the layout written).
#include "cache/NebWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compress/EntropyCoder.h"
#include "compress/GridBlockWriter.h"
#include "compress/NebFormat.h"
#include "compress/ParticleChannelMethods.h"
#include "compress/ZipBlock.h"
#include "particles/ParticleSlotLayout.h"
#include "zutils/FileAccess.h"
#include "zutils/Report.h"

namespace {

const int kSlots = 32;
const int kPackedColour = NebFormat::kGridPackedColour;

// Little-endian byte sink. The hosts this builds for are little-endian, so values are
// copied as they are in memory.
struct Bytes {
  std::vector<char> data;
  void put(const void* p, size_t n) {
    const char* c = static_cast<const char*>(p);
    data.insert(data.end(), c, c + n);
  }
  void i32(int32_t v) { put(&v, 4); }
  void i64(int64_t v) { put(&v, 8); }
  void f32(float v) { put(&v, 4); }
  void str(const std::string& s) {
    i32(static_cast<int32_t>(s.size()));
    put(s.data(), s.size());
  }
  void padTo4() {
    while (data.size() % 4) data.push_back(0);
  }
  int64_t size() const { return static_cast<int64_t>(data.size()); }
};

}  // namespace

struct NebWriter::State {
  struct Group {
    std::string name;
    int particleCount = 0;
    int groupType = 0;
    bool hasExtra = false;
    unsigned char extra[8] = {};
    bool present[kSlots] = {};
    int method[kSlots] = {};
    bool verbatim[kSlots] = {};  // data holds the stored record itself
    std::vector<char> data[kSlots];
  };
  struct RawChunk {
    int32_t id;
    std::vector<char> payload;
    int64_t declared;
  };

  int version = 5;
  int grid[3] = {0, 0, 0};
  float transform[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  bool maskOverride = false;
  int32_t mask = 0;
  int32_t computedMask = 0;
  int gridDimension = 0;
  OSTUtils::GridBlockOptions gridOptions = OSTUtils::defaultGridBlockOptions();
  OSTUtils::GridBlockOptions particleOptions = OSTUtils::defaultGridBlockOptions();
  Bytes gridRecords;
  bool forceGrid = false;

  bool hasFrame = false;
  int frame = 0;
  bool has5 = false;
  float tag5 = 0;
  bool has6 = false;
  float aux6[12] = {};
  bool has8 = false;
  float tag8 = 0;
  bool has9 = false;
  int32_t tag9Word = 0;
  float tag9Float = 0;
  bool has10 = false;
  double tag10Value = 0;
  unsigned char tag10Bytes[8] = {};
  bool has11 = false;
  float tag11Aux[3][12] = {};
  unsigned char tag11Bytes[8] = {};
  bool has12 = false;
  std::vector<char> props;

  bool hasText = false;
  std::string text;
  std::vector<std::pair<int32_t, std::pair<float, float>>> ranges;
  std::vector<std::pair<int32_t, int64_t>> values64;
  std::vector<RawChunk> rawChunks;

  std::vector<Group> groups;
  bool groupTable = true;
  bool groupData = true;
  int blockTag = 0;
  bool hasBox = false;
  float boxMin[3] = {};
  float boxMax[3] = {};

  int64_t cells() const {
    if (grid[0] < 0 || grid[1] < 0 || grid[2] < 0) return -1;
    return static_cast<int64_t>(grid[0]) * grid[1] * grid[2];
  }
  int dimension() const {
    if (gridDimension == 1 || gridDimension == 3) return gridDimension;
    return NebFormat::GridCodecDimension(version);
  }
  void appendRecord(int32_t channel, const void* payload, int64_t bytes, int64_t lengthInts) {
    gridRecords.i32(channel);
    const int64_t padded = (bytes + 3) / 4;
    gridRecords.i32(static_cast<int32_t>(lengthInts < 0 ? padded : lengthInts));
    gridRecords.put(payload, static_cast<size_t>(bytes));
    gridRecords.padTo4();
  }
  bool buildTags(Bytes& out);
  bool buildParticleBlock(Bytes& out);
  bool buildGroupData(Bytes& out);
  void buildGroupTable(Bytes& out);
};

NebWriter::NebWriter() : state(new State) {}
NebWriter::~NebWriter() = default;

void NebWriter::setVersion(int version) { state->version = version; }
void NebWriter::setGridSize(int nx, int ny, int nz) {
  state->grid[0] = nx;
  state->grid[1] = ny;
  state->grid[2] = nz;
}
void NebWriter::setTransform(const float transform[12]) { std::memcpy(state->transform, transform, 48); }
void NebWriter::setChannelMask(int32_t mask) {
  state->maskOverride = true;
  state->mask = mask;
}
void NebWriter::setGridCompressor(int dimension) { state->gridDimension = dimension; }
void NebWriter::setGridBlockOptions(const OSTUtils::GridBlockOptions& options) { state->gridOptions = options; }
void NebWriter::setParticleBlockOptions(const OSTUtils::GridBlockOptions& options) {
  state->particleOptions = options;
}
void NebWriter::forceGridTag(bool on) { state->forceGrid = on; }

bool NebWriter::addChannel(int channel, const float* values) {
  const int64_t cells = state->cells();
  if (channel < 0 || channel >= kSlots || channel == kPackedColour || !values || cells <= 0) {
    ZUtils::logReport("NebWriter: cannot add grid channel %d\n", channel);
    return false;
  }
  OSTUtils::OstArray<char, int64_t> block;
  const bool ok = state->dimension() == 1
                      ? OSTUtils::WriteGridBlock1D(values, cells, state->gridOptions, block)
                      : OSTUtils::WriteGridBlock3D(values, state->grid[0], state->grid[1], state->grid[2],
                                                   state->gridOptions, block);
  if (!ok || (block.size + 3) / 4 > INT32_MAX) return false;
  state->appendRecord(channel, block.data, block.size, -1);
  state->computedMask |= static_cast<int32_t>(1u << channel);
  return true;
}

bool NebWriter::addPackedColour(const uint32_t* rgb) {
  const int64_t cells = state->cells();
  if (!rgb || cells <= 0) return false;
  OSTUtils::OstArray<char, int64_t> zipped;
  if (!OSTUtils::DeflateBlock(rgb, cells * 4, zipped)) return false;
  Bytes payload;
  payload.i64(zipped.size);
  payload.put(zipped.data, static_cast<size_t>(zipped.size));
  state->appendRecord(kPackedColour, payload.data.data(), payload.size(), -1);
  state->computedMask |= 1 << kPackedColour;
  return true;
}

bool NebWriter::addRawGridRecord(int channel, const void* payload, int64_t bytes, int64_t lengthInts) {
  if (bytes < 0 || (bytes > 0 && !payload)) return false;
  state->appendRecord(channel, payload, bytes, lengthInts);
  return true;
}

void NebWriter::setFrameNumber(int frameNumber) {
  state->hasFrame = true;
  state->frame = frameNumber;
}
void NebWriter::setTag5(float value) {
  state->has5 = true;
  state->tag5 = value;
}
void NebWriter::setAuxTransform(const float t[12]) {
  state->has6 = true;
  std::memcpy(state->aux6, t, 48);
}
void NebWriter::setPropsValueFloat(float value) {
  state->has8 = true;
  state->tag8 = value;
}
void NebWriter::setTag9(int32_t propsWord, float value) {
  state->has9 = true;
  state->tag9Word = propsWord;
  state->tag9Float = value;
}
void NebWriter::setTag10(double propsValue, const unsigned char bytes16to23[8]) {
  state->has10 = true;
  state->tag10Value = propsValue;
  std::memcpy(state->tag10Bytes, bytes16to23, 8);
}
void NebWriter::setTag11(const float aux[3][12], const unsigned char bytes384to391[8]) {
  state->has11 = true;
  std::memcpy(state->tag11Aux, aux, sizeof state->tag11Aux);
  std::memcpy(state->tag11Bytes, bytes384to391, 8);
}
void NebWriter::setPropsBlock(const void* bytes, int n) {
  state->has12 = true;
  const char* c = static_cast<const char*>(bytes);
  state->props.assign(c, c + (n > 0 ? n : 0));
}

void NebWriter::setChunkText(const char* text) {
  state->hasText = true;
  state->text = text ? text : "";
}
void NebWriter::addChannelRange(int channel, float minimum, float maximum) {
  state->ranges.push_back({channel, {minimum, maximum}});
}
void NebWriter::addChannelValue64(int channel, int64_t value) { state->values64.push_back({channel, value}); }
void NebWriter::addRawChunk(int32_t id, const void* payload, int64_t bytes, int64_t declaredSize) {
  State::RawChunk chunk;
  chunk.id = id;
  const char* c = static_cast<const char*>(payload);
  if (bytes > 0 && c) chunk.payload.assign(c, c + bytes);
  chunk.declared = declaredSize;
  state->rawChunks.push_back(std::move(chunk));
}

int NebWriter::addGroup(const char* name, int particleCount, int groupType) {
  State::Group g;
  g.name = name ? name : "";
  g.particleCount = particleCount;
  g.groupType = groupType;
  state->groups.push_back(std::move(g));
  return static_cast<int>(state->groups.size()) - 1;
}

bool NebWriter::setGroupChannel(int group, int slot, const void* data, int method) {
  if (group < 0 || group >= static_cast<int>(state->groups.size()) || slot < 0 || slot >= kSlots) return false;
  State::Group& g = state->groups[group];
  const int64_t bytes = static_cast<int64_t>(g.particleCount) * ParticleSlotLayout::words(slot) * 4;
  if (bytes < 0 || (bytes > 0 && !data)) return false;
  const char* c = static_cast<const char*>(data);
  g.data[slot].assign(c, c + bytes);
  g.method[slot] = method;
  g.present[slot] = true;
  g.verbatim[slot] = false;
  return true;
}

bool NebWriter::setGroupChannelStored(int group, int slot, int method, const void* bytes, int64_t count) {
  if (group < 0 || group >= static_cast<int>(state->groups.size()) || slot < 0 || slot >= kSlots) return false;
  if (count < 0 || count > INT32_MAX || (count > 0 && !bytes)) return false;
  State::Group& g = state->groups[group];
  const char* c = static_cast<const char*>(bytes);
  g.data[slot].assign(c, c + count);
  g.method[slot] = method;
  g.present[slot] = true;
  g.verbatim[slot] = true;
  return true;
}

void NebWriter::setGroupExtra(int group, const unsigned char extra[8]) {
  if (group < 0 || group >= static_cast<int>(state->groups.size())) return;
  state->groups[group].hasExtra = true;
  std::memcpy(state->groups[group].extra, extra, 8);
}

void NebWriter::setParticleLayout(bool groupTable, bool groupData, int blockTag) {
  state->groupTable = groupTable;
  state->groupData = groupData;
  state->blockTag =
      (blockTag == NebFormat::kTagRawParticles || blockTag == NebFormat::kTagCompressedParticles) ? blockTag : 0;
}

void NebWriter::setGroupTableBox(const float minimum[3], const float maximum[3]) {
  state->hasBox = true;
  std::memcpy(state->boxMin, minimum, 12);
  std::memcpy(state->boxMax, maximum, 12);
}

bool NebWriter::State::buildTags(Bytes& out) {
  out.put(NebFormat::kHeaderMagic, 4);
  out.i32(NebFormat::kTagChannelMask);
  out.i32(maskOverride ? mask : computedMask);
  out.i32(NebFormat::kTagTransform);
  out.put(transform, 48);
  if (hasFrame) {
    out.i32(NebFormat::kTagFrameNumber);
    out.i32(frame);
  }
  if (has5) {
    out.i32(NebFormat::kTagFloat5);
    out.f32(tag5);
  }
  if (has6) {
    out.i32(NebFormat::kTagAuxTransform);
    out.put(aux6, 48);
  }
  if (has8) {
    out.i32(NebFormat::kTagPropsValue);
    out.f32(tag8);
  }
  if (has9) {
    out.i32(NebFormat::kTagPropsWord);
    out.i32(tag9Word);
    out.f32(tag9Float);
  }
  if (has10) {
    out.i32(NebFormat::kTagPropsDouble);
    out.put(&tag10Value, 8);
    out.put(tag10Bytes, 8);
  }
  if (has11) {
    out.i32(NebFormat::kTagAuxTransforms);
    out.put(tag11Aux, sizeof tag11Aux);
    out.put(tag11Bytes, 8);
  }
  if (has12) {
    out.i32(NebFormat::kTagPropsBlock);
    out.i32(static_cast<int32_t>(props.size()));
    out.put(props.data(), props.size());
  }
  if (gridRecords.size() > 0 || forceGrid) {
    out.i32(NebFormat::kTagGrid);
    out.put(grid, 12);
    out.i32(static_cast<int32_t>(gridRecords.size() / 4));
    out.put(gridRecords.data.data(), gridRecords.data.size());
  }
  if (blockTag != 0 && !groups.empty()) {
    out.i32(blockTag);
    if (!buildParticleBlock(out)) return false;
  }
  out.i32(NebFormat::kTagEnd);
  return true;
}

// Old-style block: scratch floats with every slot of every group, then the groups.
// Identifiers (slot 10) go to sub-record 2 as entropy-coded differences.
bool NebWriter::State::buildParticleBlock(Bytes& out) {
  Bytes scratch;
  std::vector<std::vector<int32_t>> starts(groups.size(), std::vector<int32_t>(kSlots, -1));
  for (size_t gi = 0; gi < groups.size(); ++gi) {
    const Group& g = groups[gi];
    for (int slot = 0; slot < kSlots; ++slot) {
      const int words = ParticleSlotLayout::words(slot);
      if (!g.present[slot] || g.verbatim[slot] || slot == ParticleSlotLayout::kIdSlot || words == 0) continue;
      starts[gi][slot] = static_cast<int32_t>(scratch.size() / 4);
      if (blockTag == NebFormat::kTagRawParticles) {
        scratch.put(g.data[slot].data(), g.data[slot].size());
        continue;
      }
      const int64_t n = g.particleCount;
      std::vector<float> planar(static_cast<size_t>(n * words));
      const float* in = reinterpret_cast<const float*>(g.data[slot].data());
      for (int64_t p = 0; p < n; ++p) {
        for (int c = 0; c < words; ++c) planar[static_cast<size_t>(c * n + p)] = in[p * words + c];
      }
      OSTUtils::OstArray<char, int64_t> block;
      if (!OSTUtils::WriteGridBlock1D(planar.data(), n * words, particleOptions, block)) return false;
      scratch.put(block.data, static_cast<size_t>(block.size));
      scratch.padTo4();
    }
  }
  out.i32(static_cast<int32_t>(scratch.size() / 4));
  out.put(scratch.data.data(), scratch.data.size());
  out.i32(static_cast<int32_t>(groups.size()));
  for (size_t gi = 0; gi < groups.size(); ++gi) {
    const Group& g = groups[gi];
    out.str(g.name);
    out.i32(g.particleCount);
    out.put(starts[gi].data(), kSlots * 4);
    out.i32(NebFormat::kSubTagGroupType);
    out.i32(g.groupType);
    if (g.hasExtra) {
      out.i32(NebFormat::kSubTagExtra);
      out.put(g.extra, 8);
    }
    if (g.present[ParticleSlotLayout::kIdSlot] && !g.verbatim[ParticleSlotLayout::kIdSlot] && g.particleCount > 0) {
      const int64_t n = g.particleCount;
      std::vector<int> pairs(static_cast<size_t>(2 * n));
      uint64_t previous = 0;
      for (int64_t p = 0; p < n; ++p) {
        uint64_t id;
        std::memcpy(&id, g.data[ParticleSlotLayout::kIdSlot].data() + p * 8, 8);
        const uint64_t difference = p > 0 ? id - previous : id;
        previous = id;
        pairs[static_cast<size_t>(2 * p)] = static_cast<int>(static_cast<uint32_t>(difference));
        pairs[static_cast<size_t>(2 * p + 1)] = static_cast<int>(static_cast<uint32_t>(difference >> 32));
      }
      OSTUtils::EntropyCoder coder;
      OSTUtils::OstArray<char, int64_t> coded;
      if (OSTUtils::Encode(coder, pairs.data(), 2 * n, coded) <= 0) return false;
      out.i32(NebFormat::kSubTagIds);
      out.i32(static_cast<int32_t>(coded.size));
      out.put(coded.data, static_cast<size_t>(coded.size));
    }
    out.i32(NebFormat::kSubTagEnd);
  }
  return true;
}

void NebWriter::State::buildGroupTable(Bytes& out) {
  float lo[3] = {1e20f, 1e20f, 1e20f};
  float hi[3] = {-1e20f, -1e20f, -1e20f};
  if (hasBox) {
    std::memcpy(lo, boxMin, 12);
    std::memcpy(hi, boxMax, 12);
  } else {
    for (const Group& g : groups) {
      if (!g.present[0] || g.verbatim[0]) continue;
      const float* p = reinterpret_cast<const float*>(g.data[0].data());
      for (int64_t i = 0; i < g.particleCount; ++i) {
        for (int k = 0; k < 3; ++k) {
          lo[k] = std::min(lo[k], p[i * 3 + k]);
          hi[k] = std::max(hi[k], p[i * 3 + k]);
        }
      }
    }
  }
  out.i32(static_cast<int32_t>(groups.size()));
  for (const Group& g : groups) {
    int32_t presentBits = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
      if (g.present[slot] && !g.data[slot].empty()) presentBits |= static_cast<int32_t>(1u << slot);
    }
    out.str(g.name);
    out.i32(g.particleCount);
    out.i32(presentBits);
    out.i32(g.groupType);
  }
  out.put(lo, 12);
  out.put(hi, 12);
  out.i32(0);
}

bool NebWriter::State::buildGroupData(Bytes& out) {
  out.i32(static_cast<int32_t>(groups.size()));
  for (const Group& g : groups) {
    out.str(g.name);
    out.i32(g.groupType);
    out.i32(g.particleCount);
    out.put(g.extra, 8);
    int32_t count = 0;
    for (int slot = 0; slot < kSlots; ++slot) count += g.present[slot] ? 1 : 0;
    out.i32(count);
    for (int slot = 0; slot < kSlots; ++slot) {
      if (!g.present[slot]) continue;
      OSTUtils::OstArray<char, int64_t> stored;
      if (g.verbatim[slot]) {
        if (!stored.SetSize(static_cast<int64_t>(g.data[slot].size()), nullptr, true)) return false;
        if (stored.size > 0) std::memcpy(stored.data, g.data[slot].data(), g.data[slot].size());
      } else if (!OSTUtils::EncodeChannelBytes(g.method[slot], g.data[slot].data(), g.particleCount,
                                        ParticleSlotLayout::words(slot), stored)) {
        return false;
      }
      out.i32(slot);
      out.i32(g.method[slot]);
      out.i32(static_cast<int32_t>(stored.size));
      out.put(stored.data, static_cast<size_t>(stored.size));
    }
  }
  return true;
}

bool NebWriter::writeToMemory(OSTUtils::OstArray<char, int64_t>& out) {
  State& s = *state;
  Bytes file;
  if (!s.buildTags(file)) {
    ZUtils::logReport("NebWriter: particle block could not be written\n");
    return false;
  }
  const int64_t dataOffset = file.size();
  file.i32(0);
  const bool wide = s.version >= 4;
  auto chunk = [&](int32_t id, const Bytes& payload, int64_t declared) {
    file.i32(id);
    const int64_t size = declared < 0 ? payload.size() : declared;
    if (wide) {
      file.i64(size);
    } else {
      file.i32(static_cast<int32_t>(size));
    }
    file.put(payload.data.data(), payload.data.size());
  };
  if (!s.groups.empty() && s.groupTable) {
    Bytes b;
    s.buildGroupTable(b);
    chunk(NebFormat::kChunkGroupTable, b, -1);
  }
  if (s.hasText) {
    Bytes b;
    b.str(s.text);
    chunk(NebFormat::kChunkText, b, -1);
  }
  if (!s.groups.empty() && s.groupData) {
    Bytes b;
    if (!s.buildGroupData(b)) {
      ZUtils::logReport("NebWriter: particle channel could not be encoded\n");
      return false;
    }
    chunk(NebFormat::kChunkGroupData, b, -1);
  }
  if (!s.ranges.empty()) {
    Bytes b;
    b.i32(static_cast<int32_t>(s.ranges.size()));
    for (const auto& r : s.ranges) {
      b.i32(r.first);
      b.f32(r.second.first);
      b.f32(r.second.second);
    }
    chunk(NebFormat::kChunkValueRanges, b, -1);
  }
  if (!s.values64.empty()) {
    Bytes b;
    b.i32(static_cast<int32_t>(s.values64.size()));
    for (const auto& v : s.values64) {
      b.i32(v.first);
      b.i64(v.second);
    }
    chunk(NebFormat::kChunkValues64, b, -1);
  }
  for (const State::RawChunk& raw : s.rawChunks) {
    Bytes b;
    b.put(raw.payload.data(), raw.payload.size());
    chunk(raw.id, b, raw.declared);
  }
  file.i32(NebFormat::kChunkListEnd);
  if (wide) {
    file.i64(dataOffset);
  } else {
    file.i32(static_cast<int32_t>(dataOffset));
  }
  file.i32(s.version);
  file.put(NebFormat::kFooterMagic, 8);

  if (!out.SetSize(file.size(), nullptr, true)) return false;
  std::memcpy(out.data, file.data.data(), file.data.size());
  return true;
}

bool NebWriter::write(const char* path) {
  OSTUtils::OstArray<char, int64_t> bytes;
  if (!writeToMemory(bytes)) return false;
  FILE* f = ZUtils::openFileUtf8(path, "wb");
  if (!f) {
    ZUtils::logReport("NebWriter: cannot create %s\n", path ? path : "(null)");
    return false;
  }
  const bool ok = std::fwrite(bytes.data, 1, static_cast<size_t>(bytes.size), f) == static_cast<size_t>(bytes.size);
  const bool closed = std::fclose(f) == 0;
  if (!ok || !closed) ZUtils::logReport("NebWriter: failed writing %s\n", path);
  return ok && closed;
}
