// Exported frame creation and release.
#include <string>

#include "loader/FrameFactory.h"
#include "cache/FrameRegistry.h"
#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "loader/ExportGuard.h"
#include "nebloader.h"

using CacheIO::guardedExport;

unsigned int OstraneSDKGetVersionNumber() { return 0x31200; }

INeb* newINeb(const char* path) {
  return guardedExport<INeb*>("newINeb", nullptr, [&]() -> INeb* {
    const std::string mapping = CacheIO::GenerateDefaultChannelMappings(path);
    return AcquireFrame(path, mapping.c_str(), -1, false);
  });
}

INeb* newINebMaxVox(const char* path, long long maxVoxels, bool headerOnly) {
  return guardedExport<INeb*>("newINebMaxVox", nullptr, [&]() -> INeb* {
    const std::string mapping = CacheIO::GenerateDefaultChannelMappings(path);
    return AcquireFrame(path, mapping.c_str(), maxVoxels, headerOnly);
  });
}

INeb* newINebWithChannelsMapping(const char* path, const char* mapping) {
  return guardedExport<INeb*>("newINebWithChannelsMapping", nullptr,
                              [&]() -> INeb* { return AcquireFrame(path, mapping, -1, false); });
}

INeb* newINebWithChannelsMappingMaxVox(const char* path, const char* mapping, long long maxVoxels, bool headerOnly) {
  return guardedExport<INeb*>("newINebWithChannelsMappingMaxVox", nullptr,
                              [&]() -> INeb* { return AcquireFrame(path, mapping, maxVoxels, headerOnly); });
}

void deleteINeb(INeb* frame) {
  // Looked up by interface pointer: only frames the registry knows are touched.
  guardedExport<int>("deleteINeb", 0, [&]() {
    OstraneFrame::ReleaseFrame(frame);
    return 0;
  });
}
