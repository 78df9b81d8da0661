#include "tools/nebview/HttpServer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <httplib.h>

#include "tools/nebview/GzipBody.h"
#include "tools/nebview/PageFiles.h"
#include "tools/nebview/RequestTarget.h"

namespace NebView {

namespace {

// The log reason of the answer being written on this thread (the logger runs on the
// thread of the handler, after it). Storage without a destructor: under MinGW's emulated
// TLS a thread_local std::string can be freed before it is destroyed at thread exit.
const size_t kMaxLogNote = 4096;
thread_local char tLogNote[kMaxLogNote];

void setLogNote(const std::string& note) {
  const size_t n = note.size() < kMaxLogNote - 1 ? note.size() : kMaxLogNote - 1;
  note.copy(tLogNote, n);
  tLogNote[n] = 0;
}

std::string takeLogNote() {
  std::string note(tLogNote);
  tLogNote[0] = 0;
  return note;
}

// Text for one log line: bytes outside printable ASCII as \xNN, at most `limit` bytes.
std::string printable(const std::string& text, size_t limit = 300) {
  std::string out;
  for (unsigned char c : text.substr(0, limit)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", c);
      out += b;
    }
  }
  return text.size() > limit ? out + "..." : out;
}

// Sends a kept answer without copying it: the provider holds the answer while it is sent.
void sendKept(httplib::Response& res, const ResponsePtr& r) {
  res.set_content_provider(r->body.size(), r->contentType,
                           [r](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(r->body.data() + offset, length);
                           });
}

void setAnswer(httplib::Response& res, const ResponsePtr& answer, bool gzip) {
  const Response& r = *answer;
  res.status = r.status;
  res.set_header("Cache-Control", "no-store");
  setLogNote(r.logNote);
  if (!r.filePath.empty()) {
    // A frame's file, sent as it is in pieces: frames may be far larger than memory.
    auto in = std::make_shared<std::ifstream>(std::filesystem::u8path(r.filePath), std::ios::binary);
    if (!*in) {
      res.status = 404;
      res.set_content("{\"error\":\"the file cannot be opened\"}", "application/json");
      setLogNote(r.filePath + ": the file cannot be opened");
      return;
    }
    const std::string name = std::filesystem::u8path(r.filePath).filename().u8string();
    std::string safe;
    for (char c : name) safe += (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') ? c : '_';
    res.set_header("Content-Disposition", "attachment; filename=\"" + safe + "\"");
    res.set_content_provider(static_cast<size_t>(r.fileSize), r.contentType,
                             [in](size_t offset, size_t length, httplib::DataSink& sink) {
                               char buffer[65536];
                               in->seekg(static_cast<std::streamoff>(offset));
                               const size_t want = length < sizeof buffer ? length : sizeof buffer;
                               in->read(buffer, static_cast<std::streamsize>(want));
                               const std::streamsize got = in->gcount();
                               if (got <= 0) return false;  // the file was cut short meanwhile
                               return sink.write(buffer, static_cast<size_t>(got));
                             });
    return;
  }
  if (r.gzip) {
    res.set_header("Vary", "Accept-Encoding");
    if (gzip) {
      res.set_header("Content-Encoding", "gzip");
      sendKept(res, answer);
      return;
    }
    std::string plain;
    if (!gzipInflate(r.body, plain)) {
      res.status = 500;
      res.set_content("{\"error\":\"the answer cannot be inflated\"}", "application/json");
      setLogNote("a kept answer cannot be inflated");
      return;
    }
    res.set_content(plain, r.contentType);
    return;
  }
  if (r.body.size() > 65536) {
    sendKept(res, answer);
  } else {
    res.set_content(r.body, r.contentType);
  }
}

}  // namespace

struct HttpServer::Impl {
  FrameService& service;
  ServerOptions options;
  httplib::Server server;
  int port = -1;
  std::mutex logLock;

  Impl(FrameService& s, const ServerOptions& o) : service(s), options(o) {}

  void handle(const httplib::Request& req, httplib::Response& res) {
    tLogNote[0] = 0;
    const bool gzip = acceptsGzip(req.get_header_value("Accept-Encoding"));
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    const std::string host = req.get_header_value("Host");
    if (req.has_header("Host") && !hostAllowed(host, options.host, port)) {
      setAnswer(res, errorAnswer(403, "the Host '" + printable(host) + "' is not this server's"), gzip);
      return;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      setAnswer(res, errorAnswer(405, "method " + printable(req.method) + " not allowed"), gzip);
      res.set_header("Allow", "GET, HEAD");
      return;
    }
    Request request;
    int status = 0;
    std::string reason;
    if (!parseRequestTarget(req.target, request, status, reason)) {
      setAnswer(res, errorAnswer(status, reason), gzip);
      return;
    }
    if (request.route == Route::Page || request.route == Route::Asset) {
      const PageFile* f = findPageFile(request.route == Route::Page ? "index.html" : request.asset);
      if (!f) {
        setAnswer(res, errorAnswer(404, "no such file of the page"), gzip);
        return;
      }
      res.status = 200;
      // Everything the page uses comes from here: nothing from anywhere else.
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                     "connect-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'none'");
      res.set_header("Cache-Control", "no-cache");
      res.set_content(reinterpret_cast<const char*>(f->data), f->size, f->type);
      return;
    }
    setAnswer(res, service.respond(request), gzip);
  }

  void log(const httplib::Request& req, const httplib::Response& res) {
    const std::string note = takeLogNote();
    if (res.status < 400 && !options.verbose) return;
    std::string line = "nebview: " + std::to_string(res.status) + " " + printable(req.method) + " " +
                       printable(req.target.empty() ? req.path : req.target) + " from " + printable(req.remote_addr);
    if (res.status >= 400) line += ": " + (note.empty() ? std::string("refused") : printable(note, 4000));
    std::lock_guard<std::mutex> lock(logLock);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
};

HttpServer::HttpServer(FrameService& service, const ServerOptions& options) : impl_(new Impl(service, options)) {
  Impl* impl = impl_.get();
  const int threads = options.threads < 1 ? 1 : options.threads;
  impl->server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  impl->server.set_pre_routing_handler([impl](const httplib::Request& req, httplib::Response& res) {
    impl->handle(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });
  impl->server.set_logger([impl](const httplib::Request& req, const httplib::Response& res) { impl->log(req, res); });
  impl->server.set_payload_max_length(64 * 1024);
  impl->server.set_keep_alive_max_count(1000);
}

HttpServer::~HttpServer() = default;

bool HttpServer::bind(std::string& error) {
  Impl& i = *impl_;
  if (i.options.port == 0) {
    i.port = i.server.bind_to_any_port(i.options.host);
    if (i.port <= 0) {
      error = "cannot listen on " + i.options.host + " (any port)";
      return false;
    }
  } else if (!i.server.bind_to_port(i.options.host, i.options.port)) {
    error = "cannot listen on " + i.options.host + " port " + std::to_string(i.options.port) +
            " (in use, or not an address of this machine)";
    return false;
  } else {
    i.port = i.options.port;
  }
  return true;
}

int HttpServer::port() const { return impl_->port; }

bool HttpServer::run() { return impl_->server.listen_after_bind(); }

void HttpServer::stop() { impl_->server.stop(); }

}  // namespace NebView
