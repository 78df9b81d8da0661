// libnebpy_layers.so: the writer and frame patterns for the Python package (see
// PrivateLayers.h for why they live in an object of their own).
#include "python/PrivateLayers.h"

#include <cstring>
#include <new>
#include <string>

#include "cache/NebWriter.h"
#include "compress/GridBlockWriter.h"
#include "compress/ParticleChannelMethods.h"
#include "particles/ParticleSlotLayout.h"
#include "zutils/FramePattern.h"
#include "zutils/Report.h"

namespace {

bool writeFrame(const char* path, const NebPyFrame& f) {
  NebWriter w;
  w.setVersion(f.version);
  w.setGridSize(f.grid[0], f.grid[1], f.grid[2]);
  w.setTransform(f.transform);
  w.setFrameNumber(f.frameNumber);
  OSTUtils::GridBlockOptions options = OSTUtils::defaultGridBlockOptions();
  if (f.precisionBits > 0) {
    options.lossless = false;
    options.precisionBits = f.precisionBits;
  } else {
    options.lossless = true;
  }
  w.setGridBlockOptions(options);
  for (int i = 0; i < f.channelCount; ++i) {
    if (!w.addChannel(f.channelNumbers[i], f.channelValues[i])) {
      ZUtils::logReport("NebWriter: grid channel %d could not be encoded\n", f.channelNumbers[i]);
      return false;
    }
  }
  for (int g = 0; g < f.groupCount; ++g) {
    const NebPyGroup& group = f.groups[g];
    const int index = w.addGroup(group.name, group.particleCount, group.groupType);
    for (int c = 0; c < group.channelCount; ++c) {
      // zlib: lossless for every slot type, identifiers included.
      if (!w.setGroupChannel(index, group.channels[c].slot, group.channels[c].data, OSTUtils::kChannelZip)) {
        ZUtils::logReport("NebWriter: particle slot %d of group %s could not be set\n", group.channels[c].slot,
                          group.name);
        return false;
      }
    }
  }
  return w.write(path);
}

}  // namespace

int nebpyWriteFrame(const char* path, const NebPyFrame* frame) {
  if (!path || !frame) return 0;
  try {
    return writeFrame(path, *frame) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    ZUtils::logReport("[ERROR] NebWriter: out of memory writing %s\n", path);
  } catch (...) {
    ZUtils::logReport("[ERROR] NebWriter: unexpected failure writing %s\n", path);
  }
  return 0;
}

int nebpyExpandFramePattern(const char* pattern, int frame, char* buffer, int size) {
  try {
    const std::string text = ZUtils::expandFramePattern(pattern, frame, "");
    if (buffer && size > 0) {
      const size_t n = text.size() < static_cast<size_t>(size) ? text.size() : static_cast<size_t>(size) - 1;
      std::memcpy(buffer, text.data(), n);
      buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
  } catch (...) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
}

int nebpyHasFramePattern(const char* pattern) { return ZUtils::hasFramePattern(pattern) ? 1 : 0; }

int nebpySlotLayout(int slot, int* words, int* components, int* typeCode) {
  if (!ParticleSlotLayout::isValidSlot(slot) || !words || !components || !typeCode) return 0;
  *words = ParticleSlotLayout::words(slot);
  *components = ParticleSlotLayout::components(slot);
  *typeCode = ParticleSlotLayout::typeCode(slot);
  return 1;
}

void nebpySetReportFilePath(const char* path) {
  try {
    ZUtils::setReportFilePath(path);
  } catch (...) {
  }
}
