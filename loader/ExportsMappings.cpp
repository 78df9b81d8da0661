// Exported channel-mapping functions. Text results follow one rule: with bufferSize > 0
// at most bufferSize - 1 characters and a NUL are written; with bufferSize <= 0 the
// buffer is untouched. 1 means the whole text fitted, 0 that it was cut.
#include <cstring>
#include <string>

#include "loader/ChannelMappings.h"
#include "loader/ExportGuard.h"
#include "loader/ImportPlugins.h"
#include "nebloader.h"

using CacheIO::guardedExport;

namespace {

int deliverText(char* buffer, int bufferSize, const std::string& text) {
  if (bufferSize > 0 && buffer) {
    size_t n = text.size() < static_cast<size_t>(bufferSize - 1) ? text.size() : static_cast<size_t>(bufferSize - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<long long>(text.size()) < bufferSize ? 1 : 0;
}

}  // namespace

int nebComposeChannelMappingsString(char* const buffer, int bufferSize, int* const channels,
                                    const char* const* names, int count) {
  return guardedExport<int>("nebComposeChannelMappingsString", 0, [&]() {
    CacheIO::GridMappingList list;
    if (channels && names) {
      for (int i = 0; i < count; ++i) {
        // A null name is taken as an empty one.
        list.Append(CacheIO::GridMapping(names[i] ? names[i] : "", channels[i]));
      }
    }
    return deliverText(buffer, bufferSize, CacheIO::ComposeChannelMappings(list));
  });
}

int nebDecomposeChannelMappingsString(int* channel, char* buffer, int bufferSize, const char* const mapping,
                                      int index) {
  return guardedExport<int>("nebDecomposeChannelMappingsString", -1, [&]() {
    CacheIO::GridMappingList list;
    CacheIO::ParseChannelMappings(mapping, list);
    if (index < 0 || index >= list.size) return -1;
    const CacheIO::GridMapping& entry = list.data[index];
    if (channel) *channel = entry.channel;
    return deliverText(buffer, bufferSize, entry.name ? entry.name : "");
  });
}

int nebGenerateDefaultChannelMappings(char* const buffer, int bufferSize, const char* const path) {
  return guardedExport<int>("nebGenerateDefaultChannelMappings", 0, [&]() {
    return deliverText(buffer, bufferSize, CacheIO::GenerateDefaultChannelMappings(path));
  });
}

int nebGet3rdPartyChannelName(char* const buffer, int bufferSize, int* const flag, const char* path, int index) {
  return guardedExport<int>("nebGet3rdPartyChannelName", -1, [&]() {
    CacheIO::AvailableChannelList list;
    CacheIO::SurveyChannels(path, list);
    if (index < 0 || index >= list.size) return -1;
    const CacheIO::AvailableChannels& entry = list.data[index];
    if (flag) *flag = entry.flag != 0 ? 1 : 0;
    return deliverText(buffer, bufferSize, entry.name ? entry.name : "");
  });
}
