// volconvert: converts a numbered sequence of nebu2 cache frames into OpenVDB files.
// Frames are loaded exactly as a host of the library loads them (newINeb with the default
// channel mapping); the import plug-ins are never initialised, so only nebu2 sources load.
#include "nebloader.h"
#include "tools/volconvert/ConsoleOutput.h"
#include "tools/volconvert/HeapSettings.h"
#include "tools/volconvert/VdbFrameExporter.h"
#include "tools/volconvert/VolConvert.h"

namespace {

class LibraryFrameConverter : public VolConvert::FrameConverter {
 public:
  INeb* loadFrame(const std::string& path) override { return newINeb(path.c_str()); }
  void releaseFrame(INeb* frame) override { deleteINeb(frame); }
  VolConvert::ExportResult exportFrame(const std::string& destination, INeb& frame) override {
    return exporter_.exportFrame(destination, frame);
  }

 private:
  VolConvert::VdbFrameExporter exporter_;
};

}  // namespace

int main(int argc, char** argv) {
  VolConvert::keepLargeBuffersWarm();
  LibraryFrameConverter converter;
  VolConvert::StdoutConsole out;
  return VolConvert::runVolConvert(argc, argv, OstraneSDKGetVersionNumber(), converter, out);
}
