// C interface: channel mappings and their defaults.
#include <string>

#include "loader/CEntry.h"
#include "loader/ChannelMappings.h"
#include "loader/ImportPlugins.h"

using CInterface::badArgument;
using CInterface::deliverText;
using CInterface::guarded;

extern "C" {

int neb_default_mapping(const char* path, char* buffer, long long size, long long* length) {
  return guarded("neb_default_mapping", [&]() {
    if (!path) return badArgument("neb_default_mapping", "null path");
    return deliverText("neb_default_mapping", CacheIO::GenerateDefaultChannelMappings(path), buffer, size, length);
  });
}

int neb_mapping_entry(const char* mapping, int index, int* channel, char* name, long long size, long long* length) {
  static const char* const fn = "neb_mapping_entry";
  return guarded(fn, [&]() {
    if (!mapping) return badArgument(fn, "null mapping");
    CacheIO::GridMappingList list;
    CacheIO::ParseChannelMappings(mapping, list);
    if (index < 0) return badArgument(fn, "negative index");
    if (index >= list.size) return NEB_E_ABSENT;
    const CacheIO::GridMapping& entry = list.data[index];
    const int status = deliverText(fn, entry.name ? entry.name : "", name, size, length);
    if (status == NEB_OK && channel) *channel = entry.channel;
    return status;
  });
}

int neb_compose_mapping(const int* channels, const char* const* names, int count, char* buffer, long long size,
                        long long* length) {
  static const char* const fn = "neb_compose_mapping";
  return guarded(fn, [&]() {
    if (count < 0 || (count > 0 && (!channels || !names))) return badArgument(fn, "null arrays or negative count");
    CacheIO::GridMappingList list;
    for (int i = 0; i < count; ++i) {
      if (!names[i]) return badArgument(fn, "null name");
      list.Append(CacheIO::GridMapping(names[i], channels[i]));
    }
    return deliverText(fn, CacheIO::ComposeChannelMappings(list), buffer, size, length);
  });
}

int neb_file_grid(const char* path, int index, int* flag, char* name, long long size, long long* length) {
  static const char* const fn = "neb_file_grid";
  return guarded(fn, [&]() {
    if (!path) return badArgument(fn, "null path");
    if (index < 0) return badArgument(fn, "negative index");
    CacheIO::AvailableChannelList list;
    CacheIO::SurveyChannels(path, list);
    if (index >= list.size) return NEB_E_ABSENT;
    const CacheIO::AvailableChannels& entry = list.data[index];
    const int status = deliverText(fn, entry.name ? entry.name : "", name, size, length);
    if (status == NEB_OK && flag) *flag = entry.flag != 0 ? 1 : 0;
    return status;
  });
}

}  // extern "C"
