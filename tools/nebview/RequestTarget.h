// What a request asks nebview for, read from the raw request target (path and query as
// the browser sent them, before any percent-decoding). nebview's own URLs use nothing but
// unreserved ASCII, so a '%', a "." or ".." segment, an empty segment, a backslash or any
// byte outside the grammar below is refused, never decoded: no spelling of a path can name
// anything but the routes listed here. Pure text handling; no file or library is touched
// (the frame index is checked against the sequence by the caller).
//
//   /                                    the page
//   /app/NAME                            a file of the page; NAME is [a-z0-9_-]+ '.' [a-z]+
//   /api/sequence                        the frames of the sequence and the defaults
//   /api/stats[?from=K]                  per-frame statistics computed so far, from entry K
//   /api/frame/I/facts                   what nebinfo --json says about frame I (0-based)
//   /api/frame/I/volume?channels=C[,C]...&cells=N[&bits=8|16]
//   /api/frame/I/slice?channel=C&axis=x|y|z&index=K
//   /api/frame/I/particles?group=G[&max=N]
//   /api/frame/I/file                    the frame's file itself
//
// Numbers are plain decimal digits (no sign, no leading '+', at most 10 digits) within the
// bounds in RequestLimits; channels are 0..31, at most 8 of them and none twice. A query
// key must be one its route knows, and given once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace NebView {

enum class Route { Page, Asset, Sequence, Stats, Facts, Volume, Slice, Particles, File };

struct RequestLimits {
  static const size_t kTargetBytes = 1024;
  static const int64_t kFrameIndex = 9999999;
  static const int64_t kCells = int64_t(1) << 30;  // 1024^3 cells shown at the most
  static const int64_t kParticles = int64_t(1) << 30;
  static const int kVolumeChannels = 8;
};

struct Request {
  Route route = Route::Page;
  std::string asset;          // Asset: the name after /app/
  int64_t frame = -1;         // frame routes: the index in the sequence
  std::vector<int> channels;  // Volume
  int64_t cells = 0;          // Volume: the most cells per channel
  int bits = 8;               // Volume: 8 or 16 bits per quantised value
  int channel = -1;           // Slice
  int axis = 2;               // Slice: 0 x, 1 y, 2 z (the plane across that axis)
  int64_t index = 0;          // Slice: the layer along the axis
  int64_t group = -1;         // Particles: index among the frame's stored groups
  int64_t maxParticles = 0;   // Particles: 0 for every particle
  int64_t from = 0;           // Stats
};

// True with `out` filled for a target of the grammar above. False with the HTTP status
// (400 malformed, 404 no such route) and a one-line reason for the log.
bool parseRequestTarget(const std::string& target, Request& out, int& status, std::string& reason);

// Whether a request's Host header names this server. A server on a loopback address
// (127.0.0.0/8, ::1, localhost) answers only to those names and its own port, so that no
// web site can reach it under a name of its own that resolves to this machine (DNS
// rebinding); a server on any other address answers to every name.
bool hostAllowed(const std::string& host, const std::string& boundHost, int port);

}  // namespace NebView
