#include "tools/nebview/NebView.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "frameinfo/FrameList.h"
#include "frameinfo/Imports.h"
#include "frameinfo/Reasons.h"
#include "tools/nebview/BrowserLaunch.h"
#include "tools/nebview/FrameService.h"
#include "tools/nebview/FrameSource.h"
#include "tools/nebview/HttpServer.h"
#include "tools/nebview/Options.h"
#include "tools/nebview/Sequence.h"

#ifndef NEBLOADER_VERSION
#define NEBLOADER_VERSION "unknown"
#endif

namespace NebView {

namespace {

std::atomic<bool> gStop{false};

extern "C" void onStopSignal(int) { gStop = true; }

bool anyImport(const Sequence& s) {
  for (const SequenceFrame& f : s.frames())
    if (NebFrameInfo::isImport(f.path)) return true;
  return false;
}

std::string urlOf(const std::string& host, int port) {
  const std::string shown = host == "0.0.0.0" || host == "::" ? "127.0.0.1" : host;
  const bool v6 = shown.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + shown + "]" : shown) + ":" + std::to_string(port) + "/";
}

}  // namespace

int runNebView(int argc, char** argv) {
  // The library's reports reach the frame summaries (the reasons of failures).
  NebFrameInfo::installReportCapture();
  Options o;
  std::string text;
  switch (parseOptions(argc, argv, o, text)) {
    case ParseOutcome::Exit: std::fputs(text.c_str(), stdout); return 0;
    case ParseOutcome::UsageError:
      std::fprintf(stderr, "nebview: %s\nTry 'nebview --help' for more information.\n", text.c_str());
      return 2;
    case ParseOutcome::Run: break;
  }

  const bool pattern = o.inputs.size() == 1 && NebFrameInfo::hasFramePattern(o.inputs[0]);
  for (const std::string& input : o.inputs) {
    if (!pattern && NebFrameInfo::hasFramePattern(input)) {
      std::fprintf(stderr, "nebview: '%s' has a frame pattern: give one PATTERN, or files\n", input.c_str());
      return 2;
    }
  }
  if (o.haveFrames && !pattern) {
    std::fprintf(stderr, "nebview: --frames needs one PATTERN\nTry 'nebview --help' for more information.\n");
    return 2;
  }
  Sequence sequence;
  if (!sequence.build(o.inputs, o.haveFrames ? &o.frames : nullptr, text)) {
    std::fprintf(stderr, "nebview: %s\n", text.c_str());
    return 1;
  }
  const bool imports = anyImport(sequence);
  if (imports && !NebFrameInfo::initializeImports(argc > 0 && argv[0] ? argv[0] : ""))
    std::fprintf(stderr, "nebview: the OpenVDB plug-in is not installed: .vdb frames will fail\n");

  ServiceOptions service;
  service.defaultCells = static_cast<int64_t>(o.resolution) * o.resolution * o.resolution;
  service.cacheBytes = o.cacheMb << 20;
  service.loadSlots = o.threads > 0 ? o.threads : std::max(2u, std::thread::hardware_concurrency());
  service.version = NEBLOADER_VERSION;
  int status = 0;
  {
    FrameService frames(sequence, service);
    ServerOptions serverOptions;
    serverOptions.host = o.host;
    serverOptions.port = o.port;
    serverOptions.verbose = o.verbose;
    serverOptions.threads = std::max(32, 4 * service.loadSlots);
    HttpServer server(frames, serverOptions);
    if (!server.bind(text)) {
      std::fprintf(stderr, "nebview: %s\n", text.c_str());
      status = 1;
    } else {
      const std::string url = urlOf(o.host, server.port());
      std::printf("nebview: serving %zu frame%s of %s at %s\n", sequence.frames().size(),
                  sequence.frames().size() == 1 ? "" : "s", sequence.label().c_str(), url.c_str());
      std::fflush(stdout);
      if (o.open && !openInBrowser(url))
        std::fprintf(stderr, "nebview: no browser could be started: open %s\n", url.c_str());
      std::signal(SIGINT, onStopSignal);
      std::signal(SIGTERM, onStopSignal);
      std::thread watcher([&server] {
        while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        server.stop();
      });
      if (!server.run()) {
        std::fprintf(stderr, "nebview: the server stopped unexpectedly\n");
        status = 1;
      }
      gStop = true;
      watcher.join();
    }
  }
  if (imports) NebFrameInfo::finalizeImports();
  return status;
}

}  // namespace NebView
