// Frame and Group of the Python module: views of a libnebloader frame as numpy arrays.
//
// A frame is held by a FrameHandle (one newINeb... reference, released by deleteINeb when
// the last holder goes). The Python Frame holds one until close(); every array that views
// the library's own channel buffer holds another through its base object, so such an
// array stays valid after close() or del of the frame.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "nebloader.h"

namespace NebPy {

namespace py = pybind11;

struct FrameHandle {
  INeb* frame;
  explicit FrameHandle(INeb* f) : frame(f) {}
  ~FrameHandle();
  FrameHandle(const FrameHandle&) = delete;
  FrameHandle& operator=(const FrameHandle&) = delete;
};
typedef std::shared_ptr<FrameHandle> FramePtr;

// Named grid channels: a scalar channel or a vector of three consecutive channels.
struct ChannelName {
  const char* name;
  int first;
  int components;  // 1 or 3
};
// Resolves a channel key (name or channel number); false when unknown.
bool lookupChannel(const std::string& name, ChannelName* out);
std::string channelName(int channel);
// Every known name, scalar and vector, in channel order (vectors before their components).
py::list channelNames();

// Raises nebloader.CacheError(message + reason) with attributes `path` and `report`.
[[noreturn]] void raiseCacheError(const std::string& message, const std::string& path, int64_t reportMark);
void setCacheErrorType(py::object type);

class Group {
 public:
  Group(FramePtr owner, IOstranePrtGroup* group) : owner_(std::move(owner)), group_(group) {}
  std::string name() const;
  int count() const;
  py::list slots() const;
  py::object channel(int slot) const;
  py::object optionalChannel(int slot) const;
  py::object find(long long id) const;
  std::string repr() const;

 private:
  FramePtr owner_;
  IOstranePrtGroup* group_;
};

class Frame {
 public:
  Frame(INeb* frame, std::string path, bool headerOnly)
      : handle_(std::make_shared<FrameHandle>(frame)), path_(std::move(path)), headerOnly_(headerOnly) {}

  void close() { handle_.reset(); }
  bool closed() const { return !handle_; }
  const std::string& path() const { return path_; }
  bool headerOnly() const { return headerOnly_; }

  py::tuple gridSize() const;
  py::array worldToIndex() const;
  py::array indexToWorld() const;
  py::list channels() const;
  bool contains(const py::object& key) const;
  py::object item(const py::object& key) const;
  py::object channel(int number) const;
  py::list groups() const;
  py::object group(const std::string& name) const;
  std::string repr() const;

 private:
  // A reference of its own: close() on another thread while the GIL is released must not
  // pull the frame away from under a read.
  FramePtr live() const;
  py::object scalar(int channel, const std::string& name) const;
  py::object vector(const ChannelName& named) const;

  FramePtr handle_;
  std::string path_;
  bool headerOnly_;
};

}  // namespace NebPy
