// nebview's web server (cpp-httplib; the only file that includes it): every request,
// whatever its method, goes through one handler that reads the raw request target
// (RequestTarget.h), answers the page's files from the program itself and everything else
// from the FrameService. Requests are served by a pool of threads, so that a read in
// progress never holds up an answer that is kept already (playback). Every answer of 400
// or above, and with `verbose` every answer, is logged to standard error with its reason.
#pragma once

#include <memory>
#include <string>

#include "tools/nebview/FrameService.h"

namespace NebView {

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 8765;     // 0: any free port
  int threads = 32;    // connections served at once
  bool verbose = false;
};

class HttpServer {
 public:
  HttpServer(FrameService& service, const ServerOptions& options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the address; false with the reason. port() is then the port bound.
  bool bind(std::string& error);
  int port() const;
  // Serves until stop() (from another thread or a signal's watcher).
  bool run();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace NebView
