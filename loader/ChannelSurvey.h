// The survey of the grids offered by the foreign files of a sequence.
#pragma once

#include "loader/ChannelMappings.h"
#include "zutils/EnumFiles.h"

namespace CacheIO {

// Reports every file of a sequence to the ready plug-in of its format and collects the
// distinct grid names (first appearance order, exact comparison) with their flag bytes.
class Find3rdPartyCacheChannelsEnum : public OstraneEnum::EnumFiles {
 public:
  explicit Find3rdPartyCacheChannelsEnum(AvailableChannelList* out) : channels(out) {}
  // 1 for f3d / vdb files (also when their plug-in is missing), 0 for other files.
  int fileFound(int frame, const char* name) override;

  AvailableChannelList* channels;
};

}  // namespace CacheIO
