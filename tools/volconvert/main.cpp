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
  // Loading includes decoding the exported channels, so that the read-ahead of the frame
  // loop takes the decoding off the export's path too.
  INeb* loadFrame(const std::string& path) override {
    INeb* frame = newINeb(path.c_str());
    if (frame) VolConvert::VdbFrameExporter::decodeExportedChannels(*frame);
    return frame;
  }
  bool loadsConcurrently() const override { return true; }
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
