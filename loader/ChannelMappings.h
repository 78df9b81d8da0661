// Channel mappings: which named grid of a foreign (OpenVDB / Field3D) file feeds which
// grid channel number, and the text form of such a list.
//
// Text form: zero or more "%d,%s;" entries, e.g. "2,density;1,temperature;4,vel.x;".
// Only the first comma of an entry separates, so names may contain commas but never
// semicolons; nothing is escaped.
//
// The records below cross the plug-in boundary inside OstArray storage, so their layout
// is fixed (16 bytes, name pointer first) and their names live on the C heap (malloc /
// free): a plug-in module appends AvailableChannels records that this library frees.
// Everything is inline so a plug-in built against this header needs no library code.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ostutils/OstArray.h"

namespace CacheIO {

namespace detail {
// strdup on the C heap; null stays null, a failed copy gives null.
inline char* copyName(const char* s) {
  if (!s) return nullptr;
  size_t n = std::strlen(s) + 1;
  char* p = static_cast<char*>(std::malloc(n));
  if (p) std::memcpy(p, s, n);
  return p;
}
}  // namespace detail

// One entry of a mapping: grid `name` in the foreign file feeds grid channel `channel`.
struct GridMapping {
  char* name = nullptr;  // owned, NUL-terminated; null only after a failed allocation
  int32_t channel = 0;
  float factor = 1.0f;   // always 1.0 in every list this library produces

  GridMapping() = default;
  GridMapping(const char* n, int32_t c, float f = 1.0f) : name(detail::copyName(n)), channel(c), factor(f) {}
  GridMapping(const GridMapping& o) : name(detail::copyName(o.name)), channel(o.channel), factor(o.factor) {}
  GridMapping& operator=(const GridMapping& o) {
    if (this != &o) {
      char* n = detail::copyName(o.name);
      std::free(name);
      name = n;
      channel = o.channel;
      factor = o.factor;
    }
    return *this;
  }
  ~GridMapping() { std::free(name); }
};

// One grid a plug-in reports for a foreign file. A non-zero flag keeps the grid out of
// the smoke fallback of the default mapping.
struct AvailableChannels {
  char* name = nullptr;  // owned, NUL-terminated
  uint8_t flag = 0;
  uint8_t padding[7] = {0, 0, 0, 0, 0, 0, 0};

  AvailableChannels() = default;
  AvailableChannels(const char* n, uint8_t f) : name(detail::copyName(n)), flag(f) {}
  AvailableChannels(const AvailableChannels& o) : name(detail::copyName(o.name)), flag(o.flag) {}
  AvailableChannels& operator=(const AvailableChannels& o) {
    if (this != &o) {
      char* n = detail::copyName(o.name);
      std::free(name);
      name = n;
      flag = o.flag;
    }
    return *this;
  }
  ~AvailableChannels() { std::free(name); }
};

static_assert(sizeof(void*) != 8 || sizeof(GridMapping) == 16, "GridMapping is 16 bytes at the plug-in boundary");
static_assert(sizeof(void*) != 8 || sizeof(AvailableChannels) == 16,
              "AvailableChannels is 16 bytes at the plug-in boundary");

typedef OSTUtils::OstArray<GridMapping, int> GridMappingList;
typedef OSTUtils::OstArray<AvailableChannels, int> AvailableChannelList;

// Appends the entries of `text` to `list`, in text order, each with factor 1.0. Per entry:
// the characters up to the next comma, through atoi (no digits gives 0, any int is
// accepted); then the characters up to the next semicolon as the name. Parsing stops at
// the NUL; an entry cut short by the NUL (no comma or no semicolon) is dropped. Null or ""
// appends nothing. Always returns 1.
int ParseChannelMappings(const char* text, GridMappingList& list);

// The entries written with "%d,%s;" one after the other (a null name counts as "").
std::string ComposeChannelMappings(const GridMappingList& list);

// The native mapping: "1,Temperature_ost;2,Smoke_ost;4,VelocityX_ost;...".
std::string NativeChannelMappings();

// The default mapping for a file or frame pattern: the native mapping when the path is
// null or empty or when no grid was found through a ready plug-in (nebu2 files, missing
// files, unloaded plug-ins); otherwise the grids the plug-ins report, named by the VDB or
// F3D name table, plus the first unflagged unknown grid as smoke when nothing feeds
// channel 2. Another extension with surveyed grids gives "".
std::string GenerateDefaultChannelMappings(const char* path);

// Channel from the name table of a format; `vdb` selects the OpenVDB table, otherwise the
// Field3D table. -1 when the name is not in the table (exact, case-sensitive).
int TableChannelForName(const char* name, bool vdb);

}  // namespace CacheIO

OST_BITWISE_RELOCATABLE(CacheIO::GridMapping);
OST_BITWISE_RELOCATABLE(CacheIO::AvailableChannels);
