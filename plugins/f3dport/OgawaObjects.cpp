#include "plugins/f3dport/OgawaObjects.h"

#include <cstring>

#include "plugins/f3dport/LittleEndian.h"

namespace F3dPort {

namespace {
// Names and the strings this reader looks at are short words; a longer block is damage.
const uint64_t kMaxTextBytes = 64 * 1024;
}  // namespace

bool OgawaObjects::object(uint64_t entry, OgawaObject& out) {
  out = OgawaObject();
  if (entry == 0 || OgawaArchive::isData(entry)) return false;
  if (!archive_.group(entry, out.node)) return false;
  uint64_t nameEntry = 0, kindEntry = 0;
  if (out.node.count < 2 || !archive_.entry(out.node, 0, nameEntry) || !archive_.entry(out.node, 1, kindEntry))
    return false;
  if (!OgawaArchive::isData(nameEntry) || !OgawaArchive::isData(kindEntry)) return false;
  OgawaData name, kind;
  if (!archive_.data(nameEntry, name) || !archive_.data(kindEntry, kind)) return false;
  if (kind.size != 4 || name.size > kMaxTextBytes) return false;
  uint8_t k[4];
  out.name.resize(static_cast<size_t>(name.size));
  if (!archive_.readData(name, 0, &out.name[0], name.size) || !archive_.readData(kind, 0, k, 4)) return false;
  out.kind = static_cast<int32_t>(loadU32(k));
  return true;
}

const OgawaObject* OgawaMembers::find(const char* name, int32_t kind) const {
  for (const OgawaObject& m : list)
    if (m.kind == kind && m.name == name) return &m;
  return nullptr;
}

bool OgawaObjects::members(const OgawaObject& group, OgawaMembers& out) {
  out.list.clear();
  out.hold.release();
  if (group.kind != kOgGroup) return false;
  OgawaEntries children;
  if (!archive_.entries(group.node, children)) return false;
  uint64_t bytes = 0;
  for (size_t i = 2; i < children.values.size(); ++i) {
    OgawaObject member;
    if (object(children.values[i], member)) {
      // Grown in steps of a quarter, so a long list asks the budget a few dozen times.
      bytes += sizeof(OgawaObject) + member.name.size();
      if (bytes > out.hold.bytes() && !out.hold.reserve(bytes + bytes / 4)) {
        out.list.clear();
        return false;
      }
      out.list.push_back(std::move(member));
    } else if (archive_.source().exhausted()) {
      return false;  // the tree refers to its nodes over and over: stop here
    }
  }
  return true;
}

bool OgawaObjects::code(const OgawaObject& object, int32_t& out) {
  uint64_t entry = 0;
  OgawaData block;
  uint8_t b[4];
  if (object.node.count < 3 || !archive_.entry(object.node, 2, entry) || !archive_.data(entry, block) ||
      block.size != 4 || !archive_.readData(block, 0, b, 4))
    return false;
  out = static_cast<int32_t>(loadU32(b));
  return true;
}

bool OgawaObjects::value(const OgawaObject& attribute, int32_t wantCode, void* dst, uint64_t bytes) {
  int32_t c = -1;
  uint64_t entry = 0;
  OgawaData block;
  if (attribute.kind != kOgAttribute || !code(attribute, c) || c != wantCode) return false;
  if (attribute.node.count < 4 || !archive_.entry(attribute.node, 3, entry) || !archive_.data(entry, block)) return false;
  return block.size == bytes && archive_.readData(block, 0, dst, bytes);
}

bool OgawaObjects::integer(const OgawaObject& attribute, int64_t& out) {
  int32_t c = -1;
  if (attribute.kind != kOgAttribute || !code(attribute, c) || c < kOgInt8 || c > kOgUint64) return false;
  static const uint8_t kBytes[8] = {1, 1, 2, 2, 4, 4, 8, 8};
  const bool isSigned = c % 2 == 0;
  uint8_t b[8] = {};
  if (!value(attribute, c, b, kBytes[c])) return false;
  const uint64_t raw = loadU64(b);
  const int bits = 8 * kBytes[c];
  if (c == kOgUint64) {
    if (raw > static_cast<uint64_t>(INT64_MAX)) return false;
    out = static_cast<int64_t>(raw);
  } else if (bits == 64) {
    out = static_cast<int64_t>(raw);
  } else if (isSigned && (raw >> (bits - 1)) & 1) {
    out = static_cast<int64_t>(raw) - (int64_t(1) << bits);  // sign extension
  } else {
    out = static_cast<int64_t>(raw);
  }
  return true;
}

bool OgawaObjects::vec3i(const OgawaObject& attribute, int32_t out[3]) {
  uint8_t b[12];
  if (!value(attribute, kOgVec3Int, b, 12)) return false;
  for (int i = 0; i < 3; ++i) out[i] = static_cast<int32_t>(loadU32(b + 4 * i));
  return true;
}

bool OgawaObjects::float32(const OgawaObject& attribute, float& out) {
  uint8_t b[4];
  if (!value(attribute, kOgFloat, b, 4)) return false;
  out = loadF32(b);
  return true;
}

bool OgawaObjects::matrix(const OgawaObject& attribute, double out[16]) {
  uint8_t b[128];
  if (!value(attribute, kOgMatrix, b, 128)) return false;
  for (int i = 0; i < 16; ++i) out[i] = loadF64(b + 8 * i);
  return true;
}

bool OgawaObjects::text(const OgawaObject& attribute, std::string& out) {
  int32_t c = -1;
  uint64_t entry = 0;
  OgawaData block;
  out.clear();
  if (attribute.kind != kOgAttribute || !code(attribute, c) || c != kOgString) return false;
  if (attribute.node.count < 4 || !archive_.entry(attribute.node, 3, entry) || !archive_.data(entry, block)) return false;
  if (block.size > kMaxTextBytes) return false;
  out.resize(static_cast<size_t>(block.size));
  if (!archive_.readData(block, 0, &out[0], block.size)) return false;
  const size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return true;
}

bool OgawaObjects::datasetCode(const OgawaObject& dataset, int32_t& out) {
  if (dataset.kind != kOgDataset && dataset.kind != kOgCompressedDataset) return false;
  return code(dataset, out);
}

bool OgawaObjects::chunk(const OgawaObject& dataset, uint64_t index, OgawaData& out) {
  uint64_t entry = 0;
  if (index >= chunkCount(dataset) || !archive_.entry(dataset.node, 3 + index, entry)) return false;
  return archive_.data(entry, out);
}

}  // namespace F3dPort
