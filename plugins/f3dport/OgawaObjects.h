// Field3D's objects on top of the Ogawa container.
//
// Every object is one Ogawa group whose first children are data blocks:
//   child 0   the name, its bytes without terminator
//   child 1   int32 LE kind: 0 group, 1 attribute, 2 dataset, 3 compressed dataset
//   child 2   attributes and datasets: int32 LE element type code (below)
//   child 3   attribute: the value; datasets: the first chunk
//   child 4.. datasets: further chunks
// A group object holds its members as child groups from index 2 on (data entries there
// are ignored). Members are found by name and kind, the first match in child order; an
// object whose first two children are not data blocks, or whose kind block is not 4
// bytes, is no object and is skipped.
//
// Element type codes: 0 int8, 1 uint8, 2 int16, 3 uint16, 4 int32, 5 uint32, 6 int64,
// 7 uint64, 8 half, 9 float, 10 double, 11 vec3 half, 12 vec3 float, 13 vec3 double,
// 14 vec3 int32, 15 4x4 double matrix (row after row), 16 string (no terminator; an empty
// string is the empty data block, which Ogawa's writer enters twice).
//
// A number, vector or matrix attribute's value block is exactly one element's bytes; any
// other size is damage (Field3D would silently take 0), and so refused here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ostutils/MemoryLimit.h"
#include "plugins/f3dport/OgawaArchive.h"

namespace F3dPort {

enum OgawaKind : int32_t { kOgGroup = 0, kOgAttribute = 1, kOgDataset = 2, kOgCompressedDataset = 3 };

enum OgawaTypeCode : int32_t {
  kOgInt8 = 0,
  kOgUint8 = 1,
  kOgInt64 = 6,
  kOgUint64 = 7,
  kOgHalf = 8,
  kOgFloat = 9,
  kOgDouble = 10,
  kOgVec3Half = 11,
  kOgVec3Float = 12,
  kOgVec3Double = 13,
  kOgVec3Int = 14,
  kOgMatrix = 15,
  kOgString = 16,
};

struct OgawaObject {
  std::string name;
  int32_t kind = -1;
  OgawaGroup node;
};

// The member objects of a group object, their storage held in the memory budget.
struct OgawaMembers {
  std::vector<OgawaObject> list;
  OSTUtils::MemoryReservation hold;

  std::vector<OgawaObject>::const_iterator begin() const { return list.begin(); }
  std::vector<OgawaObject>::const_iterator end() const { return list.end(); }
  // The first member of that name and kind, or null.
  const OgawaObject* find(const char* name, int32_t kind) const;
};

class OgawaObjects {
 public:
  explicit OgawaObjects(OgawaArchive& archive) : archive_(archive) {}

  // The object at a group entry. False when it is no valid object (skip it) or when the
  // archive failed (archive().failure()).
  bool object(uint64_t entry, OgawaObject& out);
  // The valid member objects of a group object, in child order. False also when the
  // budget refuses their storage (out.hold is then empty).
  bool members(const OgawaObject& group, OgawaMembers& out);

  // Attribute values. Each is false when the attribute is not one of the accepted codes
  // or its value block has the wrong size.
  // Any integer code (0..7): Field3D writes some counts as int32 and others as uint8.
  bool integer(const OgawaObject& attribute, int64_t& out);
  bool vec3i(const OgawaObject& attribute, int32_t out[3]);
  bool float32(const OgawaObject& attribute, float& out);
  bool matrix(const OgawaObject& attribute, double out[16]);
  // Cut at the first NUL, as Field3D does.
  bool text(const OgawaObject& attribute, std::string& out);

  // A dataset's element type code and its chunk count (children from index 3 on).
  bool datasetCode(const OgawaObject& dataset, int32_t& code);
  static uint64_t chunkCount(const OgawaObject& dataset) { return dataset.node.count > 3 ? dataset.node.count - 3 : 0; }
  // Chunk i of a dataset.
  bool chunk(const OgawaObject& dataset, uint64_t index, OgawaData& out);

  OgawaArchive& archive() { return archive_; }

 private:
  bool code(const OgawaObject& object, int32_t& out);
  bool value(const OgawaObject& attribute, int32_t wantCode, void* dst, uint64_t bytes);

  OgawaArchive& archive_;
};

}  // namespace F3dPort
