// The converter of the program: frames are loaded exactly as a host of the library loads
// them (newINeb with the default channel mapping, deleteINeb) and exported to OpenVDB.
// The import plug-ins are never initialised, so only nebu2 sources load.
#pragma once

#include <string>

#include "nebloader.h"
#include "tools/volconvert/FrameConverter.h"
#include "tools/volconvert/VdbFrameExporter.h"

namespace VolConvert {

class LibraryFrameConverter : public FrameConverter {
 public:
  INeb* loadFrame(const std::string& path) override { return newINeb(path.c_str()); }
  void releaseFrame(INeb* frame) override { deleteINeb(frame); }
  ExportResult exportFrame(const std::string& destination, INeb& frame) override {
    return exporter_.exportFrame(destination, frame);
  }

 private:
  VdbFrameExporter exporter_;  // keeps its trees warm from frame to frame
};

}  // namespace VolConvert
