#include "loader/ChannelSurvey.h"

#include <cstring>

#include "loader/ImportPlugins.h"
#include "zutils/FramePattern.h"

namespace CacheIO {

int Find3rdPartyCacheChannelsEnum::fileFound(int /*frame*/, const char* name) {
  if (!name) return 0;
  const std::string ext = ZUtils::fileExtensionLower(name);
  PluginKind kind;
  if (ext == "f3d") {
    kind = PluginF3D;
  } else if (ext == "vdb") {
    kind = PluginVDB;
  } else {
    return 0;
  }
  const PluginEntry& plugin = PluginTableEntry(kind);
  if (!plugin.ready() || !channels) return 1;

  AvailableChannelList offered;
  plugin.getAvailableChannels(name, &offered);
  for (int i = 0; i < offered.size; ++i) {
    const AvailableChannels& c = offered.data[i];
    if (!c.name) continue;
    bool known = false;
    for (int j = 0; j < channels->size && !known; ++j) {
      known = channels->data[j].name && std::strcmp(channels->data[j].name, c.name) == 0;
    }
    if (!known) channels->Append(c);
  }
  return 1;
}

void SurveyChannels(const char* path, AvailableChannelList& list) {
  if (!path || !*path) return;
  Find3rdPartyCacheChannelsEnum survey(&list);
  survey.enumerate(path, -1);
}

}  // namespace CacheIO
