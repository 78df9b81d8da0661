// nebview's reading of what a caller sends: the raw request target (path and query), the
// Host header and the Accept-Encoding header, and the --listen address of its command
// line. The input is one text, given to each. A target taken is one of nebview's routes
// with every field in range and no byte that could name another path; one refused has a
// 4xx status and a reason. A loopback server takes only loopback host names.
#include <string>

#include "FuzzTarget.h"
#include "tools/nebview/GzipBody.h"
#include "tools/nebview/ListenAddress.h"
#include "tools/nebview/RequestTarget.h"

namespace {

using NebView::Request;
using NebView::RequestLimits;
using NebView::Route;

bool isAssetName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool lower = c >= 'a' && c <= 'z', digit = c >= '0' && c <= '9';
    if (i == dot) continue;
    if (i < dot ? !(lower || digit || c == '-' || c == '_') : !lower) return false;
  }
  return true;
}

void checkTaken(const std::string& target, const Request& r) {
  // Nothing a path could be spelled with beyond nebview's own bytes.
  if (target.empty() || target[0] != '/' || target.size() > RequestLimits::kTargetBytes) __builtin_trap();
  if (target.find("..") != std::string::npos || target.find("//") != std::string::npos) __builtin_trap();
  for (unsigned char c : target) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '-' ||
                         c == '_' || c == '?' || c == '&' || c == '=' || c == ',';
    if (!allowed) __builtin_trap();
  }
  const bool frameRoute = r.route == Route::Facts || r.route == Route::Volume || r.route == Route::Slice ||
                          r.route == Route::Particles || r.route == Route::File;
  if (frameRoute != (r.frame >= 0) || r.frame > RequestLimits::kFrameIndex) __builtin_trap();
  switch (r.route) {
    case Route::Page:
      if (target != "/") __builtin_trap();
      break;
    case Route::Asset:
      if (!isAssetName(r.asset) || target != "/app/" + r.asset) __builtin_trap();
      break;
    case Route::Volume:
      if (r.channels.empty() || r.channels.size() > static_cast<size_t>(RequestLimits::kVolumeChannels)) __builtin_trap();
      for (size_t i = 0; i < r.channels.size(); ++i) {
        if (r.channels[i] < 0 || r.channels[i] > 31) __builtin_trap();
        for (size_t j = 0; j < i; ++j)
          if (r.channels[i] == r.channels[j]) __builtin_trap();
      }
      if (r.cells < 1 || r.cells > RequestLimits::kCells || (r.bits != 8 && r.bits != 16)) __builtin_trap();
      break;
    case Route::Slice:
      if (r.channel < 0 || r.channel > 31 || r.axis < 0 || r.axis > 2 || r.index < 0 || r.index > INT32_MAX)
        __builtin_trap();
      break;
    case Route::Particles:
      if (r.group < 0 || r.group > INT32_MAX || r.maxParticles < 0 || r.maxParticles > RequestLimits::kParticles)
        __builtin_trap();
      break;
    case Route::Stats:
      if (r.from < 0 || r.from > RequestLimits::kFrameIndex) __builtin_trap();
      break;
    default:
      break;
  }
}

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

NEB_FUZZ_TARGET(nebview_request) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  Request request;
  int status = 0;
  std::string reason;
  if (NebView::parseRequestTarget(text, request, status, reason)) {
    checkTaken(text, request);
  } else if (status < 400 || status > 499 || reason.empty()) {
    __builtin_trap();
  }

  // Every name is taken by a server on another address; a loopback one takes loopback
  // names only, with its own port or none.
  if (!NebView::hostAllowed(text, "0.0.0.0", 8765)) __builtin_trap();
  if (NebView::hostAllowed(text, "127.0.0.1", 8765)) {
    const std::string host = lowered(text);
    const bool loopback = host.compare(0, 9, "localhost") == 0 || host.compare(0, 4, "127.") == 0 ||
                          host.compare(0, 5, "[::1]") == 0 || host == "::1";
    if (!loopback || host.find_first_of("/@ \t\r\n") != std::string::npos) __builtin_trap();
  }

  if (NebView::acceptsGzip(text) && text.find("gzip") == std::string::npos && text.find('*') == std::string::npos)
    __builtin_trap();

  std::string host = "127.0.0.1";
  int port = 8765;
  if (NebView::parseListen(text, host, port)) {
    if (host.empty() || port < 0 || port > 65535) __builtin_trap();
  }
  return 0;
}
