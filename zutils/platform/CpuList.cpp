// The kernel's processor-list text and its NUMA node folders. Plain C library code: the
// Linux build reads the live /sys tree with it, and every build tests it on made-up trees.
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "zutils/platform/Cpu.h"

namespace ZUtils {
namespace platform {

namespace {

// Reads a decimal processor number; false on no digits or a value beyond the mask.
bool readCpu(const char*& p, int* out) {
  if (*p < '0' || *p > '9') return false;
  long v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    if (v >= CpuMask::kMaxCpus) return false;
    ++p;
  }
  *out = static_cast<int>(v);
  return true;
}

bool isBlank(char c) { return c == '\n' || c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

bool parseCpuList(const char* text, CpuMask* out) {
  if (!text || !out) return false;
  out->clear();
  const char* p = text;
  while (isBlank(*p)) ++p;
  if (*p == '\0') return true;  // a node with memory only has an empty list
  for (;;) {
    int first = 0;
    if (!readCpu(p, &first)) return false;
    int last = first;
    if (*p == '-') {
      ++p;
      if (!readCpu(p, &last) || last < first) return false;
    }
    for (int c = first; c <= last; ++c) out->set(c);
    if (*p == ',') {
      ++p;
      continue;
    }
    while (isBlank(*p)) ++p;
    return *p == '\0';
  }
}

int readNumaNodeMasks(const char* nodeDir, CpuMask* masks, int maxNodes) {
  if (!nodeDir || !masks || maxNodes <= 0) return -1;
  DIR* dir = opendir(nodeDir);
  if (!dir) return -1;
  enum { kMaxIds = 4096 };
  int ids[256];
  int count = 0;
  bool tooMany = false;
  while (dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    if (std::strncmp(name, "node", 4) != 0 || name[4] == '\0') continue;
    long id = 0;
    const char* p = name + 4;
    while (*p >= '0' && *p <= '9' && id < kMaxIds) id = id * 10 + (*p++ - '0');
    if (*p != '\0' || id >= kMaxIds) continue;
    if (count >= maxNodes || count >= 256) {
      tooMany = true;
      break;
    }
    ids[count++] = static_cast<int>(id);
  }
  closedir(dir);
  if (tooMany || count == 0) return -1;
  std::sort(ids, ids + count);

  char path[4096];
  char text[8192];
  for (int i = 0; i < count; ++i) {
    if (std::snprintf(path, sizeof path, "%s/node%d/cpulist", nodeDir, ids[i]) >= static_cast<int>(sizeof path)) {
      return -1;
    }
    FILE* f = std::fopen(path, "r");
    if (!f) return -1;
    size_t got = std::fread(text, 1, sizeof text - 1, f);
    bool whole = std::feof(f) != 0;
    std::fclose(f);
    if (!whole) return -1;  // longer than any real list: not trusted
    text[got] = '\0';
    if (!parseCpuList(text, &masks[i])) return -1;
  }
  return count;
}

}  // namespace platform
}  // namespace ZUtils
